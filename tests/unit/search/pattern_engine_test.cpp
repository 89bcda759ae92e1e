// The pattern engine: syntax errors and where they are reported, the corners of its syntax
// that the randomized comparison below does not generate, its bounds, and a randomized
// comparison of its automaton with std::regex.
#include "search/pattern_engine.h"

#include <gtest/gtest.h>

#include <bitset>
#include <iterator>
#include <random>
#include <regex>
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
        {"", kNoItem, 0},           {"a||b", kNoItem, 3},
        {"a**", kLeftOver, 3},      {"( a b  ", kGroupNotClosed, 7},
        {"[a-]", kNoBracket, 4},  // "]" after "-" is the range's upper bound
        {"[a\0b]"s, kNoBracket, 3}, {"a $_b1 c", "_b1 not found in name dictionary", 6},
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
        {"\\*\\[\\\\a\\I", "*[\\aI", true},
        {"[\\]][-a]", "]-", true},
        {"[a\\-z]", "m", false},
        {"[^]]", "]", false},
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
}

// ---- Randomized comparison with a reference ----------------------------------------------
//
// Random syntax trees are written out as pattern text (with random white space between the
// tokens) and, independently, as a std::regex whose leaves spell out every byte of their set.
// No set holds the byte 0, so a name matches whole exactly when the regex matches it whole.

class RandomPatternBuilder {
public:
    explicit RandomPatternBuilder(uint32_t seed) : random_(seed) {}

    struct Generated {
        std::string text;  // tokens, each followed by random white space
        std::string regex;
        int precedence;  // 0 alternation, 1 concatenation, 2 suffixed item, 3 leaf or group
    };

    Generated Build() { return Generate(0, false); }

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

    std::string Token(const char* text) {
        static const char* const kSpaces[] = {"", "", "", " ", "\t", "\n "};
        return text + std::string(kSpaces[Pick(6)]);
    }

    Generated Generate(int depth, bool fold) {
        if (depth >= 4 || Pick(10) < 3 + depth) return GenerateLeaf(fold);
        switch (Pick(6)) {
            case 0: {
                const Generated a = Generate(depth + 1, fold);
                const Generated b = Generate(depth + 1, fold);
                return {a.text + Token("|") + b.text, "(?:" + a.regex + "|" + b.regex + ")", 0};
            }
            case 1:
            case 2: {
                const Generated a = Wrapped(Generate(depth + 1, fold), 1);
                const Generated b = Wrapped(Generate(depth + 1, fold), 1);
                return {a.text + b.text, a.regex + b.regex, 1};
            }
            default: {
                static const char* const kSuffixes[] = {"*", "+", "?", "\\i"};
                const int suffix = Pick(4);
                const Generated a = Wrapped(Generate(depth + 1, fold || suffix == 3), 3);
                return {a.text + Token(kSuffixes[suffix]),
                        "(?:" + a.regex + ")" + (suffix == 3 ? "" : kSuffixes[suffix]), 2};
            }
        }
    }

    Generated Wrapped(Generated g, int minimumPrecedence) {
        if (g.precedence >= minimumPrecedence) return g;
        return {Token("(") + g.text + Token(")"), "(?:" + g.regex + ")", 3};
    }

    // Leaf texts with the members of their sets; "^" first: every byte but 0 and the rest.
    Generated GenerateLeaf(bool fold) {
        static const std::pair<const char*, std::string> kLeaves[] = {
            {"a", "a"},     {"b", "b"},     {"A", "A"},     {"B", "B"},       {".", "^"},
            {"\\.", "."},   {"[ab]", "ab"}, {"[^a]", "^a"}, {"[B-A]", "AB"},  {"[a-bB]", "abB"},
            {"\\x61", "a"}, {"\\ ", " "},   {"\\0", ""},    {"\xE9", "\xE9"}, {"[\\]-a]", "]^_`a"},
        };
        const auto& [text, members] = kLeaves[Pick(std::size(kLeaves))];
        std::bitset<256> set;
        const bool negated = members.starts_with('^');
        for (unsigned char m : members.substr(negated ? 1 : 0)) set.set(m);
        if (negated) set.flip().reset(0);
        for (unsigned c = 'A'; c <= 'Z'; ++c) {
            if (fold && set.test(c)) set.set(c - 'A' + 'a');
        }
        const bool wide = set.count() > 128;  // spelt as the bytes it leaves out
        std::string regex = wide ? "[^" : "[";
        for (unsigned c = 0; c < 256; ++c) {
            if (set.test(c) != wide)
                regex += {'\\', 'x', "0123456789abcdef"[c / 16], "0123456789abcdef"[c % 16]};
        }
        return {Token(text), set.none() ? "(?!)" : regex + "]", 3};
    }

    std::mt19937 random_;
};

TEST(PatternEngineReference, RandomPatternsAgreeWithARegexReference) {
    RandomPatternBuilder builder(20240611);
    int matched = 0;
    int rejected = 0;
    for (int round = 0; round < 3000; ++round) {
        const RandomPatternBuilder::Generated generated = builder.Build();
        const std::string& pattern = generated.text;
        // The polynomial-time executor: backtracking is exponential in nested repeats.
        const std::regex reference(generated.regex,
                                   std::regex::ECMAScript | std::regex_constants::__polynomial);
        CPatternEngine engine;
        const PatternCompileResult result = engine.Compile(pattern);
        ASSERT_EQ(result.status, kPatternCompiled) << pattern << ": " << result.message;
        for (int n = 0; n < 40; ++n) {
            const std::string name = builder.RandomName();
            const bool expected = std::regex_match(name, reference);
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
