// Holds a cache file open exclusively, as a flush in another process would:
//   kx_cache_file_holder FILE READY RELEASE
// opens FILE, creates READY, and lets go once RELEASE exists (at most a minute).
#include <cstdio>

#include "common/Text.h"
#include "platform/ExclusiveFile.h"
#include "platform/Files.h"
#include "platform/Time.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    kx::platform::CExclusiveFile file;
    if (file.Open(kx::Utf8ToWide(argv[1]), kx::platform::ExclusiveAccess::OpenForReadWrite) != 0)
        return 1;
    std::FILE* ready = std::fopen(argv[2], "wb");
    if (!ready) return 1;
    std::fclose(ready);
    const std::wstring release = kx::Utf8ToWide(argv[3]);
    for (int wait = 0; wait < 12000 && !kx::platform::FileExists(release); ++wait)
        kx::platform::SleepMilliseconds(5);
    return 0;
}
