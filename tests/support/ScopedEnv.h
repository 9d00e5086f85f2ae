// Environment and current-directory changes that a test undoes when it ends.
#pragma once

#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <optional>
#include <string>

namespace fw::test {

// Sets (or, with nullopt, removes) one environment variable for the object's lifetime.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
        if (const char* old = getenv(name_.c_str())) {
            previous_ = old;
        }
        apply(value);
    }
    ~ScopedEnv() { apply(previous_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void apply(const std::optional<std::string>& value) {
        if (value) {
            setenv(name_.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
        tzset();
    }
    std::string name_;
    std::optional<std::string> previous_;
};

// The locale variables that select the ANSI code page, all three set for the lifetime.
class ScopedLocale {
  public:
    explicit ScopedLocale(const std::string& lcAll, const std::string& lcCtype = "",
                          const std::string& lang = "")
        : all_("LC_ALL", lcAll), ctype_("LC_CTYPE", lcCtype), lang_("LANG", lang) {}

  private:
    ScopedEnv all_;
    ScopedEnv ctype_;
    ScopedEnv lang_;
};

// Changes the process's current directory for the object's lifetime.
class ScopedCwd {
  public:
    explicit ScopedCwd(const std::string& folder) {
        char buffer[PATH_MAX];
        if (getcwd(buffer, sizeof buffer) != nullptr) {
            previous_ = buffer;
        }
        ok_ = chdir(folder.c_str()) == 0;
    }
    ~ScopedCwd() {
        if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
            abort();  // later tests would run in the wrong folder
        }
    }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;
    bool ok() const { return ok_; }

  private:
    std::string previous_;
    bool ok_ = false;
};

}  // namespace fw::test
