#include "BaseClasses/StdioFileEx.h"

#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/Files.h"

namespace {

bool BeginsWithByteOrderMark(const std::wstring& path) {
    std::FILE* file = kx::platform::OpenFileStream(path, L"rb");
    if (!file) return false;
    unsigned char mark[2] = {0, 0};
    bool marked = std::fread(mark, 1, 2, file) == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
    std::fclose(file);
    return marked;
}

bool IsEmptyFile(const std::wstring& path) {
    std::FILE* file = kx::platform::OpenFileStream(path, L"rb");
    if (!file) return false;
    bool empty = std::fgetc(file) == EOF;
    std::fclose(file);
    return empty;
}

// The stream is always binary underneath: writes bypass newline translation.
const wchar_t* StreamMode(uint32_t flags, bool exists) {
    bool write = flags & (CStdioFileEx::modeWrite | CStdioFileEx::modeReadWrite);
    if (!write) return L"rb";
    if (flags & CStdioFileEx::modeCreate) {
        if (!(flags & CStdioFileEx::modeNoTruncate) || !exists) {
            return (flags & CStdioFileEx::modeReadWrite) ? L"w+b" : L"wb";
        }
    }
    return L"r+b";
}

}  // namespace

CStdioFileEx::~CStdioFileEx() {
    Close();
}

bool CStdioFileEx::Open(const std::wstring& path, uint32_t flags, kx::platform::FileAccess access) {
    Close();
    unicode_ = (flags & modeUnicode) != 0;
    bool exists = kx::platform::FileExists(path);
    binary_ =
        exists ? (BeginsWithByteOrderMark(path) || (unicode_ && IsEmptyFile(path))) : unicode_;
    file_ = kx::platform::OpenFileStream(path, StreamMode(flags, exists), access);
    return file_ != nullptr;
}

bool CStdioFileEx::WriteString(std::wstring_view text) {
    if (!file_) return false;
    std::string bytes;
    if (unicode_) {
        if (std::ftell(file_) == 0) bytes = "\xFF\xFE";
        bytes += kx::WideToUtf16LE(text);
    } else {
        bytes = kx::platform::WideToAnsi(text, kx::platform::AnsiCodePage::Thread);
    }
    return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
}

bool CStdioFileEx::ReadString(std::wstring& line) {
    line.clear();
    if (!file_) return false;
    return unicode_ || binary_ ? ReadUnicodeLine(line) : ReadAnsiLine(line);
}

bool CStdioFileEx::ReadUnicodeLine(std::wstring& line) {
    std::u16string units;
    bool any = false;
    for (;;) {
        int low = std::fgetc(file_);
        if (low == EOF) break;
        int high = std::fgetc(file_);
        if (high == EOF) break;
        any = true;
        char16_t unit = static_cast<char16_t>(low | (high << 8));
        if (unit == 0xFEFF && std::ftell(file_) == 2) continue;
        if (unit == u'\n') break;
        units.push_back(unit);
    }
    if (!units.empty() && units.back() == u'\r') units.pop_back();
    line = kx::Utf16ToWide(units);
    return any;
}

bool CStdioFileEx::ReadAnsiLine(std::wstring& line) {
    std::string bytes;
    bool any = false;
    for (int c; (c = std::fgetc(file_)) != EOF;) {
        any = true;
        if (c == '\n') break;
        bytes.push_back(static_cast<char>(c));
    }
    if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
    line = kx::platform::AnsiToWide(bytes, kx::platform::AnsiCodePage::Thread);
    return any;
}

void CStdioFileEx::Flush() {
    if (file_) std::fflush(file_);
}

void CStdioFileEx::Close() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
}
