#include "fresh_process.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child_process.h"

extern char** environ;

namespace testing_support {

FreshExec::FreshExec(const std::string& full_test_name, const EnvChanges& changes) {
    for (char** e = environ; *e != nullptr; ++e) {
        bool replaced = false;
        for (const auto& [name, value] : changes) {
            const std::string prefix = name + "=";
            if (std::strncmp(*e, prefix.c_str(), prefix.size()) == 0) replaced = true;
        }
        if (!replaced) m_env.emplace_back(*e);
    }
    for (const auto& [name, value] : changes) {
        if (value) m_env.push_back(name + "=" + *value);
    }
    m_args = {"fresh", "--gtest_filter=" + full_test_name, "--gtest_also_run_disabled_tests",
              "--gtest_color=no"};
    for (auto& s : m_env)
        m_envp.push_back(s.data());
    m_envp.push_back(nullptr);
    for (auto& s : m_args)
        m_argv.push_back(s.data());
    m_argv.push_back(nullptr);
}

void FreshExec::exec() const {
    ::execve("/proc/self/exe", m_argv.data(), m_envp.data());
}

FreshResult run_test_in_fresh_process(const std::string& full_test_name, const EnvChanges& env) {
    FreshResult result;
    const FreshExec plan(full_test_name, env);
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
        plan.exec();
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
