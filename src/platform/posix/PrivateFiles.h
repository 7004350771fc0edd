#pragma once
// What the agent keeps on disk is its own: a file it makes is open to its
// owner alone (0600), a folder it makes likewise (0700). A file that another
// user may open is also one that user may lock (flock takes a read-only
// descriptor), which would stall every writer that waits for the lock.

#include <string>

namespace kx::platform {

// Makes the folder and the parents it lacks, each new one 0700; folders that
// exist are left as they are. false (errno set) when one cannot be made.
bool CreatePrivateFolders(const std::string& path);

// open(2) with O_CLOEXEC, a new file 0600. An existing file opened for
// writing that others may open (made by an older version) is narrowed to its
// owner's bits, so that no one else opens it from then on.
int OpenPrivateFile(const std::string& path, int flags);

}  // namespace kx::platform
