// The pattern engine: syntax errors and where they are reported, the corners of its syntax
// that the randomized comparison below does not generate, its bounds, and a randomized
// comparison of its automaton with a reference run of the matching procedure.
#include "search/pattern_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {
namespace {

using namespace std::string_literals;

const std::string kGroupNotClosed = ") expected\r\n  ";
const std::string kNoItem = "[,',( or ident expected";
const std::string kNoBracket = "closing ] missing";
const std::string kLeftOver = "unexpected symbol";
const std::string kTooComplex = "pattern too complex";

TEST(PatternEngine, SyntaxErrorsSayWhatAndWhereScanningStood) {
    const struct {
        std::string pattern, message;
        std::size_t position;  // just after the offending token
    } cases[] = {
        {"", kNoItem, 0},
        {"a||b", kNoItem, 3},
        {"=a", kNoItem, 1},
        {"()", kNoItem, 2},
        {"\\ia", kNoItem, 2},
        {"a**", kLeftOver, 3},
        {"a)", kLeftOver, 2},
        {"( a b  ", kGroupNotClosed, 7},
        {"(a**)", kGroupNotClosed, 4},
        {"[a-]", kNoBracket, 4},  // "]" after "-" is the range's upper bound
        {"[\\]", kNoBracket, 3},
        {"[a\0b]"s, kNoBracket, 3},
        {"a $_b1 c", "_b1 not found in name dictionary", 6},
    };
    for (const auto& c : cases) {
        CPatternEngine engine;
        const PatternCompileResult result = engine.Compile(c.pattern);
        EXPECT_EQ(result.status, kPatternSyntaxError) << c.pattern;
        EXPECT_EQ(result.message, c.message) << c.pattern;
        EXPECT_EQ(result.position, c.position) << c.pattern;
    }
}

// Escapes, brackets and bytes the randomized comparison does not generate.
TEST(PatternEngine, SyntaxCorners) {
    const struct {
        std::string pattern, name;
        bool matches;
    } cases[] = {
        {"\\x4a\\x4A", "JJ", true},
        {"\\xZZ\\x4g", "xZZx4g", true},  // not hex: the "x" is a literal
        {"\\a\\b\\t\\n\\v\\r", "\a\b\t\n\v\r", true},
        {"\\*\\[\\\\a\\I", "*[\\aI", true},
        {"a\\", "a\\", true},
        {"$1\\$x", "$1$x", true},
        {"a[ ]b", "a b", true},
        {"[\\]][-a]", "]-", true},
        {"[a\\-z]", "m", false},
        {"[]a", "a", false},
        {"[^]]", "]", false},
        {"[^]", "\x01", true},
        {"[^]", "\0"s, false},
        {"a\0?b"s, "ab", true},  // a raw 0 byte is a set that matches nothing
        {"[\x80-\xFF]+", "\xC3\xA9\xFF", true},
        {"\xC9\\i", "\xE9", false},  // folding adds ASCII lower case only
    };
    for (const auto& c : cases) {
        CPatternEngine engine;
        const PatternCompileResult result = engine.Compile(c.pattern);
        ASSERT_EQ(result.status, kPatternCompiled) << c.pattern << ": " << result.message;
        EXPECT_EQ(engine.MatchWhole(c.name), c.matches) << c.pattern << " vs " << c.name;
    }
}

// "(a|b)*a" followed by n times "(a|b)": its deterministic automaton needs 2^(n+1) states.
std::string ExplodingPattern(int n) {
    std::string pattern = "(a|b)*a";
    for (int i = 0; i < n; ++i) pattern += "(a|b)";
    return pattern;
}

// States, position sets, nesting and length are bounded: a hostile pattern fails cleanly
// and leaves the previous automaton in force.
TEST(PatternEngine, ComplexityIsBounded) {
    CPatternEngine engine;
    ASSERT_EQ(engine.Compile(ExplodingPattern(11)).status, kPatternCompiled);  // 4096 states
    const std::string tail(11, 'b');
    EXPECT_TRUE(engine.MatchWhole("bba" + tail));
    EXPECT_FALSE(engine.MatchWhole("bbb" + tail));

    std::string optionals, alternatives = "(a";
    for (int i = 0; i < 12000; ++i) {
        optionals += "a?";
        alternatives += "|a";
    }
    const std::string flat(50000, 'q');
    for (const std::string& pattern :
         {ExplodingPattern(13), optionals, alternatives + ")*", flat, std::string(100000, '(')}) {
        const PatternCompileResult result = engine.Compile(pattern);
        EXPECT_EQ(result.status, kPatternSyntaxError) << pattern.substr(0, 20);
        EXPECT_EQ(result.message, kTooComplex) << pattern.substr(0, 20);
        EXPECT_TRUE(engine.MatchWhole("bba" + tail));
    }
    EXPECT_EQ(engine.Compile(std::string(100000, '(')).position,
              static_cast<std::size_t>(CPatternEngine::kMaxNesting) + 1);
    EXPECT_EQ(engine.Compile(flat + "(").message, kNoItem);  // parsed to the end

    const int limit = CPatternEngine::kMaxNesting;
    ASSERT_EQ(engine.Compile(std::string(limit, '(') + "a" + std::string(limit, ')')).status,
              kPatternCompiled);
    EXPECT_TRUE(engine.MatchWhole("a"));
    const std::string literal(8000, 'q');  // long, but within the state bound
    ASSERT_EQ(engine.Compile(literal).status, kPatternCompiled);
    EXPECT_TRUE(engine.MatchWhole(literal));
    EXPECT_FALSE(engine.MatchWhole(literal + "q"));
}

// ---- Randomized comparison with a reference ----------------------------------------------
//
// Random syntax trees are written out as pattern text (with random white space between the
// tokens) and, independently, built into a Thompson automaton. The reference runs the
// matching procedure step by step over that automaton: follow the name's bytes and then the
// terminating 0 byte, remember the last accepting end, stop at the first byte that leaves no
// live state; the match ends there when the state before was accepting. The name matches when
// the match covers it whole. The engine runs its table over every byte instead; both must agree.

using ByteSet = std::bitset<256>;

class ReferenceAutomaton {
public:
    struct Fragment {
        int in;
        int out;
    };

