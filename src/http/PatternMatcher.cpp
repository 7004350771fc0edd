#include "http/PatternMatcher.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <utility>

#include "common/Text.h"

namespace {

// ---------------------------------------------------------------------------
// Syntax tree

enum class NodeKind {
    Empty,
    Char,
    Any,
    Class,
    Concat,
    Alternation,
    Group,
    Repeat,
    Negation,
    BackRef
};
enum class RepeatKind { ZeroOrMore, OneOrMore, Optional };

struct CharRange {
    wchar_t first;
    wchar_t last;
};

struct CharClass {
    std::vector<CharRange> ranges;
    bool negated = false;

    bool Contains(wchar_t c) const {
        bool inside = std::any_of(ranges.begin(), ranges.end(),
                                  [c](const CharRange& r) { return r.first <= c && c <= r.last; });
        return inside != negated;
    }
};

struct Node {
    NodeKind kind = NodeKind::Empty;
    wchar_t ch = 0;
    int index = -1;  // class, capture group (-1: not capturing) or referenced group
    RepeatKind repeat = RepeatKind::ZeroOrMore;
    bool lazy = false;
    bool nullable = true;  // can match the empty text
    std::vector<std::unique_ptr<Node>> children;
};

std::unique_ptr<Node> MakeNode(NodeKind kind, bool nullable) {
    auto node = std::make_unique<Node>();
    node->kind = kind;
    node->nullable = nullable;
    return node;
}

// What an abbreviation stands for; compiled in its place.
const wchar_t* AbbreviationPattern(wchar_t letter) {
    switch (letter) {
        case L'a':
            return L"([a-zA-Z0-9])";
        case L'b':
            return L"([ \t])";
        case L'c':
            return L"([a-zA-Z])";
        case L'd':
            return L"([0-9])";
        case L'h':
            return L"([0-9a-fA-F])";
        case L'n':
            return L"(\r|(\r?\n))";
        case L'q':
            return L"((\"[^\"]*\")|('[^']*'))";
        case L'w':
            return L"([a-zA-Z]+)";
        case L'z':
            return L"([0-9]+)";
        default:
            return nullptr;
    }
}

struct ParseFailure {
    int code;
};

// Recursive descent over one pattern text. Groups and classes are collected
// into the shared lists so that abbreviations, parsed by a parser of their
// own, land in the same program.
class CParser {
public:
    CParser(std::wstring_view source, std::vector<CharClass>& classes, int& groupCount,
            std::vector<int>& groupNullable, int depth)
        : source_(source),
          classes_(classes),
          groupCount_(groupCount),
          groupNullable_(groupNullable),
          depth_(depth) {}

    std::unique_ptr<Node> ParseWhole() {
        auto node = ParseAlternation();
        if (pos_ < source_.size()) {
            // Only a stray closing parenthesis or brace stops the top level.
            throw ParseFailure{kPatternUnexpected};
        }
        return node;
    }

private:
    bool AtEnd() const { return pos_ >= source_.size(); }
    wchar_t Peek() const { return source_[pos_]; }

    void Enter() {
        if (++depth_ > CPatternMatcher::kMaxPatternDepth) throw ParseFailure{kPatternOutOfMemory};
    }
    void Leave() { --depth_; }

    std::unique_ptr<Node> ParseAlternation() {
        Enter();
        auto first = ParseSequence();
        if (AtEnd() || Peek() != L'|') {
            Leave();
            return first;
        }
        auto alternation = MakeNode(NodeKind::Alternation, first->nullable);
        alternation->children.push_back(std::move(first));
        while (!AtEnd() && Peek() == L'|') {
            ++pos_;
            auto next = ParseSequence();
            alternation->nullable = alternation->nullable || next->nullable;
            alternation->children.push_back(std::move(next));
        }
        Leave();
        return alternation;
    }

    std::unique_ptr<Node> ParseSequence() {
        auto sequence = MakeNode(NodeKind::Concat, true);
        while (!AtEnd() && Peek() != L'|' && Peek() != L')' && Peek() != L'}') {
            auto factor = ParseFactor();
            sequence->nullable = sequence->nullable && factor->nullable;
            sequence->children.push_back(std::move(factor));
        }
        if (sequence->children.size() == 1) return std::move(sequence->children.front());
        return sequence;
    }

