#include "BaseClasses/LogFile.h"

#include "platform/Files.h"

CLogFile::~CLogFile() {
    bool wasOpen = IsOpen();
    Close();
    if (wasOpen && !written_) kx::platform::DeleteFileByPath(path_);
}

// Create and truncate, write only, deny none: the file is emptied at every
// start. What the agent logs is for administrators only.
bool CLogFile::OpenForLogging() {
    return Open(path_, modeCreate | modeWrite | shareDenyNone, kx::platform::FileAccess::Private);
}
