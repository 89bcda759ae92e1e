// The pattern engine: scanner and recursive-descent parser into a flat syntax tree, then a
// deterministic automaton built from the tree's positions (first/last/follow sets) by subset
// construction over byte classes, finally expanded into a 256-wide transition table.
#include "search/pattern_engine.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "listing/text_utils.h"

namespace tarnwick {

namespace {

using ByteSet = std::bitset<256>;

// The byte that ends every name; no set ever holds it, so no pattern matches past it.
constexpr unsigned char kTerminator = 0;

constexpr char kTooComplex[] = "pattern too complex";

// Upper bound on the elementary steps of building one automaton (set entries copied, sorted
// or hashed). Patterns whose position sets grow quadratically would otherwise take minutes.
constexpr std::size_t kMaxWork = std::size_t{1} << 24;

// Token kinds; each a distinct bit so that sets of tokens are masks.
enum Token : unsigned {
    kTokEnd = 1,
    kTokIllegal = 2,  // reserved, never produced
    kTokIdent = 4,
    kTokStar = 32,
    kTokPlus = 64,
    kTokEqual = 128,
    kTokQuestion = 256,
    kTokBar = 512,
    kTokSet = 1024,
    kTokOpen = 2048,
    kTokClose = 4096,
    kTokFold = 8192,
};
constexpr unsigned kItemStart = kTokIdent | kTokSet | kTokOpen;

const char* TokenText(unsigned token) {
    switch (token) {
        case kTokEnd:
            return "end of string";
        case kTokIllegal:
            return "illegal character";
        case kTokStar:
            return "*";
        case kTokPlus:
            return "+";
        case kTokEqual:
            return "=";
        case kTokQuestion:
            return "?";
        case kTokBar:
            return "|";
        case kTokSet:
            return "[<characters>]";
        case kTokOpen:
            return "(";
        case kTokClose:
            return ")";
        default:
            return "";  // identifier and "\i" have no text
    }
}

// Raised anywhere inside the engine; Compile turns it into its result. Never leaves this file.
struct REXA_Exception {
    int kind;
    std::string message;
    std::size_t position;
};

// ---- Syntax tree -------------------------------------------------------------------------

enum class NodeKind : uint8_t {
    kLeaf,
    kAlternation,
    kConcatenation,
    kZeroOrMore,
    kOneOrMore,
    kOptional
};

// Nodes live in one vector: children always precede their parent, and the nodes of any
// subtree are contiguous, so the tree is walked by loops instead of recursion (a long
// concatenation is a very deep tree) and freed in one go.
struct Node {
    NodeKind kind;
    uint32_t left;   // a leaf's position (index into leafSets)
    uint32_t right;  // unused for leaves and one-child nodes
};

struct SyntaxTree {
    std::vector<Node> nodes;
    std::vector<ByteSet> leafSets;
};

// ---- Scanner -----------------------------------------------------------------------------

bool IsLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsNameStart(unsigned char c) {
    return IsLetter(c) || c == '_';
}
bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9');
}

class PatternScanner {
public:
    explicit PatternScanner(std::string_view text) : text_(text) {}

    // Reads the next token into token(), set() or name().
    void Next() {
        while (!AtEnd() && IsFieldSpace(Peek())) ++pos_;
        if (AtEnd()) {
            token_ = kTokEnd;
            return;
        }
        const unsigned char c = Peek();
        const unsigned single = SingleCharToken(c);
        if (single != 0) {
            ++pos_;
            token_ = single;
        } else if (c == '.') {
            ++pos_;
            SetToken(ByteSet().set());
        } else if (c == '[') {
            ++pos_;
            SetToken(ReadBracketSet());
        } else if (c == '$' && pos_ + 1 < text_.size() && IsNameStart(Peek(1))) {
            ReadIdentifier();
        } else if (c == '\\' && pos_ + 1 < text_.size() && Peek(1) == 'i') {
            pos_ += 2;
            token_ = kTokFold;
        } else {
            SetToken(ByteSet().set(ReadChar()));
        }
    }

    unsigned token() const { return token_; }
    const ByteSet& set() const { return set_; }
    const std::string& name() const { return name_; }

