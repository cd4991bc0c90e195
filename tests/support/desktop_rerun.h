// Runs one test of the current test binary again in a fresh process (exec, not
// only fork), with changes to its environment. Needed wherever a process-wide
// singleton must start clean: GLib's shared session bus and D-Bus worker
// thread, GTK's display, the mount table read inside a new mount namespace.
//
// The re-run test recognises its turn by an environment variable and skips
// itself otherwise; its gtest exit status comes back to the caller.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace testing_support {

struct EnvChange {
    std::string name;
    std::string value;
    bool unset = false;
};

// The argument and environment vectors for re-running `filter`, built before
// any fork so the child only calls execve.
class TestExec {
public:
    TestExec(const std::string& filter, const std::vector<EnvChange>& changes) {
        for (char** e = environ; *e != nullptr; ++e) {
            bool replaced = false;
            for (const auto& c : changes) {
                const std::string prefix = c.name + "=";
                if (std::strncmp(*e, prefix.c_str(), prefix.size()) == 0) replaced = true;
            }
            if (!replaced) m_env.emplace_back(*e);
        }
        for (const auto& c : changes) {
            if (!c.unset) m_env.push_back(c.name + "=" + c.value);
        }
        m_args = {"test", "--gtest_filter=" + filter, "--gtest_color=no"};
        for (auto& s : m_env)
            m_envp.push_back(s.data());
        m_envp.push_back(nullptr);
        for (auto& s : m_args)
            m_argv.push_back(s.data());
        m_argv.push_back(nullptr);
    }

    // Replaces the calling process; returns only when exec failed.
    void exec() const { ::execve("/proc/self/exe", m_argv.data(), m_envp.data()); }

private:
    std::vector<std::string> m_env, m_args;
    std::vector<char*> m_envp, m_argv;
};

// Forks, runs `filter` of this binary in the child and returns its exit
// status (128 + signal when killed, -1 when it could not run).
inline int rerun_test(const std::string& filter, const std::vector<EnvChange>& changes) {
    const TestExec plan(filter, changes);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        plan.exec();
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// The current test's full name, for re-running it.
inline std::string current_test_name() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

} // namespace testing_support
