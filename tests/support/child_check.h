// Checks for test bodies that run in a forked child (sandbox flags, private
// mount namespaces), where gtest assertions cannot reach the parent: each
// failed check prints what it expected, and the body returns ok().
#pragma once

#include <cstdio>
#include <string>

namespace testing_support {

class ChildCheck {
public:
    void operator()(bool ok, const std::string& what) {
        if (ok) return;
        std::fprintf(stderr, "check failed: %s\n", what.c_str());
        ++m_failures;
    }
    void equal(const std::string& got, const std::string& want, const std::string& what) {
        (*this)(got == want, what + ": got \"" + got + "\", want \"" + want + "\"");
    }
    bool ok() const { return m_failures == 0; }

private:
    int m_failures = 0;
};

} // namespace testing_support
