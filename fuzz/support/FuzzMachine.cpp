#include "FuzzMachine.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/MachineRoot.h"
#include "platform/Process.h"

namespace kx::fuzz {

namespace {

std::filesystem::path MakeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kxfuzz.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    std::filesystem::path folder(pattern);
    std::filesystem::create_directories(folder / "machine");
    std::filesystem::create_directories(folder / "agent");
    kx::platform::SetMachineRootForTesting((folder / "machine").wstring());
    kx::platform::SetExecutablePathForTesting((folder / "agent" / "KXWkstnSvc.exe").wstring());
    return folder;
}

struct Machine {
    std::filesystem::path folder = MakeFolder();
    ~Machine() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

}  // namespace

const std::filesystem::path& FuzzMachineFolder() {
    static Machine machine;
    return machine.folder;
}

void WriteFuzzFile(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace kx::fuzz
