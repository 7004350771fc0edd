// The ".reg" parser, over the registry files of the Linux registry and the
// files that the operator tool imports. A file it accepts must come back
// unchanged through the writer, since the registry rewrites its files so.
#include <string_view>
#include <vector>

#include "FuzzText.h"
#include "common/RegFile.h"

namespace {

bool SameKeys(const std::vector<kx::RegFileKey>& a, const std::vector<kx::RegFileKey>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k].path != b[k].path || a[k].remove != b[k].remove ||
            a[k].values.size() != b[k].values.size())
            return false;
        for (std::size_t v = 0; v < a[k].values.size(); ++v) {
            const kx::RegFileValue& x = a[k].values[v];
            const kx::RegFileValue& y = b[k].values[v];
            if (x.name != y.name || x.type != y.type || x.data != y.data || x.remove != y.remove)
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<kx::RegFileKey> keys;
    kx::RegFileError error;
    if (!kx::ParseRegFile(bytes, &keys, &error)) return 0;
    const std::string written = kx::FormatRegFile(keys);
    std::vector<kx::RegFileKey> again;
    KX_FUZZ_CHECK(kx::ParseRegFile(written, &again, &error));
    KX_FUZZ_CHECK(SameKeys(keys, again));
    return 0;
}
