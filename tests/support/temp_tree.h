// Test fixtures: a real temporary folder tree that removes itself, and a way
// to run a piece of a test in a child process (for environment variables read
// once per process, dropped privileges and private namespaces).
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <type_traits>

namespace testing_support {

class TempTree {
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return m_root; }
    std::string path(const std::string& rel) const;

    // Creates parent folders as needed. `bytes` of real data are written, so
    // the allocated size follows (see allocated()).
    std::string file(const std::string& rel, std::size_t bytes = 0, char fill = 'x');
    std::string dir(const std::string& rel);
    std::string symlink(const std::string& rel, const std::string& target);
    std::string hardlink(const std::string& rel, const std::string& existing_rel);
    // A file of `length` bytes with no blocks allocated (sparse).
    std::string sparse(const std::string& rel, off_t length);
    void chmod(const std::string& rel, mode_t mode);

    // Occupied bytes of one entry (st_blocks x 512), not following links.
    static long long allocated(const std::string& abs_path);

private:
    std::string m_root;
};

// Removes a tree without following links, making folders writable first.
void remove_tree(const std::string& path);

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

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

} // namespace testing_support
