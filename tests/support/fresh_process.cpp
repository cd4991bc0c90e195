#include "fresh_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

FreshResult run_test_in_fresh_process(const std::string& full_test_name, const EnvChanges& env) {
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
        for (const auto& [name, value] : env) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        const std::string filter = "--gtest_filter=" + full_test_name;
        const char* argv[] = {"fresh", filter.c_str(), "--gtest_also_run_disabled_tests",
                              "--gtest_color=no", nullptr};
        ::execv("/proc/self/exe", const_cast<char* const*>(argv));
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
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.skipped = result.output.find("[  SKIPPED ] 1 test") != std::string::npos;
    result.passed = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                    result.output.find("[  PASSED  ] 1 test.") != std::string::npos;
    return result;
}

} // namespace testing_support