    std::unique_ptr<Node> ParseFactor() {
        if (Peek() == L'!') {
            ++pos_;
            if (AtEnd()) throw ParseFailure{kPatternUnexpected};
            Enter();
            auto negation = MakeNode(NodeKind::Negation, true);
            negation->children.push_back(ParseFactor());
            Leave();
            return negation;
        }
        auto item = ParseAtom();
        // Each repetition wraps the item once more ("a++++"), so each counts
        // towards the nesting that compiling and freeing the tree recurse through.
        int repetitions = 0;
        while (!AtEnd() && (Peek() == L'*' || Peek() == L'+' || Peek() == L'?')) {
            Enter();
            ++repetitions;
            item = ParseRepetition(std::move(item));
        }
        depth_ -= repetitions;
        return item;
    }

    std::unique_ptr<Node> ParseRepetition(std::unique_ptr<Node> item) {
        if (item->nullable) throw ParseFailure{kPatternEmptyRepeat};
        wchar_t op = source_[pos_++];
        auto repeat = MakeNode(NodeKind::Repeat, op != L'+');
        repeat->repeat = op == L'*'   ? RepeatKind::ZeroOrMore
                         : op == L'+' ? RepeatKind::OneOrMore
                                      : RepeatKind::Optional;
        if (!AtEnd() && Peek() == L'?') {
            repeat->lazy = true;
            ++pos_;
        }
        repeat->children.push_back(std::move(item));
        return repeat;
    }

    std::unique_ptr<Node> ParseAtom() {
        wchar_t c = source_[pos_++];
        switch (c) {
            case L'(':
                return ParseGroup(L')', kPatternParenExpected, false);
            case L'{':
                return ParseGroup(L'}', kPatternBraceExpected, true);
            case L'[':
                return ParseClass();
            case L'.':
                return MakeNode(NodeKind::Any, false);
            case L'\\':
                return ParseEscape();
            case L']':
            case L'*':
            case L'+':
            case L'?':
                throw ParseFailure{kPatternUnexpected};
            default:
                return MakeChar(c);
        }
    }

    static std::unique_ptr<Node> MakeChar(wchar_t c) {
        auto node = MakeNode(NodeKind::Char, false);
        node->ch = c;
        return node;
    }

    std::unique_ptr<Node> ParseGroup(wchar_t close, int missingCloseError, bool capturing) {
        int group = -1;
        if (capturing) {
            group = groupCount_++;
            groupNullable_.push_back(-1);
        }
        auto body = ParseAlternation();
        if (AtEnd() || Peek() != close) throw ParseFailure{missingCloseError};
        ++pos_;
        auto node = MakeNode(NodeKind::Group, body->nullable);
        node->index = group;
        if (capturing) groupNullable_[group] = body->nullable ? 1 : 0;
        node->children.push_back(std::move(body));
        return node;
    }

    std::unique_ptr<Node> ParseEscape() {
        if (AtEnd()) throw ParseFailure{kPatternUnexpected};
        wchar_t c = source_[pos_];
        if (c >= L'0' && c <= L'9') return ParseBackReference();
        ++pos_;
        if (const wchar_t* sub = AbbreviationPattern(c)) {
            CParser parser(sub, classes_, groupCount_, groupNullable_, depth_);
            return parser.ParseWhole();
        }
        return MakeChar(c);
    }

    std::unique_ptr<Node> ParseBackReference() {
        int group = 0;
        while (!AtEnd() && Peek() >= L'0' && Peek() <= L'9') {
            group = std::min(group * 10 + static_cast<int>(Peek() - L'0'), 1'000'000);
            ++pos_;
        }
        // Whether the group exists is known only once the whole pattern is read.
        bool nullable =
            group >= static_cast<int>(groupNullable_.size()) || groupNullable_[group] != 0;
        auto node = MakeNode(NodeKind::BackRef, nullable);
        node->index = group;
        return node;
    }

    // One character of a class, with its escape.
    wchar_t ClassChar() {
        if (AtEnd()) throw ParseFailure{kPatternBracketExpected};
        wchar_t c = source_[pos_++];
        if (c != L'\\') return c;
        if (AtEnd()) throw ParseFailure{kPatternBracketExpected};
        c = source_[pos_++];
        return c == L't' ? L'\t' : c;
    }

