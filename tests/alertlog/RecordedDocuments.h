#pragma once
// The bytes the agent makes of event records: each record's alert item built
// as the agent builds it (CAuditPipeline::MakeRecordAlert with the realistic
// definitions), queued, flushed into one cache file, and that file made into
// the alert document as it is posted. The records are read as those of a
// computer that is not this one ("WS-0042", domain offsec.lan): neither its
// registry nor its accounts answer, so nothing depends on the machine that
// runs it; a scripted directory (CFakeDirectory) answers the lookups, some of
// them with hostile text.
//
// kx_make_alertlog_goldens writes what this makes of the recorded and the
// hostile records into tests/data/alertlog; RecordedDocumentTest makes it
// again and compares the bytes.

#include <cstdint>
#include <string>
#include <vector>

struct CAgentBytes {
    std::string cacheFile;
    std::string document;  // FF FE and the UTF-16LE document, as posted
};

class CRecordedDocuments {
public:
    static constexpr const wchar_t* kComputer = L"WS-0042";
    static constexpr const wchar_t* kDomain = L"offsec.lan";

    // Records one after another, each as long as its Length field says.
    static std::string JoinRecords(const std::vector<std::vector<uint8_t>>& records);
    static std::vector<std::vector<uint8_t>> SplitRecords(const std::string& bytes);
    // Throws std::runtime_error unless the alerts fill exactly one cache
    // file and one document.
    static CAgentBytes Make(const std::vector<std::vector<uint8_t>>& records);
};
