// The pattern engine: a small regular-expression engine of our own that the offline search
// compiles a pattern with and then matches every cached entry's name against, whole.
//
// Syntax (white space between tokens is ignored; write "\ " or "[ ]" to match a space):
//   .          any byte            [abc] [a-z] [^a]   a byte set ("[z-a]" is "[a-z]")
//   x*  x+  x? zero or more, one or more, optional    x\i   x folded: A-Z also match a-z
//   x|y        alternation         (x)                grouping
//   \a \b \t \n \v \r \0 \xHH     escapes; "\" before any other byte makes it literal
//   $name      an entry of the name dictionary, which nothing fills: always an error
// The byte 0 ends every name, so it is removed from every set; "\0" inside brackets ends
// the set like the end of the pattern does. A trailing lone "\" stands for itself.
//
// Threads: an engine is used by one thread at a time while compiling; MatchWhole is const
// and may run on several threads at once as long as no Compile runs concurrently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

inline constexpr int kPatternCompiled = 0;
inline constexpr int kPatternSyntaxError = 2;

// Outcome of CPatternEngine::Compile. On failure, `position` is the offset in the pattern at
// which scanning stood when the error was found; for "pattern too complex" raised because the
// automaton or its construction grew too large, it is 0 (the pattern as a whole is at fault).
struct PatternCompileResult {
    int status = kPatternCompiled;  // kPatternCompiled or kPatternSyntaxError
    std::string message;            // empty on success
    std::size_t position = 0;
};

class CPatternEngine {
public:
    // Limits that keep a hostile or accidental pattern from exhausting memory, time or the
    // stack; exceeding any of them fails the compile with "pattern too complex".
    static constexpr std::size_t kMaxStates = 10000;  // automaton states
    static constexpr int kMaxNesting = 256;           // nested "(" groups

    // A new engine accepts nothing until a compile succeeds.
    CPatternEngine();

    // Parses `pattern` and builds its automaton. On success the new automaton replaces the
    // current one; on failure the current one stays in force unchanged. Never throws.
    PatternCompileResult Compile(std::string_view pattern);

    // True when the automaton accepts the whole of `name`: the longest accepted prefix
    // starting at its first byte is the name itself. A name holding a 0 byte never matches.
    bool MatchWhole(std::string_view name) const {
        uint32_t state = start_;
        for (unsigned char byte : name) state = transitions_[state + byte];
        return accepting_[state >> 8] != 0;
    }

private:
    // One row of 256 entries per state; every entry is the target state's row offset
    // (state number * 256), so matching costs one lookup per byte. State 0 is the dead
    // state: it never accepts, and every transition on the byte 0 leads to it.
    std::vector<uint32_t> transitions_;
    std::vector<uint8_t> accepting_;  // indexed by state number
    uint32_t start_ = 0;              // row offset of the start state
};

}  // namespace tarnwick
