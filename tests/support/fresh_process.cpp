#include "fresh_process.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child_process.h"

extern char** environ;

namespace testing_support {

FreshResult run_test_in_fresh_process(const std::string& full_test_name, const EnvChanges& env) {
    // Everything the child needs is built before the fork: it only calls execve.
    std::vector<std::string> vars, args = {"fresh", "--gtest_filter=" + full_test_name,
                                           "--gtest_also_run_disabled_tests", "--gtest_color=no"};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view var(*e);
        if (std::none_of(env.begin(), env.end(), [&](const auto& change) {
                return var.substr(0, var.find('=')) == change.first;
            }))
            vars.emplace_back(var);
    }
    for (const auto& [name, value] : env)
        if (value) vars.push_back(name + "=" + *value);
    std::vector<char*> envp, argv;
    for (auto& s : vars)
        envp.push_back(s.data());
    for (auto& s : args)
        argv.push_back(s.data());
    envp.push_back(nullptr);
    argv.push_back(nullptr);
    FreshResult result;
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0) return result;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        return result;
    }
    if (pid == 0) {
        ::dup2(pipefd[1], 1);
        ::dup2(pipefd[1], 2);
        ::execve("/proc/self/exe", argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(pipefd[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        result.output.append(buf, static_cast<std::size_t>(n));
    }
    ::close(pipefd[0]);
    const int status = wait_for_child(pid);
    result.skipped = result.output.find("[  SKIPPED ] 1 test") != std::string::npos;
    result.passed = status == 0 && result.output.find("[  PASSED  ] 1 test.") != std::string::npos;
    return result;
}

std::string current_test_name() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

} // namespace testing_support
