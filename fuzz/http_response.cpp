// The handling of an HTTP answer: status, header block and body come from
// the input through a scripted transport; CHttpRequest reads the headers,
// decodes the body and decides whether to try again.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <string>

#include "http/HttpRequest.h"
#include "platform/HttpTransport.h"

namespace {

struct Script {
    std::string headerBytes;
    std::wstring statusCode;
    std::string body;
    uint8_t failures = 0;  // attempts that fail before the answer comes
};

Script g_script;

class CScriptedTransport final : public kx::platform::IHttpTransport {
public:
    uint32_t Open(const kx::platform::HttpTarget&) override { return 0; }
    uint32_t Attempt(const kx::platform::HttpAttemptRequest&,
                     kx::platform::HttpAttemptResponse& response) override {
        if (attempts_++ < g_script.failures) return kx::platform::kErrorWinHttpTimeout;
        // Header bytes reach the request one character per byte, as both
        // transports hand them over.
        for (char c : g_script.headerBytes) {
            response.rawHeaders.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        }
        response.statusCode = g_script.statusCode;
        response.body = g_script.body;
        return 0;
    }
    void Close() override {}

private:
    int attempts_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        SetHttpTransportFactoryForTesting([] { return std::make_unique<CScriptedTransport>(); });
        return true;
    }();
    (void)installed;
    FuzzedDataProvider input(data, size);
    const uint8_t flags = input.ConsumeIntegral<uint8_t>();
    g_script.failures = flags & 3;
    g_script.statusCode = std::to_wstring(input.ConsumeIntegralInRange<int>(100, 599));
    g_script.headerBytes = input.ConsumeRandomLengthString(4096);
    g_script.body = input.ConsumeRemainingBytesAsString();

    CHttpRequest request(L"http://127.0.0.1:1/EventDefinitions/1");
    const bool sent = request.SendRequest((flags & 4) ? L"POST" : L"GET", flags & 8);
    // Twice on one object: the cookies of the first answer go with the second.
    if (sent && (flags & 16)) request.SendRequest(L"GET", false);
    (void)request.GetResponseText();
    (void)request.GetResponseHeaders();
    return 0;
}
