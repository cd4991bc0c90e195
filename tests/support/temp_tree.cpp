#include "temp_tree.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace testing_support {

namespace {

void make_parents(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/') continue;
        const std::string part = path.substr(0, i);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            throw std::runtime_error("mkdir " + part + ": " + std::strerror(errno));
    }
}

void remove_at(int parent_fd, const char* name) {
    struct stat st {};
    if (::fstatat(parent_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        ::fchmodat(parent_fd, name, 0700, 0);
        const int fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            DIR* d = ::fdopendir(fd);
            if (d != nullptr) {
                std::vector<std::string> names;
                while (dirent* e = ::readdir(d)) {
                    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                        names.emplace_back(e->d_name);
                }
                for (const auto& n : names)
                    remove_at(::dirfd(d), n.c_str());
                ::closedir(d);
            } else {
                ::close(fd);
            }
        }
        ::unlinkat(parent_fd, name, AT_REMOVEDIR);
    } else {
        ::unlinkat(parent_fd, name, 0);
    }
}

} // namespace

TempTree::TempTree() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/spacemole-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_root = buf.data();
    ::chmod(m_root.c_str(), 0755); // readable by a child that drops privileges
}

TempTree::~TempTree() {
    remove_tree(m_root);
}

std::string TempTree::path(const std::string& rel) const {
    return rel.empty() ? m_root : m_root + "/" + rel;
}

std::string TempTree::file(const std::string& rel, std::size_t bytes, char fill) {
    const std::string p = path(rel);
    make_parents(p);
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("create " + p + ": " + std::strerror(errno));
    const std::string chunk(64 * 1024, fill);
    std::size_t left = bytes;
    while (left > 0) {
        const std::size_t n = left < chunk.size() ? left : chunk.size();
        const ssize_t w = ::write(fd, chunk.data(), n);
        if (w <= 0) {
            ::close(fd);
            throw std::runtime_error("write " + p);
        }
        left -= static_cast<std::size_t>(w);
    }
    ::fsync(fd); // settle delayed allocation so st_blocks is final
    ::close(fd);
    return p;
}

std::string TempTree::dir(const std::string& rel) {
    const std::string p = path(rel);
    make_parents(p + "/");
    return p;
}

std::string TempTree::symlink(const std::string& rel, const std::string& target) {
    const std::string p = path(rel);
    make_parents(p);
    if (::symlink(target.c_str(), p.c_str()) != 0)
        throw std::runtime_error("symlink " + p + ": " + std::strerror(errno));
    return p;
}

std::string TempTree::hardlink(const std::string& rel, const std::string& existing_rel) {
    const std::string p = path(rel);
    make_parents(p);
    if (::link(path(existing_rel).c_str(), p.c_str()) != 0)
        throw std::runtime_error("link " + p + ": " + std::strerror(errno));
    return p;
}

std::string TempTree::sparse(const std::string& rel, off_t length) {
    const std::string p = path(rel);
    make_parents(p);
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, length) != 0) throw std::runtime_error("sparse " + p);
    ::close(fd);
    return p;
}

void TempTree::chmod(const std::string& rel, mode_t mode) {
    if (::chmod(path(rel).c_str(), mode) != 0) throw std::runtime_error("chmod " + rel);
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

void finish_child(const std::function<bool()>& body) {
    bool ok = false;
    try {
        ok = body() && !::testing::Test::HasFailure();
    } catch (...) {
        ok = false;
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
        if (::geteuid() == 0) {
            const gid_t nobody_gid = 65534;
            const uid_t nobody_uid = 65534;
            if (::setgroups(0, nullptr) != 0 ||
                ::setresgid(nobody_gid, nobody_gid, nobody_gid) != 0 ||
                ::setresuid(nobody_uid, nobody_uid, nobody_uid) != 0)
                return false;
        }
        return body();
    });
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& text) {
    make_parents(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

} // namespace testing_support