    std::unique_ptr<Node> ParseClass() {
        CharClass charClass;
        if (!AtEnd() && Peek() == L'^') {
            charClass.negated = true;
            ++pos_;
        }
        for (;;) {
            if (AtEnd()) throw ParseFailure{kPatternBracketExpected};
            if (Peek() == L']') break;
            wchar_t first = ClassChar();
            wchar_t last = first;
            if (!AtEnd() && Peek() == L'-') {
                ++pos_;
                if (AtEnd() || Peek() == L']') throw ParseFailure{kPatternBracketExpected};
                last = ClassChar();
                if (last < first) throw ParseFailure{kPatternInvalidRange};
            }
            charClass.ranges.push_back({first, last});
        }
        ++pos_;
        if (charClass.ranges.empty()) throw ParseFailure{kPatternEmptyClass};
        auto node = MakeNode(NodeKind::Class, false);
        node->index = static_cast<int>(classes_.size());
        classes_.push_back(std::move(charClass));
        return node;
    }

    std::wstring_view source_;
    std::size_t pos_ = 0;
    std::vector<CharClass>& classes_;
    int& groupCount_;
    std::vector<int>& groupNullable_;
    int depth_;
};

bool ContainsBackReference(const Node& node) {
    if (node.kind == NodeKind::BackRef) return true;
    return std::any_of(node.children.begin(), node.children.end(),
                       [](const auto& child) { return ContainsBackReference(*child); });
}

int HighestBackReference(const Node& node) {
    int highest = node.kind == NodeKind::BackRef ? node.index : -1;
    for (const auto& child : node.children)
        highest = std::max(highest, HighestBackReference(*child));
    return highest;
}

}  // namespace

// ---------------------------------------------------------------------------
// Program

enum class Op : uint8_t {
    Char,
    Any,
    Class,
    Split,
    Jump,
    Save,
    AssertEnd,
    BackRef,
    NegBegin,
    NegEnd,
    Match
};

struct Instruction {
    Op op;
    uint32_t a = 0;  // character, class, preferred target, slot, group, continuation
    uint32_t b = 0;  // Split: other target
    uint32_t c = 0;  // Split: memo row; NegBegin: lookahead number
};

struct CPatternMatcher::Program {
    // Tells the programs of a matcher apart, so that a context prepared for
    // an earlier Parse (sized for its splits) is never taken for this one.
    uint64_t serial = NextSerial();
    std::vector<Instruction> code;
    std::vector<CharClass> classes;
    int groupCount = 0;
    uint32_t splitCount = 0;
    uint32_t negationCount = 0;
    bool caseSensitive = true;
    bool anchoredStart = false;
    bool memoised = true;
    bool hasFirstChar = false;
    wchar_t firstChar = 0;

    static uint64_t NextSerial() {
        static std::atomic<uint64_t> last{0};
        return ++last;
    }

    uint32_t Emit(Op op, uint32_t a = 0, uint32_t b = 0) {
        code.push_back({op, a, b, 0});
        return static_cast<uint32_t>(code.size() - 1);
    }
    uint32_t Here() const { return static_cast<uint32_t>(code.size()); }
    uint32_t EmitSplit() {
        uint32_t at = Emit(Op::Split);
        code[at].c = splitCount++;
        return at;
    }
    // A split that prefers `preferred` and falls back to `other`.
    void SetSplit(uint32_t at, uint32_t preferred, uint32_t other) {
        code[at].a = preferred;
        code[at].b = other;
    }

    void Compile(const Node& node) {
        switch (node.kind) {
            case NodeKind::Empty:
                break;
            case NodeKind::Char:
                Emit(Op::Char, static_cast<uint32_t>(node.ch));
                break;
            case NodeKind::Any:
                Emit(Op::Any);
                break;
            case NodeKind::Class:
                Emit(Op::Class, static_cast<uint32_t>(node.index));
                break;
            case NodeKind::BackRef:
                Emit(Op::BackRef, static_cast<uint32_t>(node.index));
                break;
            case NodeKind::Concat:
                for (const auto& child : node.children) Compile(*child);
                break;
            case NodeKind::Alternation:
                CompileAlternation(node);
                break;
            case NodeKind::Group:
                CompileGroup(node);
                break;
            case NodeKind::Repeat:
                CompileRepeat(node);
                break;
            case NodeKind::Negation:
                CompileNegation(node);
                break;
        }
    }

    void CompileAlternation(const Node& node) {
        std::vector<uint32_t> jumpsToEnd;
        for (std::size_t i = 0; i + 1 < node.children.size(); ++i) {
            uint32_t split = EmitSplit();
            Compile(*node.children[i]);
            jumpsToEnd.push_back(Emit(Op::Jump));
            SetSplit(split, split + 1, Here());
        }
        Compile(*node.children.back());
        for (uint32_t jump : jumpsToEnd) code[jump].a = Here();
    }

