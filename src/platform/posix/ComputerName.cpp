#include "platform/ComputerName.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/Text.h"

namespace kx::platform {

std::wstring GetLocalComputerName() {
    if (const char* name = std::getenv("KX_COMPUTER_NAME"); name && *name) return Utf8ToWide(name);
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return std::wstring();
    std::string label(host);
    label = label.substr(0, label.find('.'));
    if (label.size() > 15) label.resize(15);
    return ToUpper(Utf8ToWide(label));
}

}  // namespace kx::platform
