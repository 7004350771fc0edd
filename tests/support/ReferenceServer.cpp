#include "ReferenceServer.h"

#include <cstdlib>

#include "common/Format.h"
#include "common/Text.h"
#include "platform/HttpTransport.h"

namespace {

std::wstring Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? kx::Utf8ToWide(value) : std::wstring();
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string DecodePercent(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
            HexDigit(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string DecodeHex(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<char>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
    }
    return out;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

std::wstring EncodeQueryBytes(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring out;
    for (unsigned char c : bytes) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out.push_back(static_cast<wchar_t>(c));
        } else {
            out += L'%';
            out += static_cast<wchar_t>(kHex[c >> 4]);
            out += static_cast<wchar_t>(kHex[c & 15]);
        }
    }
    return out;
}

std::wstring EncodeQueryValue(const std::wstring& text) {
    return EncodeQueryBytes(kx::WideToUtf8(text));
}

CReferenceServer::CReferenceServer()
    : service_(Environment("KX_REFSERVER")), control_(Environment("KX_REFSERVER_CONTROL")) {}

std::wstring CReferenceServer::Host() const {
    return service_.substr(0, service_.rfind(L':'));
}

std::wstring CReferenceServer::Port() const {
    return service_.substr(service_.rfind(L':') + 1);
}

std::wstring CReferenceServer::Url(const std::wstring& pathAndQuery) const {
    return L"http://" + service_ + pathAndQuery;
}

bool CReferenceServer::Control(const std::wstring& verb, const std::wstring& pathAndQuery,
                               const std::string& body, std::string& answer) const {
    answer.clear();
    if (!Available()) return false;
    auto transport = kx::platform::CreateHttpTransport();
    kx::platform::HttpTarget target;
    target.url = L"http://" + control_ + pathAndQuery;
    target.verb = verb;
    target.userAgent = L"kx-test-support";
    if (transport->Open(target) != 0) return false;
    kx::platform::HttpAttemptRequest request;
    request.body = body;
    if (verb == L"POST") request.headers = kx::Format(L"Content-Length: %u\r\n", body.size());
    request.maxResponseBytes = 512u * 1024 * 1024;
    kx::platform::HttpAttemptResponse response;
    uint32_t error = transport->Attempt(request, response);
    transport->Close();
    answer = std::move(response.body);
    return error == 0 && response.statusCode == L"200";
}

bool CReferenceServer::SetFault(const std::wstring& mode, uint32_t delayMilliseconds,
                                uint32_t times, const std::wstring& path) {
    std::string answer;
    return Control(
        L"GET",
        kx::Format(L"/control/fault?mode=%s&delay=%u&times=%u&path=%s", EncodeQueryValue(mode),
                   delayMilliseconds, times, EncodeQueryValue(path)),
        std::string(), answer);
}

bool CReferenceServer::SetRedirect(uint32_t status, const std::wstring& location,
                                   const std::wstring& path) {
    std::string answer;
    return Control(L"GET",
                   kx::Format(L"/control/fault?mode=redirect&status=%u&location=%s&path=%s", status,
                              EncodeQueryValue(location), EncodeQueryValue(path)),
                   std::string(), answer);
}

bool CReferenceServer::SetCertificate(const std::string& certificateFile,
                                      const std::string& keyFile) {
    std::string answer;
    return Control(L"GET",
                   L"/control/tls?cert=" + EncodeQueryBytes(certificateFile) + L"&key=" +
                       EncodeQueryBytes(keyFile),
                   std::string(), answer);
}

bool CReferenceServer::SetConfigValue(const std::wstring& name, const std::wstring& value) {
    std::string answer;
    return Control(
        L"GET",
        L"/control/config?name=" + EncodeQueryValue(name) + L"&value=" + EncodeQueryValue(value),
        std::string(), answer);
}

bool CReferenceServer::RemoveConfigValue(const std::wstring& name) {
    std::string answer;
    return Control(L"GET", L"/control/config?name=" + EncodeQueryValue(name), std::string(),
                   answer);
}

bool CReferenceServer::SetConfigAnswer(const std::wstring& name, const std::wstring& body) {
    std::string answer;
    return Control(
        L"GET",
        L"/control/config?name=" + EncodeQueryValue(name) + L"&answer=" + EncodeQueryValue(body),
        std::string(), answer);
}

bool CReferenceServer::SetDefinitions(const std::string& bytes) {
    std::string answer;
    return Control(L"POST", L"/control/definitions", bytes, answer);
}

std::vector<CReferenceServer::Row> CReferenceServer::Rows(const wchar_t* table,
                                                          int64_t after) const {
    std::string answer;
    std::vector<Row> rows;
    if (!Control(L"GET", kx::Format(L"/control/%s?format=tsv&after=%I64d", table, after),
                 std::string(), answer)) {
        return rows;
    }
    std::vector<std::string> lines = Split(answer, '\n');
    if (lines.empty()) return rows;
    std::vector<std::string> names = Split(lines.front(), '\t');
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        std::vector<std::string> cells = Split(lines[i], '\t');
        Row row;
        for (std::size_t c = 0; c < names.size() && c < cells.size(); ++c) {
            row[names[c]] = names[c] == "body" ? DecodeHex(cells[c]) : DecodePercent(cells[c]);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<CReferenceServer::Row> CReferenceServer::Requests(int64_t after) const {
    return Rows(L"requests", after);
}

std::vector<CReferenceServer::Row> CReferenceServer::Documents(int64_t after) const {
    return Rows(L"documents", after);
}

std::vector<CReferenceServer::Row> CReferenceServer::Alerts(int64_t after) const {
    return Rows(L"alerts", after);
}

int64_t CReferenceServer::LastId(const wchar_t* table) const {
    std::string answer;
    if (!Control(L"GET", kx::Format(L"/control/last?table=%s", table), std::string(), answer)) {
        return -1;
    }
    return std::strtoll(answer.c_str(), nullptr, 10);
}

int64_t CReferenceServer::LastRequestId() const {
    return LastId(L"requests");
}

int64_t CReferenceServer::LastDocumentId() const {
    return LastId(L"documents");
}

int64_t CReferenceServer::LastAlertId() const {
    return LastId(L"alerts");
}
