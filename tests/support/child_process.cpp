#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
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
    } catch (...) { // a throwing body fails the child
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
        const unsigned nobody = 65534;
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
             ::setresuid(nobody, nobody, nobody) != 0))
            return false;
        return body();
    });
}

void kill_point_rounds(int rounds, std::mt19937::result_type seed,
                       const std::function<std::function<void()>(int)>& start,
                       const std::function<void(int)>& check) {
    std::mt19937 random(seed);
    long long full_run_us = 0;
    int interrupted = 0;
    for (int round = 0; round <= rounds; ++round) {
        const std::function<void()> work = start(round);
        const auto started = std::chrono::steady_clock::now();
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            work();
            ::_exit(0);
        }
        if (round > 0) {
            ::usleep(static_cast<useconds_t>(
                std::uniform_int_distribution<long long>(0, full_run_us)(random)));
            ::kill(pid, SIGKILL);
        }
        const int status = wait_for_child(pid);
        interrupted += status == 128 + SIGKILL;
        if (round == 0) {
            ASSERT_EQ(status, 0);
            full_run_us = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - started)
                              .count();
        }
        check(round);
    }
    std::printf("full run %lld us; %d of %d rounds interrupted\n", full_run_us, interrupted,
                rounds);
}

} // namespace testing_support