    void CompileGroup(const Node& node) {
        if (node.index < 0) {
            Compile(*node.children.front());
            return;
        }
        auto slot = static_cast<uint32_t>(node.index * 2);
        Emit(Op::Save, slot);
        Compile(*node.children.front());
        Emit(Op::Save, slot + 1);
    }

    void CompileRepeat(const Node& node) {
        const Node& body = *node.children.front();
        if (node.repeat == RepeatKind::OneOrMore) {
            uint32_t start = Here();
            Compile(body);
            uint32_t split = EmitSplit();
            node.lazy ? SetSplit(split, Here(), start) : SetSplit(split, start, Here());
            return;
        }
        uint32_t split = EmitSplit();
        Compile(body);
        if (node.repeat == RepeatKind::ZeroOrMore) Emit(Op::Jump, split);
        node.lazy ? SetSplit(split, Here(), split + 1) : SetSplit(split, split + 1, Here());
    }

    void CompileNegation(const Node& node) {
        uint32_t begin = Emit(Op::NegBegin);
        code[begin].c = negationCount++;
        Compile(*node.children.front());
        Emit(Op::NegEnd);
        code[begin].a = Here();
    }

    void FindFirstChar() {
        std::size_t pc = 0;
        while (pc < code.size() && code[pc].op == Op::Save) ++pc;
        if (pc < code.size() && code[pc].op == Op::Char) {
            hasFirstChar = true;
            firstChar = static_cast<wchar_t>(code[pc].a);
        }
    }
};

namespace {

// The backtracking run of one program over one (lower-cased if need be) text.
class CRunner {
public:
    CRunner(const CPatternMatcher::Program& program, std::wstring_view text,
            std::vector<std::size_t>& captures, std::vector<uint64_t>& failed,
            std::unordered_map<uint64_t, bool>& lookaheads, bool memoised, uint64_t& steps)
        : program_(program),
          text_(text),
          captures_(captures),
          failed_(failed),
          lookaheads_(lookaheads),
          memoised_(memoised),
          steps_(steps) {}

    // Follows the program from pc at pos until Match (or NegEnd for a
    // lookahead). On success, end holds the position reached.
    bool Run(uint32_t pc, std::size_t pos, std::size_t& end) {
        std::vector<Frame> stack;
        stack.push_back({FrameKind::Branch, pc, pos});
        while (!stack.empty()) {
            Frame frame = stack.back();
            stack.pop_back();
            if (frame.kind == FrameKind::Restore) {
                captures_[frame.pc] = frame.pos;
                continue;
            }
            if (frame.kind == FrameKind::MarkFailed) {
                SetFailed(frame.pc, frame.pos);
                continue;
            }
            if (Follow(frame.pc, frame.pos, stack, end)) return true;
            if (exhausted_) return false;
        }
        return false;
    }

    bool Exhausted() const { return exhausted_; }

private:
    enum class FrameKind : uint8_t { Branch, Restore, MarkFailed };
    struct Frame {
        FrameKind kind;
        uint32_t pc;      // Restore: slot; MarkFailed: memo row
        std::size_t pos;  // Restore: old value
    };

    bool IsFailed(uint32_t row, std::size_t pos) const {
        std::size_t bit = row * (text_.size() + 1) + pos;
        return (failed_[bit / 64] >> (bit % 64)) & 1u;
    }
    void SetFailed(uint32_t row, std::size_t pos) {
        std::size_t bit = row * (text_.size() + 1) + pos;
        failed_[bit / 64] |= uint64_t{1} << (bit % 64);
    }

