#include "BenchMachine.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/Text.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/Process.h"
#include "platform/Registry.h"

CBenchMachine::CBenchMachine(const std::string& folderPrefix) {
    folder_ =
        std::filesystem::temp_directory_path() / (folderPrefix + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ / "bin");
    setenv("KX_MACHINE_ROOT", (folder_ / "root").c_str(), 1);
    setenv("KX_DNS_DOMAIN", "corp.example.test", 1);
    kx::platform::SetExecutablePathForTesting(
        kx::Utf8ToWide((folder_ / "bin/KXWkstnSvc").string()));
    std::ifstream in(KX_DEFINITIONS_DOCUMENT, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    CWorkstationEventDefinitions::WriteLocalDefinitions(kx::Utf8ToWide(text.str()));
    SetEDVersion(L"1");
    CRegistryKey policy;
    policy.SetRoot(kx::platform::kHkeyLocalMachine);
    policy.Open(kPolicySettingsKey, true);
    policy.WriteString(L"KFSServer", L"127.0.0.1");
    policy.WriteString(L"KFSPort", std::to_wstring(sink_.Port()));
    policy.WriteDword(L"EnableWorkstationAuditAgent", 1);
}

CBenchMachine::~CBenchMachine() {
    std::filesystem::remove_all(folder_);
}
