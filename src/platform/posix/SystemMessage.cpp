#include "platform/SystemMessage.h"

namespace kx::platform {
namespace {

struct SystemText {
    uint32_t code;
    const wchar_t* text;
};

// The system texts of the error codes that the agent meets, worded as Windows
// words them (with the trailing line end that FormatMessageW returns; inserts
// such as %1 stay, as with FORMAT_MESSAGE_IGNORE_INSERTS). Sorted by code.
constexpr SystemText kSystemTexts[] = {
    {0, L"The operation completed successfully.\r\n"},
    {1, L"Incorrect function.\r\n"},
    {2, L"The system cannot find the file specified.\r\n"},
    {3, L"The system cannot find the path specified.\r\n"},
    {4, L"The system cannot open the file.\r\n"},
    {5, L"Access is denied.\r\n"},
    {6, L"The handle is invalid.\r\n"},
    {8, L"Not enough memory resources are available to process this command.\r\n"},
    {12, L"The access code is invalid.\r\n"},
    {13, L"The data is invalid.\r\n"},
    {14, L"Not enough memory resources are available to complete this operation.\r\n"},
    {15, L"The system cannot find the drive specified.\r\n"},
    {18, L"There are no more files.\r\n"},
    {21, L"The device is not ready.\r\n"},
    {31, L"A device attached to the system is not functioning.\r\n"},
    {32, L"The process cannot access the file because it is being used by another process.\r\n"},
    {38, L"Reached the end of the file.\r\n"},
    {50, L"The request is not supported.\r\n"},
    {53, L"The network path was not found.\r\n"},
    {64, L"The specified network name is no longer available.\r\n"},
    {67, L"The network name cannot be found.\r\n"},
    {80, L"The file exists.\r\n"},
    {87, L"The parameter is incorrect.\r\n"},
    {112, L"There is not enough space on the disk.\r\n"},
    {120, L"This function is not supported on this system.\r\n"},
    {122, L"The data area passed to a system call is too small.\r\n"},
    {126, L"The specified module could not be found.\r\n"},
    {160, L"One or more arguments are not correct.\r\n"},
    {183, L"Cannot create a file when that file already exists.\r\n"},
    {193, L"%1 is not a valid Win32 application.\r\n"},
    {206, L"The filename or extension is too long.\r\n"},
    {234, L"More data is available.\r\n"},
    {259, L"No more data is available.\r\n"},
    {267, L"The directory name is invalid.\r\n"},
    {317,
     L"The system cannot find message text for message number 0x%1 in the message file for "
     L"%2.\r\n"},
    {487, L"Attempt to access invalid address.\r\n"},
    {997, L"Overlapped I/O operation is in progress.\r\n"},
    {998, L"Invalid access to memory location.\r\n"},
    {1008, L"An attempt was made to reference a token that does not exist.\r\n"},
    {1052, L"The requested control is not valid for this service.\r\n"},
    {1053, L"The service did not respond to the start or control request in a timely fashion.\r\n"},
    {1055, L"The service database is locked.\r\n"},
    {1056, L"An instance of the service is already running.\r\n"},
    {1058,
     L"The service cannot be started, either because it is disabled or because it has no enabled "
     L"devices associated with it.\r\n"},
    {1060, L"The specified service does not exist as an installed service.\r\n"},
    {1061, L"The service cannot accept control messages at this time.\r\n"},
    {1062, L"The service has not been started.\r\n"},
    {1063, L"The service process could not connect to the service controller.\r\n"},
    {1065, L"The database specified does not exist.\r\n"},
    {1066, L"The service has returned a service-specific error code.\r\n"},
    {1067, L"The process terminated unexpectedly.\r\n"},
    {1069, L"The service did not start due to a logon failure.\r\n"},
    {1072, L"The specified service has been marked for deletion.\r\n"},
    {1073, L"The specified service already exists.\r\n"},
    {1083,
     L"The executable program that this service is configured to run in does not implement the "
     L"service.\r\n"},
    {1168, L"Element not found.\r\n"},
    {1317, L"The specified account does not exist.\r\n"},
    {1326, L"The user name or password is incorrect.\r\n"},
    {1332, L"No mapping between account names and security IDs was done.\r\n"},
    {1337, L"The security ID structure is invalid.\r\n"},
    {1355, L"The specified domain either does not exist or could not be contacted.\r\n"},
    {1376, L"The specified local group does not exist.\r\n"},
    {1460, L"This operation returned because the timeout period expired.\r\n"},
    {1500, L"The event log file is corrupted.\r\n"},
    {1503, L"The event log file has changed between read operations.\r\n"},
    {1722, L"The RPC server is unavailable.\r\n"},
    {1726, L"The remote procedure call failed.\r\n"},
    {1812, L"The specified image file did not contain a resource section.\r\n"},
    {1813, L"The specified resource type cannot be found in the image file.\r\n"},
    {1814, L"The specified resource name cannot be found in the image file.\r\n"},
    {1815, L"The specified resource language ID cannot be found in the image file.\r\n"},
    {4336, L"The message provided exceeds the maximum size allowed for this parameter.\r\n"},
    {0x80004001, L"Not implemented\r\n"},
    {0x80004002, L"No such interface supported\r\n"},
    {0x80004005, L"Unspecified error\r\n"},
    {0x80070005, L"Access is denied.\r\n"},
    {0x8007000E, L"Not enough memory resources are available to complete this operation.\r\n"},
    {0x80070057, L"The parameter is incorrect.\r\n"},
};

}  // namespace

std::wstring GetSystemErrorText(uint32_t code) {
    for (const SystemText& entry : kSystemTexts) {
        if (entry.code == code) return entry.text;
    }
    return std::wstring();
}

}  // namespace kx::platform
