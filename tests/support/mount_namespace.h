// Real mounts for tests, without touching the machine's own table: the body
// runs in a forked child inside a private mount namespace (and a user
// namespace when not root), where tmpfs, read-only and bind mounts can be
// made freely and vanish with the child.
#pragma once

#include <functional>
#include <string>
#include <type_traits>

namespace testing_support {

struct NamespaceResult {
    bool available = false; // false: the kernel refused the namespace
    int status = -1;        // the body's exit status (0 when it returned true)
    std::string why;        // why the namespace was unavailable
};

// The body may use gtest checks and return bool or nothing, as in run_in_child.
NamespaceResult run_in_mount_namespace(const std::function<bool()>& body);
template <class Body>
requires std::is_void_v<std::invoke_result_t<Body&>>
    NamespaceResult run_in_mount_namespace(Body&& body) {
    return run_in_mount_namespace(std::function<bool()>([&body] {
        body();
        return true;
    }));
}

// Inside the namespace: mounts. Each returns false (with errno set) on failure.
bool mount_tmpfs(const std::string& point, const std::string& options = "size=16m");
bool mount_bind(const std::string& source, const std::string& point);
bool remount_read_only(const std::string& point);

} // namespace testing_support

// Runs a body (a lambda; variadic so braces with commas pass) in a private
// mount namespace and fails the test when it failed there; skips the test with
// the kernel's reason when namespaces are refused.
#define SPACEMOLE_IN_MOUNT_NAMESPACE(...)                                                          \
    do {                                                                                           \
        const auto ns_result_ = ::testing_support::run_in_mount_namespace(__VA_ARGS__);            \
        if (!ns_result_.available)                                                                 \
            GTEST_SKIP() << "private mount namespace unavailable: " << ns_result_.why;             \
        EXPECT_EQ(ns_result_.status, 0) << "the check inside the mount namespace failed";          \
    } while (0)
