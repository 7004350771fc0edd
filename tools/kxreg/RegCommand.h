#pragma once
// The commands of kxreg, in the manner of reg.exe:
//   query KEY [/v NAME | /ve] [/s]
//   add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   delete KEY [/v NAME | /ve | /va] [/f]
//   export KEY FILE [/y]
//   import FILE
//   policy [/enable | /disable] [/server NAME] [/port PORT] [/https | /http] [/ca FILE]
// Output and errors are collected as text; the result is the exit code
// (0 success, 1 failure).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Registry.h"

class CRegCommand {
public:
    int Run(const std::vector<std::wstring>& args);
    const std::wstring& Output() const { return output_; }
    const std::wstring& Errors() const { return errors_; }

private:
    struct Options {
        std::vector<std::wstring> positional;
        std::map<std::wstring, std::wstring> named;  // lower-case name without "/"
        bool Has(const std::wstring& name) const { return named.count(name) > 0; }
        std::wstring Get(const std::wstring& name) const;
    };

    bool ParseOptions(const std::vector<std::wstring>& args, const std::vector<std::wstring>& flags,
                      const std::vector<std::wstring>& withValue, std::size_t positionalCount,
                      Options* options);
    int Query(const std::vector<std::wstring>& args);
    int Add(const std::vector<std::wstring>& args);
    int Delete(const std::vector<std::wstring>& args);
    int Export(const std::vector<std::wstring>& args);
    int Import(const std::vector<std::wstring>& args);
    int Policy(const std::vector<std::wstring>& args);
    using PolicyValues = std::vector<std::pair<std::wstring, std::pair<uint32_t, std::string>>>;
    bool ChannelValues(const Options& options, PolicyValues* values);
    int Usage(const std::wstring& problem);

    int QueryKey(kx::platform::RegistryKeyHandle key, const std::wstring& path, bool recursive);
    void PrintValue(const kx::platform::RegistryValue& value);
    bool MakeData(const std::wstring& type, const std::wstring& data, const std::wstring& separator,
                  uint32_t* typeCode, std::string* bytes);
    int Fail(uint32_t code);
    int Fail(const std::wstring& message);
    bool Reject(const std::wstring& problem);  // usage error, for the option parsers
    bool Refuse(const std::wstring& message);  // data error, for the option parsers
    uint32_t OpenKey(const std::wstring& path, uint32_t access,
                     kx::platform::RegistryKeyHandle* key, bool create);

    std::wstring output_;
    std::wstring errors_;
};
