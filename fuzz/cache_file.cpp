// The cache file reader and the alert document built from a cache file:
// the input is a "KX_*.tmp" file as a damaged disk or another process may
// have left it.
#include <memory>
#include <string>
#include <string_view>

#include "FuzzMachine.h"
#include "FuzzText.h"
#include "alertlog/XMLAlertLog.h"

namespace {

// An alert log without its workers, as the send worker's code uses it.
class CQuietAlertLog : public CXMLAlertLog {
public:
    CQuietAlertLog() : CXMLAlertLog(Workers::NotStarted) {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kx::fuzz::FuzzMachineFolder();
    static CQuietAlertLog alertLog;
    const std::filesystem::path path =
        std::filesystem::path(alertLog.CacheDirectory()) / "KX_FUZZ.tmp";
    kx::fuzz::WriteFuzzFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
    std::wstring text;
    uint32_t error = 0;
    try {
        if (alertLog.BuildAlertDocument(path.wstring(), &text, &error)) {
            KX_FUZZ_CHECK(!text.empty());
        }
    } catch (...) {
        // The send worker passes such a file over, as it does here.
    }
    return 0;
}
