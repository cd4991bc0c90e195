// Test fixtures on disk: a real temporary folder tree that removes itself, and
// the small file helpers the tests share. Builders throw std::runtime_error
// when the file system refuses, so a broken fixture fails the test loudly.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

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
    // `depth` nested folders named `component` below `rel`, and a file
    // "bottom" of `bytes` at the end; made with descriptor-relative calls, so
    // the whole path may exceed PATH_MAX. Returns the path of `rel`.
    std::string deep_chain(const std::string& rel, int depth, const std::string& component = "d",
                           std::size_t bytes = 0);

    // Occupied bytes of one entry (st_blocks x 512), not following links.
    static long long allocated(const std::string& abs_path);

private:
    std::string made(const std::string& rel) const; // path(rel), parents created
    std::string m_root;
};

// Removes a tree without following links, making folders writable first.
void remove_tree(const std::string& path);

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
bool exists(const std::string& path);                       // lstat succeeds
std::vector<std::string> list_dir(const std::string& path); // sorted, without . and ..
void set_env(const char* name, const std::string& value);
// The variable's value, or "" when it is not set.
const char* env_or_empty(const char* name);

} // namespace testing_support
