// The cache file and the posted document that the agent makes of the
// recorded Security logs (tests/data/evtx) and of records with hostile text,
// byte for byte against the goldens of tests/data/alertlog, which
// kx_make_alertlog_goldens wrote with the agent's code of the commit before
// the road of a record was rebuilt (see that file for how to make them
// again). Linux and Wine make the same bytes.
#include <gtest/gtest.h>

#include <string>

#include "AlertLogTestSupport.h"
#include "RecordedDocuments.h"
#include "TempDirectory.h"

namespace {

// "same" or where and how two byte strings first differ.
std::string Difference(const std::string& made, const std::string& golden) {
    if (made == golden) return "same";
    std::size_t at = 0;
    while (at < made.size() && at < golden.size() && made[at] == golden[at]) ++at;
    return "first difference at byte " + std::to_string(at) + " of " + std::to_string(made.size()) +
           " made, " + std::to_string(golden.size()) + " golden";
}

TEST(RecordedDocumentTest, RecordsMakeTheGoldenCacheFileAndDocument) {
    for (const std::string name : {"recorded", "hostile"}) {
        SCOPED_TRACE(name);
        const std::string records = ReadFileBytes(GoldenFile((name + ".records").c_str()));
        ASSERT_FALSE(records.empty());
        const CAgentBytes made =
            CRecordedDocuments::Make(CRecordedDocuments::SplitRecords(records));
        EXPECT_EQ(Difference(made.cacheFile, ReadFileBytes(GoldenFile((name + ".cache").c_str()))),
                  "same");
        EXPECT_EQ(Difference(made.document, ReadFileBytes(GoldenFile((name + ".xml").c_str()))),
                  "same");
    }
}

}  // namespace
