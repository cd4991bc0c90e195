// Helpers for the trash and deletion tests: run a body in a child process
// with gtest checks that count, and read what a trash folder holds on disk.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "i18n.h"

namespace testing_support {

// Runs `body` in a forked child; the child's failed EXPECTs print there and
// make the returned status non-zero.
int check_in_child(const std::function<void()>& body);

// The same inside a private mount namespace. Returns false when the kernel
// refuses namespaces (the caller skips).
bool check_in_mount_namespace(const std::function<void()>& body, int& status);

bool exists(const std::string& path);                       // lstat succeeds
std::vector<std::string> list_dir(const std::string& path); // sorted, without . and ..
void set_env(const char* name, const std::string& value);

// Messages are compared in English whatever the machine's locale says.
inline const bool english_messages = (I18n::instance().set_language("en"), true);

} // namespace testing_support

// Runs a body (a lambda taking nothing; variadic so braces with commas pass) in a private mount
// namespace and fails the test when a check inside failed; skips when namespaces are refused.
#define SPACEMOLE_CHECK_IN_MOUNT_NAMESPACE(...)                                                    \
    do {                                                                                           \
        int ns_status_ = -1;                                                                       \
        if (!::testing_support::check_in_mount_namespace(__VA_ARGS__, ns_status_))                 \
            GTEST_SKIP() << "private mount namespace unavailable";                                 \
        EXPECT_EQ(ns_status_, 0) << "a check inside the mount namespace failed";                   \
    } while (0)