    [[noreturn]] void Fail(std::string message) const {
        throw REXA_Exception{kPatternSyntaxError, std::move(message), pos_};
    }

private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    unsigned char Peek(std::size_t ahead = 0) const {
        return static_cast<unsigned char>(text_[pos_ + ahead]);
    }

    static unsigned SingleCharToken(unsigned char c) {
        switch (c) {
            case '(':
                return kTokOpen;
            case ')':
                return kTokClose;
            case '*':
                return kTokStar;
            case '+':
                return kTokPlus;
            case '?':
                return kTokQuestion;
            case '=':
                return kTokEqual;
            case '|':
                return kTokBar;
            default:
                return 0;
        }
    }

    void SetToken(const ByteSet& set) {
        token_ = kTokSet;
        set_ = set;
    }

    void ReadIdentifier() {
        const std::size_t start = ++pos_;  // after "$"
        while (!AtEnd() && IsNameChar(Peek())) ++pos_;
        name_.assign(text_.substr(start, pos_ - start));
        token_ = kTokIdent;
    }

    // Reads one byte value, resolving escapes. The caller ensures !AtEnd().
    unsigned char ReadChar() {
        const unsigned char c = Peek();
        ++pos_;
        if (c != '\\') return c;
        if (AtEnd()) return '\\';  // a trailing lone backslash escapes nothing
        const unsigned char escaped = Peek();
        ++pos_;
        switch (escaped) {
            case 'a':
                return 7;
            case 'b':
                return 8;
            case 't':
                return 9;
            case 'n':
                return 10;
            case 'v':
                return 11;
            case 'r':
                return 13;
            case '0':
                return 0;
            case 'x':
                return ReadHexDigits();
            default:
                return escaped;
        }
    }

    // After "\x": two hexadecimal digits give their value; otherwise the escape was a plain x.
    unsigned char ReadHexDigits() {
        if (pos_ + 1 < text_.size()) {
            const int high = HexDigitValue(Peek());
            const int low = HexDigitValue(Peek(1));
            if (high >= 0 && low >= 0) {
                pos_ += 2;
                return static_cast<unsigned char>(high * 16 + low);
            }
        }
        return 'x';
    }

    // After "[": items up to an unescaped "]", an unescaped leading "^" negating the set.
    ByteSet ReadBracketSet() {
        ByteSet set;
        const bool negate = !AtEnd() && Peek() == '^';
        if (negate) ++pos_;
        for (;;) {
            if (AtEnd()) Fail("closing ] missing");
            if (Peek() == ']') {
                ++pos_;
                break;
            }
            unsigned char low = ReadSetChar();
            unsigned char high = low;
            if (!AtEnd() && Peek() == '-') {
                ++pos_;
                high = ReadSetChar();
            }
            if (low > high) std::swap(low, high);
            for (unsigned v = low; v <= high; ++v) set.set(v);
        }
        return negate ? ~set : set;
    }

    // A byte 0 inside brackets (written "\0", "\x00" or raw) ends the set as the end of the
    // pattern does: names never hold it, so a set cannot be meant to continue past it.
    unsigned char ReadSetChar() {
        if (AtEnd()) Fail("closing ] missing");
        const unsigned char c = ReadChar();
        if (c == kTerminator) Fail("closing ] missing");
        return c;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    unsigned token_ = kTokEnd;
    ByteSet set_;
    std::string name_;
};

// ---- Parser ------------------------------------------------------------------------------

class PatternParser {
public:
    explicit PatternParser(std::string_view pattern) : scanner_(pattern) {}

    // pattern := alternation, then the end.
    SyntaxTree Parse() {
        scanner_.Next();
        Alternation();
        if (scanner_.token() != kTokEnd) scanner_.Fail("unexpected symbol");
        return std::move(tree_);
    }

private:
    uint32_t Alternation() {
        uint32_t left = Concatenation();
        while (scanner_.token() == kTokBar) {
            scanner_.Next();
            const uint32_t right = Concatenation();
            left = Add(NodeKind::kAlternation, left, right);
        }
        return left;
    }

    uint32_t Concatenation() {
        uint32_t left = Item();
        while ((scanner_.token() & kItemStart) != 0) {
            const uint32_t right = Item();
            left = Add(NodeKind::kConcatenation, left, right);
        }
        return left;
    }

