#include "mount_namespace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_process.h"

namespace testing_support {

namespace {

bool write_text(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

} // namespace

// The child reports why the namespace was refused through a pipe; silence
// means the body ran.
NamespaceResult run_in_mount_namespace(const std::function<bool()>& body) {
    NamespaceResult result;
    int pipefd[2];
    std::fflush(nullptr);
    const pid_t pid = ::pipe2(pipefd, O_CLOEXEC) == 0 ? ::fork() : -1;
    if (pid < 0) {
        result.why = std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        ::close(pipefd[0]);
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        bool ok = ::unshare(CLONE_NEWNS | (uid != 0 ? CLONE_NEWUSER : 0)) == 0;
        if (ok && uid != 0) {
            write_text("/proc/self/setgroups", "deny");
            ok = write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") &&
                 write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n");
        }
        ok = ok && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        if (!ok) {
            const std::string why = std::strerror(errno);
            (void)!::write(pipefd[1], why.data(), why.size());
            ::_exit(2);
        }
        ::close(pipefd[1]);
        finish_child(body);
    }
    ::close(pipefd[1]);
    char buf[256];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) result.why.append(buf, static_cast<std::size_t>(n));
    ::close(pipefd[0]);
    result.status = wait_for_child(pid);
    result.available = result.why.empty();
    return result;
}

bool mount_tmpfs(const std::string& point, const std::string& options) {
    return ::mount("tmpfs", point.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

bool mount_bind(const std::string& source, const std::string& point) {
    return ::mount(source.c_str(), point.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

bool remount_read_only(const std::string& point) {
    return ::mount(nullptr, point.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

} // namespace testing_support
