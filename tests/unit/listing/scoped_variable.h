// Sets an environment variable (nullptr: unsets it) until the end of the scope, and re-reads
// the time zone each time, so that a scoped TZ takes effect at once.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

namespace tarnwick::testing {

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedVariable() { Set(old_ ? old_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;

    void Set(const char* value) {
        value ? setenv(name_, value, 1) : unsetenv(name_);
        tzset();
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace tarnwick::testing