    // item := primary, then at most one suffix. A second suffix is left for the caller,
    // which cannot use it and reports it.
    uint32_t Item() {
        const std::size_t firstNode = tree_.nodes.size();
        const uint32_t primary = Primary();
        switch (scanner_.token()) {
            case kTokStar:
                scanner_.Next();
                return Add(NodeKind::kZeroOrMore, primary);
            case kTokPlus:
                scanner_.Next();
                return Add(NodeKind::kOneOrMore, primary);
            case kTokQuestion:
                scanner_.Next();
                return Add(NodeKind::kOptional, primary);
            case kTokFold:
                scanner_.Next();
                FoldCase(firstNode);
                return primary;
            default:
                return primary;
        }
    }

    uint32_t Primary() {
        switch (scanner_.token()) {
            case kTokSet: {
                const uint32_t leaf = AddLeaf(scanner_.set());
                scanner_.Next();
                return leaf;
            }
            case kTokOpen:
                return Group();
            case kTokIdent:
                // Nothing in this system fills the name dictionary, so no name is ever found.
                scanner_.Fail(scanner_.name() + " not found in name dictionary");
            default:
                scanner_.Fail("[,',( or ident expected");
        }
    }

    uint32_t Group() {
        // Each nesting level costs a few stack frames; refuse before the stack runs out.
        if (++depth_ > CPatternEngine::kMaxNesting) scanner_.Fail(kTooComplex);
        scanner_.Next();
        const uint32_t inner = Alternation();
        if (scanner_.token() != kTokClose) {
            scanner_.Fail(std::string(TokenText(kTokClose)) + " expected\r\n  ");
        }
        scanner_.Next();
        --depth_;
        return inner;
    }

    // Every leaf of the subtree (the nodes from firstNode on) gains the lower-case form of
    // each upper-case letter it holds.
    void FoldCase(std::size_t firstNode) {
        for (std::size_t i = firstNode; i < tree_.nodes.size(); ++i) {
            if (tree_.nodes[i].kind != NodeKind::kLeaf) continue;
            ByteSet& set = tree_.leafSets[tree_.nodes[i].left];
            for (unsigned c = 'A'; c <= 'Z'; ++c) {
                if (set.test(c)) set.set(c - 'A' + 'a');
            }
        }
    }

    uint32_t AddLeaf(ByteSet set) {
        set.reset(kTerminator);
        const auto position = static_cast<uint32_t>(tree_.leafSets.size());
        tree_.leafSets.push_back(set);
        return Add(NodeKind::kLeaf, position);
    }

    uint32_t Add(NodeKind kind, uint32_t left, uint32_t right = 0) {
        tree_.nodes.push_back(Node{kind, left, right});
        return static_cast<uint32_t>(tree_.nodes.size() - 1);
    }

    PatternScanner scanner_;
    SyntaxTree tree_;
    int depth_ = 0;
};

// ---- Automaton construction --------------------------------------------------------------

using PositionSet = std::vector<uint32_t>;  // sorted, no duplicates

struct PositionSetHash {
    std::size_t operator()(const PositionSet& set) const {
        std::size_t h = set.size();
        for (uint32_t p : set) h = (h ^ p) * 0x100000001b3ull;
        return h;
    }
};

struct Automaton {
    std::vector<uint32_t> transitions;  // row offsets, 256 per state
    std::vector<uint8_t> accepting;
    uint32_t start = 0;
};

// Builds the automaton whose states are sets of positions that may match next (the end
// position standing for "the pattern may end here"). Transitions are computed once per
// byte class, a class being bytes that every leaf set treats alike.
class AutomatonBuilder {
public:
    explicit AutomatonBuilder(const SyntaxTree& tree)
        : tree_(tree), endPosition_(static_cast<uint32_t>(tree.leafSets.size())) {}

    Automaton Build() {
        PositionSet startSet = ComputeFollowSets();
        ComputeByteClasses();
        BuildStates(std::move(startSet));
        return Expand();
    }

private:
    struct NodeSets {
        bool nullable = false;
        PositionSet first;  // positions that can match a subtree's first byte
        PositionSet last;   // positions that can match its last byte
    };

    void Spend(std::size_t work) {
        work_ += work;
        if (work_ > kMaxWork) throw REXA_Exception{kPatternSyntaxError, kTooComplex, 0};
    }

