// Runs one test of the current test binary again in a freshly executed
// process (exec, not only fork), with changes to its environment. Needed
// wherever a process-wide value must start clean: sandbox flags and the
// guard's tables cached once per process, GLib's shared session bus and D-Bus
// worker thread, GTK's display, the mount table read inside a new namespace.
//
// The inner test either recognises its turn by an environment variable and
// skips itself otherwise, or is named DISABLED_... so that ordinary runs list
// but skip it. The child is spawned with everything built beforehand (safe in
// a process with threads).
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

// The current test's full name, for running it again.
std::string current_test_name();

} // namespace testing_support

// Runs the inner test in a fresh process: passes with it, skips with it. The
// changes may be a braced list.
#define SPACEMOLE_IN_FRESH_PROCESS(name, ...)                                                      \
    do {                                                                                           \
        const auto fresh_ = ::testing_support::run_test_in_fresh_process(                          \
            name, ::testing_support::EnvChanges(__VA_ARGS__));                                     \
        if (fresh_.skipped) GTEST_SKIP() << fresh_.output;                                         \
        EXPECT_TRUE(fresh_.passed) << fresh_.output;                                               \
    } while (0)
