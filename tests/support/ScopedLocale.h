// Switches the process locale (and with it the ANSI code page) for one scope, as the
// program's setlocale(LC_ALL, "") would pick it.
#pragma once

#include <gtest/gtest.h>

#include <locale.h>

#include <string>

namespace velmora::test {

class ScopedLocale {
  public:
    explicit ScopedLocale(const std::string& name) : previous_(setlocale(LC_ALL, nullptr)) {
        ok_ = setlocale(LC_ALL, name.c_str()) != nullptr;
        if (!ok_)
            ADD_FAILURE() << "locale " << name << " is not generated on this machine";
    }
    ~ScopedLocale() { setlocale(LC_ALL, previous_.c_str()); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

    bool ok() const { return ok_; }

  private:
    std::string previous_;
    bool ok_;
};

} // namespace velmora::test

// Switches the locale for the rest of the test, which stops if it is not there.
#define USE_LOCALE(name)                                                                           \
    ::velmora::test::ScopedLocale scopedLocale(name);                                              \
    ASSERT_TRUE(scopedLocale.ok())
