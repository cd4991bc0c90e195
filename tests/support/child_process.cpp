#include "child_process.h"

#include <cerrno>
#include <cstdio>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace testing_support {

void finish_child(const std::function<bool()>& body) {
    bool ok = false;
    try {
        ok = body() && !::testing::Test::HasFailure();
    } catch (...) {
        ok = false;
    }
    std::fflush(nullptr);
    ::_exit(ok ? 0 : 1);
}

int wait_for_child(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

int run_in_child(const std::function<bool()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) finish_child(body);
    return wait_for_child(pid);
}

int run_unprivileged(const std::function<bool()>& body) {
    return run_in_child([&body] {
        if (::geteuid() == 0) {
            const gid_t nobody_gid = 65534;
            const uid_t nobody_uid = 65534;
            if (::setgroups(0, nullptr) != 0 ||
                ::setresgid(nobody_gid, nobody_gid, nobody_gid) != 0 ||
                ::setresuid(nobody_uid, nobody_uid, nobody_uid) != 0)
                return false;
        }
        return body();
    });
}

} // namespace testing_support
