// The response pattern matcher: pattern and text both come from the input,
// and a matcher is parsed a second time while its match context is kept, as
// a caller that reuses both does.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "FuzzText.h"
#include "http/PatternMatcher.h"

namespace {

void CheckMatch(const CPatternMatcher& matcher, const std::wstring& text,
                CPatternMatcher::CMatchContext& context, std::size_t from) {
    if (!matcher.Match(text, context, from)) return;
    KX_FUZZ_CHECK(context.MatchStart() >= from && context.MatchStart() <= context.MatchEnd());
    KX_FUZZ_CHECK(context.MatchEnd() <= text.size());
    for (int group = 0; group < matcher.GroupCount(); ++group) {
        if (!context.GroupMatched(group)) continue;
        KX_FUZZ_CHECK(context.GroupStart(group) <= context.GroupEnd(group));
        KX_FUZZ_CHECK(context.GroupEnd(group) <= text.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint8_t flags = input.ConsumeIntegral<uint8_t>();
    const bool caseSensitive = flags & 1;
    const std::wstring first =
        kx::fuzz::DecodeFuzzText(input.ConsumeRandomLengthString(256), flags >> 1);
    const std::wstring second =
        kx::fuzz::DecodeFuzzText(input.ConsumeRandomLengthString(256), flags >> 3);
    const std::size_t from = input.ConsumeIntegralInRange<std::size_t>(0, 8);
    const std::wstring text =
        kx::fuzz::DecodeFuzzText(input.ConsumeRemainingBytesAsString(), flags >> 5);

    CPatternMatcher matcher;
    CPatternMatcher::CMatchContext context;
    if (matcher.Parse(first.c_str(), caseSensitive) == kPatternOk) {
        CheckMatch(matcher, text, context, 0);
        CheckMatch(matcher, text, context, from);
    }
    // The same matcher and context with another pattern over the same text.
    if (matcher.Parse(second.c_str(), !caseSensitive) == kPatternOk) {
        CheckMatch(matcher, text, context, from);
    }
    std::vector<std::wstring> results;
    CPatternMatcher::FindAllCaptures(first.c_str(), caseSensitive, 1 + (flags >> 6), text, results,
                                     flags & 2);
    return 0;
}
