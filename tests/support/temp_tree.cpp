#include "temp_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "unique_fd.h"

namespace testing_support {

namespace {

// Throws with errno's text when a fixture step failed.
void check(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

void make_parents(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/') continue;
        const std::string part = path.substr(0, i);
        check(::mkdir(part.c_str(), 0755) == 0 || errno == EEXIST, "mkdir " + part);
    }
}

// The names in an open folder, without . and .. (unsorted).
std::vector<std::string> names_in(DIR* d) {
    std::vector<std::string> names;
    if (d == nullptr) return names;
    while (const dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    return names;
}

void remove_at(int parent_fd, const char* name) {
    struct stat st {};
    if (::fstatat(parent_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlinkat(parent_fd, name, 0);
        return;
    }
    ::fchmodat(parent_fd, name, 0700, 0);
    UniqueFd fd(::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (const DirPtr d(fd ? ::fdopendir(fd.get()) : nullptr); d) {
        (void)fd.release(); // now owned by d
        for (const auto& n : names_in(d.get()))
            remove_at(::dirfd(d.get()), n.c_str());
    }
    ::unlinkat(parent_fd, name, AT_REMOVEDIR);
}

void write_all(int fd, std::size_t bytes, char fill, const std::string& what) {
    const std::string data(bytes, fill);
    for (std::size_t done = 0; done < bytes;) {
        const ssize_t w = ::write(fd, data.data() + done, bytes - done);
        check(w > 0, "write " + what);
        done += static_cast<std::size_t>(w);
    }
}

} // namespace

TempTree::TempTree() {
    const char* base = std::getenv("TMPDIR");
    m_root = std::string(base && *base ? base : "/tmp") + "/spacemole-test-XXXXXX";
    check(::mkdtemp(m_root.data()) != nullptr, "mkdtemp");
    ::chmod(m_root.c_str(), 0755); // readable by a child that drops privileges
}

TempTree::~TempTree() {
    remove_tree(m_root);
}

std::string TempTree::path(const std::string& rel) const {
    return rel.empty() ? m_root : m_root + "/" + rel;
}

std::string TempTree::made(const std::string& rel) const {
    const std::string p = path(rel);
    make_parents(p);
    return p;
}

std::string TempTree::file(const std::string& rel, std::size_t bytes, char fill) {
    const std::string p = made(rel);
    const UniqueFd fd(::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    check(bool(fd), "create " + p);
    write_all(fd.get(), bytes, fill, p);
    ::fsync(fd.get()); // settle delayed allocation so st_blocks is final
    return p;
}

std::string TempTree::dir(const std::string& rel) {
    const std::string p = path(rel);
    make_parents(p + "/");
    return p;
}

std::string TempTree::symlink(const std::string& rel, const std::string& target) {
    const std::string p = made(rel);
    check(::symlink(target.c_str(), p.c_str()) == 0, "symlink " + p);
    return p;
}

std::string TempTree::hardlink(const std::string& rel, const std::string& existing_rel) {
    const std::string p = made(rel);
    check(::link(path(existing_rel).c_str(), p.c_str()) == 0, "link " + p);
    return p;
}

std::string TempTree::sparse(const std::string& rel, off_t length) {
    const std::string p = made(rel);
    const UniqueFd fd(::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    check(fd && ::ftruncate(fd.get(), length) == 0, "sparse " + p);
    return p;
}

void TempTree::chmod(const std::string& rel, mode_t mode) {
    check(::chmod(path(rel).c_str(), mode) == 0, "chmod " + rel);
}

std::string TempTree::deep_chain(const std::string& rel, int depth, const std::string& component,
                                 std::size_t bytes) {
    const std::string top = dir(rel);
    UniqueFd fd(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const char* name = component.c_str();
    for (int i = 0; i < depth && fd; ++i)
        fd = UniqueFd(::mkdirat(fd.get(), name, 0755) == 0
                          ? ::openat(fd.get(), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                          : -1);
    check(bool(fd), "deep chain below " + top);
    const UniqueFd file(::openat(fd.get(), "bottom", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    check(bool(file), "deep chain file");
    write_all(file.get(), bytes, 'd', "deep chain file");
    ::fsync(file.get());
    return top;
}

long long TempTree::allocated(const std::string& abs_path) {
    struct stat st {};
    if (::lstat(abs_path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_blocks) * 512;
}

void remove_tree(const std::string& path) {
    if (path.empty() || path == "/") return;
    remove_at(AT_FDCWD, path.c_str());
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf(); // a folder or a missing file gives ""
    return ss.str();
}

void write_file(const std::string& path, const std::string& text) {
    make_parents(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& path) {
    const DirPtr d(::opendir(path.c_str()));
    std::vector<std::string> out = names_in(d.get());
    std::sort(out.begin(), out.end());
    return out;
}

void set_env(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}

const char* env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

} // namespace testing_support
