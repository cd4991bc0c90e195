// Runs one test of the current test binary in a freshly executed process, so
// values a module caches once per process (sandbox flags, the guard's tables)
// are computed from the environment the test sets up. The inner test is
// usually named DISABLED_... so that ordinary runs list but skip it.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// Environment changes: a value to set, or nullopt to unset.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct FreshResult {
    bool passed = false;  // exactly one test ran and passed
    bool skipped = false; // the test skipped itself (see output for why)
    std::string output;   // the inner run's standard output and error
};

FreshResult run_test_in_fresh_process(const std::string& full_test_name, const EnvChanges& env);

} // namespace testing_support

// Runs the inner test in a fresh process: passes with it, skips with it.
#define SPACEMOLE_IN_FRESH_PROCESS(name, env)                                                      \
    do {                                                                                           \
        const auto fresh_ = ::testing_support::run_test_in_fresh_process(name, env);               \
        if (fresh_.skipped) GTEST_SKIP() << fresh_.output;                                         \
        EXPECT_TRUE(fresh_.passed) << fresh_.output;                                               \
    } while (0)

namespace testing_support {} // namespace testing_support