    int NewState() {
        states_.emplace_back();
        return static_cast<int>(states_.size() - 1);
    }
    void Epsilon(int from, int to) { states_[from].epsilon.push_back(to); }

    Fragment Leaf(const ByteSet& set) {
        const Fragment f{NewState(), NewState()};
        states_[f.in].set = set;
        states_[f.in].byteTarget = f.out;
        return f;
    }
    Fragment Concatenation(Fragment a, Fragment b) {
        Epsilon(a.out, b.in);
        return {a.in, b.out};
    }
    Fragment Alternation(Fragment a, Fragment b) {
        const Fragment f{NewState(), NewState()};
        Epsilon(f.in, a.in), Epsilon(f.in, b.in), Epsilon(a.out, f.out), Epsilon(b.out, f.out);
        return f;
    }
    // Zero or more (skippable) or one or more (loop) or optional (skippable, no loop).
    Fragment Repeat(Fragment a, bool skippable, bool loop) {
        const Fragment f{NewState(), NewState()};
        Epsilon(f.in, a.in), Epsilon(a.out, f.out);
        if (skippable) Epsilon(f.in, f.out);
        if (loop) Epsilon(a.out, a.in);
        return f;
    }

    bool MatchWhole(const Fragment& root, const std::string& name) const {
        const std::string bytes = name + '\0';
        std::vector<bool> previous = Closure({root.in});
        std::vector<bool> current = Step(previous, bytes[0]);
        std::size_t consumed = 1;
        std::optional<std::size_t> lastAcceptingEnd;
        while (std::find(current.begin(), current.end(), true) != current.end()) {
            if (current[root.out]) lastAcceptingEnd = consumed;
            previous = std::move(current);
            current = Step(previous, bytes[consumed++]);
        }
        std::optional<std::size_t> matchEnd = lastAcceptingEnd;
        if (previous[root.out]) matchEnd = consumed - 1;  // the dead state is an accepting one
        return matchEnd == name.size();
    }

private:
    struct State {
        ByteSet set;
        int byteTarget = -1;
        std::vector<int> epsilon;
    };

    std::vector<bool> Closure(std::vector<int> pending) const {
        std::vector<bool> in(states_.size(), false);
        while (!pending.empty()) {
            const int s = pending.back();
            pending.pop_back();
            if (in[s]) continue;
            in[s] = true;
            pending.insert(pending.end(), states_[s].epsilon.begin(), states_[s].epsilon.end());
        }
        return in;
    }

    std::vector<bool> Step(const std::vector<bool>& from, char byte) const {
        std::vector<int> next;
        for (std::size_t s = 0; s < states_.size(); ++s) {
            if (from[s] && states_[s].byteTarget >= 0 &&
                states_[s].set.test(static_cast<unsigned char>(byte))) {
                next.push_back(states_[s].byteTarget);
            }
        }
        return Closure(std::move(next));
    }

    std::vector<State> states_;
};

class RandomPatternBuilder {
public:
    explicit RandomPatternBuilder(uint32_t seed) : random_(seed) {}

    struct Generated {
        std::vector<std::string> tokens;
        ReferenceAutomaton::Fragment fragment;
        int precedence;  // 0 alternation, 1 concatenation, 2 suffixed item, 3 leaf or group
    };

    // A pattern and its reference automaton; tokens are joined with random white space.
    std::string Build(ReferenceAutomaton& automaton, ReferenceAutomaton::Fragment& root) {
        const Generated g = Generate(automaton, 0, false);
        root = g.fragment;
        static const char* const kSpaces[] = {"", "", "", " ", "\t", "\n "};
        std::string text;
        for (const std::string& token : g.tokens) text += token + kSpaces[Pick(6)];
        return text;
    }

