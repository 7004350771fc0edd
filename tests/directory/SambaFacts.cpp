#include "SambaFacts.h"

#include <cstdlib>
#include <fstream>

#include "common/SystemTime.h"
#include "common/Text.h"

CSambaFacts::CSambaFacts() {
    const char* path = std::getenv("KX_SAMBA_FACTS");
    if (!path) return;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            facts_[line.substr(0, equals)] = kx::Utf8ToWide(line.substr(equals + 1));
    }
}

std::wstring CSambaFacts::operator[](const std::string& key) const {
    auto found = facts_.find(key);
    return found == facts_.end() ? L"" : found->second;
}

int64_t CSambaFacts::Time(const std::string& key) const {
    const std::string text = kx::WideToUtf8((*this)[key]);
    if (text.size() < 14) return 0;
    kx::SystemTime time;
    time.year = static_cast<uint16_t>(std::stoi(text.substr(0, 4)));
    time.month = static_cast<uint16_t>(std::stoi(text.substr(4, 2)));
    time.day = static_cast<uint16_t>(std::stoi(text.substr(6, 2)));
    time.hour = static_cast<uint16_t>(std::stoi(text.substr(8, 2)));
    time.minute = static_cast<uint16_t>(std::stoi(text.substr(10, 2)));
    time.second = static_cast<uint16_t>(std::stoi(text.substr(12, 2)));
    return kx::SystemTimeToUnixMilliseconds(time) / 1000;
}
