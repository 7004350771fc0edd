// LDAP paths and distinguished names as records and directory answers
// carry them: CLdapPath set every way and read back in every format, the
// distinguished-name split, and CADsPathname's rewrites that property rules
// make.
#include <string>
#include <string_view>
#include <vector>

#include "BaseClasses/ADsPathname.h"
#include "FuzzText.h"
#include "common/LdapPath.h"

namespace {

using kx::platform::PathFormat;
using kx::platform::PathSetType;

void ReadEveryWay(CLdapPath& path) {
    std::wstring text;
    for (uint32_t format = 1; format <= 11; ++format) {
        path.Retrieve(static_cast<PathFormat>(format), text);
    }
    long count = 0;
    if (path.GetNumElements(count) != 0) return;
    KX_FUZZ_CHECK(count >= 0);
    for (long index = -1; index <= count; ++index) path.GetElement(index, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::wstring text = kx::fuzz::DecodeFuzzText(
        std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), data[0]);
    const auto type = static_cast<PathSetType>(1 + (data[0] >> 2) % 4);

    CLdapPath path;
    if (path.Set(text, type) == 0) {
        ReadEveryWay(path);
        while (path.RemoveLeafElement() == 0) ReadEveryWay(path);
    }
    std::vector<std::wstring> elements;
    if (CLdapPath::SplitDn(text, elements)) {
        for (const std::wstring& element : elements) {
            KX_FUZZ_CHECK(!element.empty() && element.find(L'=') != std::wstring::npos);
        }
    }

    CADsPathname pathname(text, false);
    (void)pathname.GetDn();
    (void)pathname.GetDomainFromPath();
    (void)pathname.ParentOf(text);
    pathname.SetServer(text);
    if (pathname.RemoveLeaf()) (void)pathname.GetDn();
    return 0;
}
