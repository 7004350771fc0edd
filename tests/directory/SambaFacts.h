#pragma once
// What the Samba fixture (tools/sambadc/sambadc.py) wrote about the objects it
// made: "key=value" lines of the file named by KX_SAMBA_FACTS.

#include <cstdint>
#include <map>
#include <string>

class CSambaFacts {
public:
    static constexpr const char* kNotAvailable =
        "no Samba domain controller: run through ctest (kx_test_directory.samba.start)";
    CSambaFacts();
    bool Available() const { return !facts_.empty(); }
    // The value of a key, or empty.
    std::wstring operator[](const std::string& key) const;
    // A "YYYYMMDDHHMMSS" value as seconds since 1970 (UTC).
    int64_t Time(const std::string& key) const;

private:
    std::map<std::string, std::wstring> facts_;
};