    std::string RandomName() {
        static const char kAlphabet[] = {'a', 'b', 'A', 'B', '^', '.', ' ', 'c', '\xE9', '\0'};
        std::string name;
        const int length = Pick(8);
        for (int i = 0; i < length; ++i) {
            // The byte 0 is rare, to leave most names free to match.
            name += kAlphabet[Pick(20) == 0 ? 9 : Pick(9)];
        }
        return name;
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    Generated Generate(ReferenceAutomaton& automaton, int depth, bool fold) {
        if (depth >= 4 || Pick(10) < 3 + depth) return GenerateLeaf(automaton, fold);
        switch (Pick(6)) {
            case 0: {
                Generated a = Generate(automaton, depth + 1, fold);
                Generated b = Generate(automaton, depth + 1, fold);
                a.tokens.push_back("|");
                a.tokens.insert(a.tokens.end(), b.tokens.begin(), b.tokens.end());
                return {a.tokens, automaton.Alternation(a.fragment, b.fragment), 0};
            }
            case 1:
            case 2: {
                Generated a = Wrapped(Generate(automaton, depth + 1, fold), 1);
                Generated b = Wrapped(Generate(automaton, depth + 1, fold), 1);
                a.tokens.insert(a.tokens.end(), b.tokens.begin(), b.tokens.end());
                return {a.tokens, automaton.Concatenation(a.fragment, b.fragment), 1};
            }
            default:
                return GenerateSuffixed(automaton, depth, fold);
        }
    }

    Generated GenerateSuffixed(ReferenceAutomaton& automaton, int depth, bool fold) {
        const int suffix = Pick(4);
        Generated a = Wrapped(Generate(automaton, depth + 1, fold || suffix == 3), 3);
        static const char* const kSuffixes[] = {"*", "+", "?", "\\i"};
        a.tokens.push_back(kSuffixes[suffix]);
        if (suffix == 0) a.fragment = automaton.Repeat(a.fragment, true, true);
        if (suffix == 1) a.fragment = automaton.Repeat(a.fragment, false, true);
        if (suffix == 2) a.fragment = automaton.Repeat(a.fragment, true, false);
        a.precedence = 2;
        return a;
    }

    static Generated Wrapped(Generated g, int minimumPrecedence) {
        if (g.precedence >= minimumPrecedence) return g;
        g.tokens.insert(g.tokens.begin(), "(");
        g.tokens.push_back(")");
        g.precedence = 3;
        return g;
    }

    // Leaf texts with the members of their sets; "^" first: every byte but 0 and the rest.
    Generated GenerateLeaf(ReferenceAutomaton& automaton, bool fold) {
        static const std::pair<const char*, std::string> kLeaves[] = {
            {"a", "a"},     {"b", "b"},     {"A", "A"},     {"B", "B"},       {".", "^"},
            {"\\.", "."},   {"[ab]", "ab"}, {"[^a]", "^a"}, {"[B-A]", "AB"},  {"[a-bB]", "abB"},
            {"\\x61", "a"}, {"\\ ", " "},   {"\\0", ""},    {"\xE9", "\xE9"}, {"[\\]-a]", "]^_`a"},
        };
        const auto& [text, members] = kLeaves[Pick(std::size(kLeaves))];
        ByteSet set;
        const bool negated = members.starts_with('^');
        for (unsigned char m : members.substr(negated ? 1 : 0)) set.set(m);
        if (negated) set.flip().reset(0);
        for (unsigned c = 'A'; c <= 'Z'; ++c) {
            if (fold && set.test(c)) set.set(c - 'A' + 'a');
        }
        return {{text}, automaton.Leaf(set), 3};
    }

    std::mt19937 random_;
};

TEST(PatternEngineReference, RandomPatternsAgreeWithTheMatchingProcedure) {
    RandomPatternBuilder builder(20240611);
    int matched = 0;
    int rejected = 0;
    for (int round = 0; round < 3000; ++round) {
        ReferenceAutomaton reference;
        ReferenceAutomaton::Fragment root{};
        const std::string pattern = builder.Build(reference, root);
        CPatternEngine engine;
        const PatternCompileResult result = engine.Compile(pattern);
        ASSERT_EQ(result.status, kPatternCompiled) << pattern << ": " << result.message;
        for (int n = 0; n < 40; ++n) {
            const std::string name = builder.RandomName();
            const bool expected = reference.MatchWhole(root, name);
            ASSERT_EQ(engine.MatchWhole(name), expected)
                << "pattern [" << pattern << "] name [" << name << "]";
            (expected ? matched : rejected) += 1;
        }
    }
    // Both outcomes must be well represented, or the comparison proves little.
    EXPECT_GT(matched, 5000);
    EXPECT_GT(rejected, 5000);
}

}  // namespace
}  // namespace tarnwick