    // Runs straight on from one state until it fails (false) or matches (true).
    bool Follow(uint32_t pc, std::size_t pos, std::vector<Frame>& stack, std::size_t& end) {
        for (;;) {
            if (!memoised_ && ++steps_ > CPatternMatcher::kBackReferenceStepBudget) {
                exhausted_ = true;
                return false;
            }
            const Instruction& in = program_.code[pc];
            switch (in.op) {
                case Op::Char:
                    if (pos >= text_.size() || static_cast<uint32_t>(text_[pos]) != in.a)
                        return false;
                    ++pos, ++pc;
                    break;
                case Op::Any:
                    if (pos >= text_.size()) return false;
                    ++pos, ++pc;
                    break;
                case Op::Class:
                    if (pos >= text_.size() || !program_.classes[in.a].Contains(text_[pos]))
                        return false;
                    ++pos, ++pc;
                    break;
                case Op::Split:
                    if (memoised_) {
                        if (IsFailed(in.c, pos)) return false;
                        stack.push_back({FrameKind::MarkFailed, in.c, pos});
                    }
                    stack.push_back({FrameKind::Branch, in.b, pos});
                    pc = in.a;
                    break;
                case Op::Jump:
                    pc = in.a;
                    break;
                case Op::Save:
                    stack.push_back({FrameKind::Restore, in.a, captures_[in.a]});
                    captures_[in.a] = pos;
                    ++pc;
                    break;
                case Op::AssertEnd:
                    if (pos != text_.size()) return false;
                    ++pc;
                    break;
                case Op::BackRef:
                    if (!MatchBackReference(in.a, pos)) return false;
                    ++pc;
                    break;
                case Op::NegBegin:
                    if (LookaheadMatches(pc, pos)) return false;
                    pc = in.a;
                    break;
                case Op::NegEnd:
                case Op::Match:
                    end = pos;
                    return true;
            }
        }
    }

    bool MatchBackReference(uint32_t group, std::size_t& pos) const {
        std::size_t start = captures_[group * 2];
        std::size_t stop = captures_[group * 2 + 1];
        if (start == CPatternMatcher::CMatchContext::kUnset ||
            stop == CPatternMatcher::CMatchContext::kUnset) {
            return false;
        }
        std::size_t length = stop - start;
        if (text_.size() - pos < length) return false;
        if (text_.compare(pos, length, text_.substr(start, length)) != 0) return false;
        pos += length;
        return true;
    }

    // Whether the negated item at pc matches at pos; it consumes nothing and
    // leaves no captures behind.
    bool LookaheadMatches(uint32_t pc, std::size_t pos) {
        const Instruction& in = program_.code[pc];
        uint64_t key = (uint64_t{in.c} << 40) ^ pos;
        if (memoised_) {
            auto known = lookaheads_.find(key);
            if (known != lookaheads_.end()) return known->second;
        }
        std::vector<std::size_t> saved = captures_;
        std::size_t ignored = 0;
        bool matched = Run(pc + 1, pos, ignored);
        captures_ = std::move(saved);
        if (memoised_) lookaheads_[key] = matched;
        return matched;
    }

    const CPatternMatcher::Program& program_;
    std::wstring_view text_;
    std::vector<std::size_t>& captures_;
    std::vector<uint64_t>& failed_;
    std::unordered_map<uint64_t, bool>& lookaheads_;
    bool memoised_;
    uint64_t& steps_;
    bool exhausted_ = false;
};

// Memo tables larger than this fall back to the step budget.
constexpr std::size_t kMaxMemoBits = std::size_t{1} << 28;

}  // namespace

// ---------------------------------------------------------------------------
// CMatchContext

std::size_t CPatternMatcher::CMatchContext::GroupStart(int group) const {
    if (group < 0 || static_cast<std::size_t>(group) * 2 + 1 >= captures_.size()) return kUnset;
    return captures_[group * 2];
}

std::size_t CPatternMatcher::CMatchContext::GroupEnd(int group) const {
    if (group < 0 || static_cast<std::size_t>(group) * 2 + 1 >= captures_.size()) return kUnset;
    return captures_[group * 2 + 1];
}

// ---------------------------------------------------------------------------
// CPatternMatcher

CPatternMatcher::CPatternMatcher() = default;
CPatternMatcher::~CPatternMatcher() = default;

int CPatternMatcher::GroupCount() const {
    return program_ ? program_->groupCount : 0;
}

int CPatternMatcher::Parse(const wchar_t* pattern, bool caseSensitive) {
    program_.reset();
    if (pattern == nullptr) return kPatternNullPattern;
    try {
        std::wstring source = caseSensitive ? std::wstring(pattern) : kx::ToLower(pattern);
        auto program = std::make_unique<Program>();
        program->caseSensitive = caseSensitive;
        std::wstring_view body = source;
        if (!body.empty() && body.front() == L'^') {
            program->anchoredStart = true;
            body.remove_prefix(1);
        }
        bool anchoredEnd = false;
        if (!body.empty() && body.back() == L'$') {
            std::size_t backslashes = 0;
            while (backslashes + 1 < body.size() && body[body.size() - 2 - backslashes] == L'\\') {
                ++backslashes;
            }
            if (backslashes % 2 == 0) {
                anchoredEnd = true;
                body.remove_suffix(1);
            }
        }
        std::vector<int> groupNullable;
        CParser parser(body, program->classes, program->groupCount, groupNullable, 0);
        std::unique_ptr<Node> tree = parser.ParseWhole();
        if (HighestBackReference(*tree) >= program->groupCount) return kPatternInvalidGroup;
        program->memoised = !ContainsBackReference(*tree);
        program->Compile(*tree);
        if (anchoredEnd) program->Emit(Op::AssertEnd);
        program->Emit(Op::Match);
        program->FindFirstChar();
        program_ = std::move(program);
        return kPatternOk;
    } catch (const ParseFailure& failure) {
        return failure.code;
    } catch (const std::bad_alloc&) {
        return kPatternOutOfMemory;
    }
}

