#include "platform/ComputerName.h"

#include <netdb.h>
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

std::wstring GetLocalDnsDomain() {
    if (const char* domain = std::getenv("KX_DNS_DOMAIN")) return Utf8ToWide(domain);
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return std::wstring();
    std::string name(host);
    if (name.find('.') == std::string::npos) {
        addrinfo hints{};
        hints.ai_flags = AI_CANONNAME;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &found) == 0 && found) {
            if (found->ai_canonname) name = found->ai_canonname;
            freeaddrinfo(found);
        }
    }
    const std::size_t dot = name.find('.');
    return dot == std::string::npos ? std::wstring() : Utf8ToWide(name.substr(dot + 1));
}

}  // namespace kx::platform
