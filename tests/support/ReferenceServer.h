#pragma once
// The reference server of a test, as started by kx_add_refserver_test
// (cmake/KxRefServer.cmake): its address, its fault switches and what it stored.
//
//   CReferenceServer server;
//   if (!server.Available()) GTEST_SKIP() << CReferenceServer::kNotAvailable;
//   int64_t mark = server.LastRequestId();
//   server.SetFault(L"drop", 0, 2);             // the next two requests are dropped
//   ... CHttpRequest request(server.Url(L"/EventPost")); ...
//   auto requests = server.Requests(mark);      // what reached the server since
//   auto alerts = server.Alerts(documentMark);  // alerts parsed from posted documents
//
// Settings of the agent take server.Host() and server.Port(). The control
// requests go through the platform's HTTP transport directly, not through
// CHttpRequest, so that tests of the client (and its test seams) leave them be.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CReferenceServer {
public:
    static constexpr const char* kNotAvailable =
        "no reference server: run through ctest, or set KX_REFSERVER and KX_REFSERVER_CONTROL";

    // One stored row. Text columns hold UTF-8 text; "body" holds the raw bytes.
    using Row = std::map<std::string, std::string>;

    // Reads KX_REFSERVER and KX_REFSERVER_CONTROL ("127.0.0.1:PORT").
    CReferenceServer();

    bool Available() const { return !service_.empty() && !control_.empty(); }
    std::wstring Host() const;
    std::wstring Port() const;
    // "http://HOST:PORT" followed by the path (with its query).
    std::wstring Url(const std::wstring& pathAndQuery) const;

    // mode: none, refuse, 500, 502, 503, 504, slow, stall, html, drop, endless,
    // huge (a gigabyte with its Content-Length), portal (a whole HTML page,
    // status 200), cut (the first half of the answer as a whole response).
    // delay: the milliseconds of slow and stall (0: their defaults). times:
    // how many requests misbehave before the server behaves again (0: until
    // changed); for refuse, how many delays (default 1000 ms) the port stays
    // closed. path: only requests whose path starts with it misbehave (empty:
    // every request).
    bool SetFault(const std::wstring& mode, uint32_t delayMilliseconds = 0, uint32_t times = 0,
                  const std::wstring& path = L"");
    bool ClearFault() { return SetFault(L"none"); }
    // Requests whose path starts with path are answered with a redirection
    // (status, Location) until ClearFault.
    bool SetRedirect(uint32_t status, const std::wstring& location, const std::wstring& path);
    // The certificate (PEM files) that a server started with --tls shows to
    // the connections that follow.
    bool SetCertificate(const std::string& certificateFile, const std::string& keyFile);
    bool SetConfigValue(const std::wstring& name, const std::wstring& value);
    bool RemoveConfigValue(const std::wstring& name);
    // The configuration query for name is answered with exactly this text.
    bool SetConfigAnswer(const std::wstring& name, const std::wstring& body);
    // Replaces the document served at /EventDefinitions/<version>.
    bool SetDefinitions(const std::string& bytes);

    // Rows with an id above `after`, oldest first. Requests: id, method, path,
    // headers (one per line), body_length, fault. Documents: id, request_id,
    // content_type, content_length, body, alert_count, parse_error. Alerts:
    // id, document_id, position, the alert's elements by name, properties
    // (JSON list of [code, value]).
    std::vector<Row> Requests(int64_t after = 0) const;
    std::vector<Row> Documents(int64_t after = 0) const;
    std::vector<Row> Alerts(int64_t after = 0) const;
    // The id of the newest row, 0 when there is none: a mark for the calls above.
    int64_t LastRequestId() const;
    int64_t LastDocumentId() const;
    int64_t LastAlertId() const;

private:
    bool Control(const std::wstring& verb, const std::wstring& pathAndQuery,
                 const std::string& body, std::string& answer) const;
    std::vector<Row> Rows(const wchar_t* table, int64_t after) const;
    int64_t LastId(const wchar_t* table) const;

    std::wstring service_;
    std::wstring control_;
};

// Percent-encodes UTF-8 text for a query string.
std::wstring EncodeQueryValue(const std::wstring& text);
std::wstring EncodeQueryBytes(const std::string& bytes);