    void AddFollowers(const PositionSet& from, const PositionSet& followers) {
        Spend(from.size() * (followers.size() + 1));  // before the work: it may be huge
        for (uint32_t p : from) {
            PositionSet& target = follow_[p];
            for (uint32_t q : followers) target.push_back(q);
        }
    }

    PositionSet Joined(PositionSet a, const PositionSet& b) {
        Spend(b.size() + 1);
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    // Fills follow_ and returns the start state's positions. Children precede parents, so
    // one pass in node order sees every child's sets before its parent needs them.
    PositionSet ComputeFollowSets() {
        follow_.assign(endPosition_, {});
        std::vector<NodeSets> sets(tree_.nodes.size());
        for (std::size_t i = 0; i < tree_.nodes.size(); ++i) {
            const Node& node = tree_.nodes[i];
            NodeSets& out = sets[i];
            if (node.kind == NodeKind::kLeaf) {
                out = NodeSets{false, {node.left}, {node.left}};
                continue;
            }
            NodeSets& a = sets[node.left];
            switch (node.kind) {
                case NodeKind::kAlternation: {
                    NodeSets& b = sets[node.right];
                    out.nullable = a.nullable || b.nullable;
                    out.first = Joined(std::move(a.first), b.first);
                    out.last = Joined(std::move(a.last), b.last);
                    break;
                }
                case NodeKind::kConcatenation: {
                    NodeSets& b = sets[node.right];
                    AddFollowers(a.last, b.first);
                    out.nullable = a.nullable && b.nullable;
                    out.first =
                        a.nullable ? Joined(std::move(a.first), b.first) : std::move(a.first);
                    out.last = b.nullable ? Joined(std::move(b.last), a.last) : std::move(b.last);
                    break;
                }
                case NodeKind::kZeroOrMore:
                case NodeKind::kOneOrMore:
                    AddFollowers(a.last, a.first);
                    out.nullable = node.kind == NodeKind::kZeroOrMore || a.nullable;
                    out.first = std::move(a.first);
                    out.last = std::move(a.last);
                    break;
                case NodeKind::kOptional:
                    out.nullable = true;
                    out.first = std::move(a.first);
                    out.last = std::move(a.last);
                    break;
                case NodeKind::kLeaf:
                    break;
            }
            // Each node has one parent: the children's sets are no longer needed.
            a = NodeSets{};
            if (node.kind == NodeKind::kAlternation || node.kind == NodeKind::kConcatenation) {
                sets[node.right] = NodeSets{};
            }
        }
        NodeSets& root = sets.back();
        AddFollowers(root.last, PositionSet{endPosition_});
        for (PositionSet& followers : follow_) SortUnique(followers);
        PositionSet start = std::move(root.first);
        if (root.nullable) start.push_back(endPosition_);
        SortUnique(start);
        return start;
    }

    void SortUnique(PositionSet& set) {
        Spend(set.size());
        std::sort(set.begin(), set.end());
        set.erase(std::unique(set.begin(), set.end()), set.end());
    }

    // Splits the 256 byte values into classes of bytes that belong to exactly the same leaf
    // sets, and lists for each position the classes its set holds.
    void ComputeByteClasses() {
        std::unordered_set<ByteSet> distinctSets(tree_.leafSets.begin(), tree_.leafSets.end());
        classOf_.fill(0);
        classCount_ = 1;
        for (const ByteSet& set : distinctSets) {
            if (classCount_ == 256) break;  // every byte has a class of its own already
            Spend(256);
            Refine(set);
        }
        std::vector<unsigned> representative(classCount_);
        for (unsigned b = 256; b-- > 0;) representative[classOf_[b]] = b;
        leafClasses_.resize(endPosition_);
        for (uint32_t p = 0; p < endPosition_; ++p) {
            Spend(classCount_);
            for (unsigned c = 0; c < classCount_; ++c) {
                if (tree_.leafSets[p].test(representative[c])) leafClasses_[p].push_back(c);
            }
        }
    }

    void Refine(const ByteSet& set) {
        std::array<int, 512> renamed;
        renamed.fill(-1);
        unsigned count = 0;
        for (unsigned b = 0; b < 256; ++b) {
            int& target = renamed[classOf_[b] * 2 + (set.test(b) ? 1 : 0)];
            if (target < 0) target = static_cast<int>(count++);
            classOf_[b] = static_cast<uint16_t>(target);
        }
        classCount_ = count;
    }

    // Subset construction. State 0 is the dead state (no positions).
    void BuildStates(PositionSet startSet) {
        Intern(PositionSet{});
        start_ = Intern(std::move(startSet));
        std::vector<PositionSet> positionsByClass(classCount_);
        mark_.assign(endPosition_ + 1, 0);
        for (uint32_t state = 1; state < stateSets_.size(); ++state) {
            for (uint32_t p : *stateSets_[state]) {
                if (p == endPosition_) continue;
                Spend(leafClasses_[p].size());
                for (unsigned c : leafClasses_[p]) positionsByClass[c].push_back(p);
            }
            for (unsigned c = 0; c < classCount_; ++c) {
                classTransitions_[state * classCount_ + c] =
                    Intern(FollowersOf(positionsByClass[c]));
                positionsByClass[c].clear();
            }
        }
    }

    // The union of the follow sets of `positions`, sorted. Follow sets overlap heavily (think
    // of alternatives under a star), so duplicates are dropped as they come, not after.
    PositionSet FollowersOf(const PositionSet& positions) {
        PositionSet followers;
        if (positions.empty()) return followers;
        ++stamp_;
        for (uint32_t p : positions) {
            Spend(follow_[p].size() + 1);
            for (uint32_t q : follow_[p]) {
                if (mark_[q] == stamp_) continue;
                mark_[q] = stamp_;
                followers.push_back(q);
            }
        }
        SortUnique(followers);
        return followers;
    }

    uint32_t Intern(PositionSet&& positions) {
        Spend(positions.size() + 1);
        auto found = stateIds_.find(positions);
        if (found != stateIds_.end()) return found->second;
        if (stateSets_.size() >= CPatternEngine::kMaxStates) {
            throw REXA_Exception{kPatternSyntaxError, kTooComplex, 0};
        }
        const auto id = static_cast<uint32_t>(stateSets_.size());
        const bool accepting = !positions.empty() && positions.back() == endPosition_;
        auto inserted = stateIds_.emplace(std::move(positions), id).first;
        stateSets_.push_back(&inserted->first);  // keys of an unordered_map never move
        accepting_.push_back(accepting ? 1 : 0);
        classTransitions_.resize(stateSets_.size() * classCount_, 0);
        return id;
    }

    Automaton Expand() const {
        Automaton automaton;
        const std::size_t stateCount = stateSets_.size();
        automaton.transitions.resize(stateCount * 256);
        for (std::size_t state = 0; state < stateCount; ++state) {
            for (unsigned b = 0; b < 256; ++b) {
                const uint32_t target = classTransitions_[state * classCount_ + classOf_[b]];
                automaton.transitions[state * 256 + b] = target * 256;
            }
        }
        automaton.accepting = accepting_;
        automaton.start = start_ * 256;
        return automaton;
    }

    const SyntaxTree& tree_;
    const uint32_t endPosition_;
    std::size_t work_ = 0;
    std::vector<PositionSet> follow_;
    std::array<uint16_t, 256> classOf_{};
    unsigned classCount_ = 1;
    std::vector<std::vector<unsigned>> leafClasses_;
    std::unordered_map<PositionSet, uint32_t, PositionSetHash> stateIds_;
    std::vector<const PositionSet*> stateSets_;
    std::vector<uint8_t> accepting_;
    std::vector<uint32_t> classTransitions_;
    uint32_t start_ = 0;
    std::vector<uint32_t> mark_;  // per position: the stamp_ of the last union that took it
    uint32_t stamp_ = 0;
};

}  // namespace

CPatternEngine::CPatternEngine() : transitions_(256, 0), accepting_(1, 0) {}

PatternCompileResult CPatternEngine::Compile(std::string_view pattern) {
    try {
        const SyntaxTree tree = PatternParser(pattern).Parse();
        Automaton automaton = AutomatonBuilder(tree).Build();
        transitions_ = std::move(automaton.transitions);
        accepting_ = std::move(automaton.accepting);
        start_ = automaton.start;
        return {};
    } catch (const REXA_Exception& error) {
        return {error.kind, error.message, error.position};
    } catch (const std::bad_alloc&) {
        return {kPatternSyntaxError, kTooComplex, 0};
    }
}

}  // namespace tarnwick
