// An environment variable changed for the life of an object.
#pragma once

#include <cstdlib>
#include <string>

namespace brindle::test {

// Sets (or with nullptr unsets) an environment variable and restores the
// old value, or its absence, afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old, hadOld_ = true;
        Apply(value);
    }
    ~ScopedEnv() { Apply(hadOld_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void Apply(const char* value) {
        if (value)
            ::setenv(name_.c_str(), value, 1);
        else
            ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

} // namespace brindle::test
