#pragma once
// A failure that ends the tool with a message and an exit code.

#include <stdexcept>
#include <string>

#include "common/Text.h"

inline constexpr int kExitFailure = 1;  // an operation or an input file failed
inline constexpr int kExitUsage = 2;    // the command line is wrong

class CToolError : public std::runtime_error {
public:
    CToolError(int exitCode, const std::wstring& message)
        : std::runtime_error(kx::WideToUtf8(message)), exitCode_(exitCode) {}
    int ExitCode() const { return exitCode_; }

private:
    int exitCode_;
};
