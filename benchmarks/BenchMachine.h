#pragma once
// A machine of a benchmark's own: a folder under the temporary folder with
// the machine root and the executable's folder, the realistic definitions
// as the local copy, the policy pointing at a local sink, the agent enabled.

#include <filesystem>
#include <string>

#include "LocalHttpSink.h"

class CBenchMachine {
public:
    // folderPrefix names the folder (the process id follows).
    explicit CBenchMachine(const std::string& folderPrefix);
    ~CBenchMachine();
    CBenchMachine(const CBenchMachine&) = delete;
    CBenchMachine& operator=(const CBenchMachine&) = delete;
    const CLocalHttpSink& Sink() const { return sink_; }

private:
    std::filesystem::path folder_;
    CLocalHttpSink sink_;
};
