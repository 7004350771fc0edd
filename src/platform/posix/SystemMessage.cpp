#include "platform/SystemMessage.h"

namespace kx::platform {
namespace {

struct SystemText {
    uint32_t code;
    const wchar_t* text;
};

// The system texts of the error codes that the agent meets, worded as Windows
// words them (with the trailing line end that FormatMessageW returns).
constexpr SystemText kSystemTexts[] = {
    {0, L"The operation completed successfully.\r\n"},
    {1, L"Incorrect function.\r\n"},
    {2, L"The system cannot find the file specified.\r\n"},
    {3, L"The system cannot find the path specified.\r\n"},
    {5, L"Access is denied.\r\n"},
    {6, L"The handle is invalid.\r\n"},
    {8, L"Not enough memory resources are available to process this command.\r\n"},
    {13, L"The data is invalid.\r\n"},
    {14, L"Not enough memory resources are available to complete this operation.\r\n"},
    {31, L"A device attached to the system is not functioning.\r\n"},
    {32, L"The process cannot access the file because it is being used by another process.\r\n"},
    {38, L"Reached the end of the file.\r\n"},
    {53, L"The network path was not found.\r\n"},
    {80, L"The file exists.\r\n"},
    {87, L"The parameter is incorrect.\r\n"},
    {112, L"There is not enough space on the disk.\r\n"},
    {122, L"The data area passed to a system call is too small.\r\n"},
    {160, L"One or more arguments are not correct.\r\n"},
    {206, L"The filename or extension is too long.\r\n"},
    {234, L"More data is available.\r\n"},
    {259, L"No more data is available.\r\n"},
    {317,
     L"The system cannot find message text for message number 0x%1 in the message file for "
     L"%2.\r\n"},
    {1060, L"The specified service does not exist as an installed service.\r\n"},
    {1062, L"The service has not been started.\r\n"},
    {1063, L"The service process could not connect to the service controller.\r\n"},
    {1073, L"The specified service already exists.\r\n"},
    {1332, L"No mapping between account names and security IDs was done.\r\n"},
    {1337, L"The security ID structure is invalid.\r\n"},
};

}  // namespace

std::wstring GetSystemErrorText(uint32_t code) {
    for (const SystemText& entry : kSystemTexts) {
        if (entry.code == code) return entry.text;
    }
    return std::wstring();
}

}  // namespace kx::platform
