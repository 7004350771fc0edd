#pragma once

#include <string>

// The path of a message file that tests/data/messages builds (such as
// L"kx_event_messages.dll"), found from the executable's folder: test
// executables live in tests/ or tests/<folder>/ of the build, benchmarks in
// benchmarks/.
std::wstring TestMessageFilePath(const std::wstring& fileName);

// The folder of the running test executable (not the one a test points the
// agent at with SetExecutablePathForTesting).
std::wstring TestExecutableFolder();
