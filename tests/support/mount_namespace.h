// Real mounts for tests, without touching the machine's own table: the body
// runs in a forked child inside a private mount namespace (and a user
// namespace when not root), where tmpfs, read-only and bind mounts can be
// made freely and vanish with the child.
#pragma once

#include <functional>
#include <string>

namespace testing_support {

struct NamespaceResult {
    bool available = false; // false: the kernel refused the namespace
    int status = -1;        // the body's exit status (0 when it returned true)
    std::string why;        // why the namespace was unavailable
};

NamespaceResult run_in_mount_namespace(const std::function<bool()>& body);

// Inside the namespace: mounts. Each returns false (with errno set) on failure.
bool mount_tmpfs(const std::string& point, const std::string& options = "size=16m");
bool mount_bind(const std::string& source, const std::string& point);
bool remount_read_only(const std::string& point);

} // namespace testing_support

// Runs `body` (a lambda returning bool) in a private mount namespace; skips the
// test with the kernel's reason when namespaces are refused.
#define SPACEMOLE_IN_MOUNT_NAMESPACE(body)                                                         \
    do {                                                                                           \
        const auto ns_result_ = ::testing_support::run_in_mount_namespace(body);                   \
        if (!ns_result_.available)                                                                 \
            GTEST_SKIP() << "private mount namespace unavailable: " << ns_result_.why;             \
        EXPECT_EQ(ns_result_.status, 0) << "the check inside the mount namespace failed";          \
    } while (0)
