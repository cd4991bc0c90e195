// Running a piece of a test in a forked child: for environment variables read
// once per process, dropped privileges and private namespaces. For a child
// that must start from a fresh executable image, see fresh_process.h.
#pragma once

#include <functional>
#include <random>
#include <sys/types.h>
#include <type_traits>

namespace testing_support {

// Runs `body` in a forked child; returns its exit status, or 128 + signal
// when it was killed. The status is 0 only when the body returned true (a body
// returning nothing counts as true) and no gtest check failed in the child:
// the failures print there but do not reach the parent's test.
int run_in_child(const std::function<bool()>& body);
template <class Body>
requires std::is_void_v<std::invoke_result_t<Body&>>
int run_in_child(Body&& body) {
    return run_in_child(std::function<bool()>([&body] {
        body();
        return true;
    }));
}

// For a forked child: runs `body` and exits as run_in_child describes.
[[noreturn]] void finish_child(const std::function<bool()>& body);

// Waits for a child: its exit status, 128 + signal when killed, else -1.
int wait_for_child(pid_t pid);

// Like run_in_child, but the child first drops root privileges to the
// unprivileged user 65534 (nobody) so permission checks apply; when not root it
// runs as the current user. Trees the body reads must be reachable by it.
int run_unprivileged(const std::function<bool()>& body);

// Kill-point fault injection: for each round, `start(round)` prepares the files
// and returns the work, which runs in a forked child. Round 0 runs to the end
// and is timed; every later round SIGKILLs the child after a random share of
// that time. `check(round)` then inspects what is left on disk.
void kill_point_rounds(int rounds, std::mt19937::result_type seed,
                       const std::function<std::function<void()>(int)>& start,
                       const std::function<void(int)>& check);

} // namespace testing_support