void CPatternMatcher::Prepare(std::wstring_view text, CMatchContext& context) const {
    if (context.program_ == program_->serial && context.textData_ == text.data() &&
        context.textSize_ == text.size()) {
        return;
    }
    context.program_ = program_->serial;
    context.textData_ = text.data();
    context.textSize_ = text.size();
    context.lowered_ = program_->caseSensitive ? std::wstring() : kx::ToLower(text);
    context.lookaheads_.clear();
    context.failed_.clear();
    context.budgetExhausted_ = false;
    std::size_t bits = std::size_t{program_->splitCount} * (text.size() + 1);
    if (program_->memoised && bits <= kMaxMemoBits) context.failed_.assign(bits / 64 + 1, 0);
}

bool CPatternMatcher::Match(std::wstring_view text, CMatchContext& context,
                            std::size_t from) const {
    context.matchStart_ = context.matchEnd_ = CMatchContext::kUnset;
    context.captures_.assign(static_cast<std::size_t>(GroupCount()) * 2, CMatchContext::kUnset);
    context.steps_ = 0;
    if (!program_) return false;
    Prepare(text, context);
    std::wstring_view subject =
        program_->caseSensitive ? text : std::wstring_view(context.lowered_);
    for (std::size_t start = from; start < subject.size(); ++start) {
        if (program_->hasFirstChar) {
            start = subject.find(program_->firstChar, start);
            if (start == std::wstring_view::npos) return false;
        }
        if (program_->anchoredStart && start != 0) return false;
        if (TryAt(subject, start, context)) return true;
        if (context.budgetExhausted_) return false;
    }
    return false;
}

bool CPatternMatcher::TryAt(std::wstring_view subject, std::size_t start,
                            CMatchContext& context) const {
    // Without a memo table (back-references, or a table too large to hold)
    // the step budget bounds the work instead.
    bool memoised = program_->memoised && (!context.failed_.empty() || program_->splitCount == 0);
    CRunner runner(*program_, subject, context.captures_, context.failed_, context.lookaheads_,
                   memoised, context.steps_);
    std::size_t end = 0;
    bool matched = runner.Run(0, start, end);
    if (runner.Exhausted()) context.budgetExhausted_ = true;
    if (!matched) return false;
    context.matchStart_ = start;
    context.matchEnd_ = end;
    return true;
}

bool CPatternMatcher::FindAllCaptures(const wchar_t* pattern, bool caseSensitive, int groupCount,
                                      std::wstring_view text, std::vector<std::wstring>& results,
                                      bool allowDuplicates) {
    results.clear();
    if (pattern == nullptr || *pattern == L'\0' || groupCount <= 0 || text.empty()) return false;
    CPatternMatcher matcher;
    if (matcher.Parse(pattern, caseSensitive) != kPatternOk) return false;
    CMatchContext context;
    std::vector<std::vector<std::wstring>> seen;
    std::size_t position = 0;
    while (position < text.size() && matcher.Match(text, context, position)) {
        std::vector<std::wstring> captures;
        for (int group = 0; group < groupCount && context.GroupMatched(group); ++group) {
            std::size_t start = context.GroupStart(group);
            captures.emplace_back(text.substr(start, context.GroupEnd(group) - start));
        }
        bool duplicate =
            !allowDuplicates && std::any_of(seen.begin(), seen.end(), [&](const auto& earlier) {
                return std::equal(earlier.begin(), earlier.end(), captures.begin(), captures.end(),
                                  [](const std::wstring& a, const std::wstring& b) {
                                      return kx::EqualsNoCase(a, b);
                                  });
            });
        if (!duplicate) {
            results.insert(results.end(), captures.begin(), captures.end());
            seen.push_back(std::move(captures));
        }
        position = std::max(context.MatchEnd(), context.MatchStart() + 1);
    }
    return true;
}
