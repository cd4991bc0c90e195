#include "fresh_process.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "temp_tree.h"

extern char** environ;

namespace testing_support {

FreshResult run_test_in_fresh_process(const std::string& full_test_name, const EnvChanges& env) {
    // Everything the child needs is built before it is spawned.
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
    const TempTree scratch;
    const std::string log = scratch.path("output");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0600);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    std::fflush(nullptr);
    const int failed =
        ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return result;
    const int status = wait_for_child(pid);
    result.output = read_file(log);
    result.skipped = result.output.find("[  SKIPPED ] 1 test") != std::string::npos;
    result.passed = status == 0 && result.output.find("[  PASSED  ] 1 test.") != std::string::npos;
    return result;
}

std::string current_test_name() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

} // namespace testing_support
