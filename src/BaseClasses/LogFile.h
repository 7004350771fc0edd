#pragma once

#include <string>

#include "BaseClasses/StdioFileEx.h"

// The diagnostic log's file. A run that wrote no line leaves no file: the
// destructor deletes the file unless a line was written.
class CLogFile : public CStdioFileEx {
public:
    explicit CLogFile(std::wstring path) : path_(std::move(path)) {}
    ~CLogFile() override;

    bool OpenForLogging();
    const std::wstring& GetPath() const { return path_; }
    void MarkWritten() { written_ = true; }
    bool WasWritten() const { return written_; }

private:
    std::wstring path_;
    bool written_ = false;
};
