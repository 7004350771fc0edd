#include "platform/MessageResources.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/CodePage.h"

namespace kx::platform {
namespace {

// FormatMessageW's argument array reads as many entries as the message
// names, however few the caller has, and reads an entry as a pointer or as a
// number as the message's directive says. This array has an entry for
// every insert the message reads ("%<number>" texts past the caller's) and
// puts into each what the directive reads, so nothing is read past the
// array and no number is taken for a text's address.
class ArgumentArray {
public:
    ArgumentArray(std::wstring_view format, std::span<const std::wstring> inserts) {
        const MessageInsertScan scan = ScanMessageInserts(format);
        // One entry more: on 32-bit Windows a 64-bit directive reads two.
        const std::size_t count = std::max<std::size_t>(scan.highest, inserts.size()) + 1;
        texts_.resize(count);
        ansiTexts_.resize(count);
        values_.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned number = static_cast<unsigned>(i + 1);
            texts_[i] = number <= inserts.size() ? inserts[i] : MissingInsertText(number);
            const uint8_t readings = number < scan.readings.size() ? scan.readings[number] : 0;
            values_[i] = Entry(i, scan.readsWidthFromInsert ? 0 : readings);
        }
    }

    va_list* Arguments() { return reinterpret_cast<va_list*>(values_.data()); }

private:
    DWORD_PTR Entry(std::size_t index, uint8_t readings) {
        constexpr uint8_t kNumeric = static_cast<uint8_t>(InsertReading::Number) |
                                     static_cast<uint8_t>(InsertReading::Character);
        if (readings != 0 && (readings & ~kNumeric) == 0) {
            InsertReading reading = readings == static_cast<uint8_t>(InsertReading::Character)
                                        ? InsertReading::Character
                                        : InsertReading::Number;
            return static_cast<DWORD_PTR>(InsertNumber(texts_[index], reading));
        }
        if (readings == static_cast<uint8_t>(InsertReading::AnsiText)) {
            ansiTexts_[index] = WideToAnsi(texts_[index]);
            return reinterpret_cast<DWORD_PTR>(ansiTexts_[index].c_str());
        }
        // Texts, mixed readings, and widths taken from inserts (whose entry
        // order is the platform's business) all get a text's address: a
        // wrong reading then shows a wrong number, never reads astray.
        return reinterpret_cast<DWORD_PTR>(texts_[index].c_str());
    }

    std::vector<std::wstring> texts_;
    std::vector<std::string> ansiTexts_;
    std::vector<DWORD_PTR> values_;
};

uint32_t Finish(DWORD length, wchar_t* buffer, std::wstring& text) {
    uint32_t error = 0;
    if (length > 0 && buffer) {
        text.assign(buffer, length);
    } else {
        error = GetLastError();
        if (error == 0) error = kMessageErrorEmptyText;
    }
    if (buffer) LocalFree(buffer);
    if (error) SetLastError(error);
    return error;
}

uint32_t FormatFromModule(HMODULE module, uint32_t messageId, DWORD insertFlag, va_list* arguments,
                          std::wstring& text) {
    wchar_t* buffer = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | insertFlag,
                       module, messageId, 0, reinterpret_cast<wchar_t*>(&buffer), 0, arguments);
    return Finish(length, buffer, text);
}

uint32_t FormatFromString(const std::wstring& format, DWORD insertFlag, va_list* arguments,
                          std::wstring& text) {
    wchar_t* buffer = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | insertFlag,
                       format.c_str(), 0, 0, reinterpret_cast<wchar_t*>(&buffer), 0, arguments);
    return Finish(length, buffer, text);
}

}  // namespace

MessageModuleHandle LoadMessageModule(const std::wstring& path) {
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return reinterpret_cast<MessageModuleHandle>(module);
}

void FreeMessageModule(MessageModuleHandle module) {
    if (module) FreeLibrary(reinterpret_cast<HMODULE>(module));
}

uint32_t FormatModuleMessage(MessageModuleHandle module, uint32_t messageId,
                             InsertHandling handling, std::span<const std::wstring> inserts,
                             std::wstring& text) {
    HMODULE handle = reinterpret_cast<HMODULE>(module);
    if (handling == InsertHandling::Ignore) {
        return FormatFromModule(handle, messageId, FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, text);
    }
    // The message as written tells which inserts it reads, and how.
    std::wstring format;
    if (uint32_t error =
            FormatFromModule(handle, messageId, FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, format)) {
        return error;
    }
    ArgumentArray arguments(format, inserts);
    return FormatFromModule(handle, messageId, FORMAT_MESSAGE_ARGUMENT_ARRAY, arguments.Arguments(),
                            text);
}

uint32_t FormatStringMessage(std::wstring_view format, InsertHandling handling,
                             std::span<const std::wstring> inserts, std::wstring& text) {
    const std::wstring terminated(format);
    if (handling == InsertHandling::Ignore) {
        return FormatFromString(terminated, FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, text);
    }
    ArgumentArray arguments(terminated, inserts);
    return FormatFromString(terminated, FORMAT_MESSAGE_ARGUMENT_ARRAY, arguments.Arguments(), text);
}

}  // namespace kx::platform
