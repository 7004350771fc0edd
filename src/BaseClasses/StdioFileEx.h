#pragma once
// A text file that writes straight to its handle: UTF-16LE with a byte-order
// mark when opened with the Unicode flag, else the thread's ANSI code page.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/Files.h"

class CStdioFileEx {
public:
    // Open flags, numbered as the platform's file class numbers them.
    enum OpenFlags : uint32_t {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeBinary = 0x8000,
        modeUnicode = 0x20000,
    };

    CStdioFileEx() = default;
    virtual ~CStdioFileEx();
    CStdioFileEx(const CStdioFileEx&) = delete;
    CStdioFileEx& operator=(const CStdioFileEx&) = delete;

    // access: who may open a file that the open creates or writes.
    bool Open(const std::wstring& path, uint32_t flags,
              kx::platform::FileAccess access = kx::platform::FileAccess::Inherited);
    bool IsOpen() const { return file_ != nullptr; }
    // True when the stream was opened in binary mode (an existing file that
    // begins with FF FE, or the Unicode flag given).
    bool IsBinary() const { return binary_; }
    bool WriteString(std::wstring_view text);
    // Reads one line without its CR LF, CR or LF; false at the end of the file.
    bool ReadString(std::wstring& line);
    void Flush();
    void Close();

private:
    bool ReadUnicodeLine(std::wstring& line);
    bool ReadAnsiLine(std::wstring& line);

    std::FILE* file_ = nullptr;
    bool unicode_ = false;
    bool binary_ = false;
};
