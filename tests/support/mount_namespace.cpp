#include "mount_namespace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
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

NamespaceResult run_in_mount_namespace(const std::function<bool()>& body) {
    NamespaceResult result;
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0) {
        result.why = std::strerror(errno);
        return result;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.why = std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        ::close(pipefd[0]);
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        int flags = CLONE_NEWNS;
        if (uid != 0) flags |= CLONE_NEWUSER;
        int err = 0;
        if (::unshare(flags) != 0) {
            err = errno;
        } else if (uid != 0) {
            write_text("/proc/self/setgroups", "deny");
            if (!write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
                !write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
                err = errno ? errno : EPERM;
        }
        if (err == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            err = errno;
        const char status = err == 0 ? 'y' : 'n';
        (void)!::write(pipefd[1], &status, 1);
        if (err != 0) {
            const std::string msg = std::strerror(err);
            (void)!::write(pipefd[1], msg.data(), msg.size());
            ::_exit(2);
        }
        ::close(pipefd[1]);
        finish_child(body);
    }
    ::close(pipefd[1]);
    std::string reply;
    char buf[256];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        reply.append(buf, static_cast<std::size_t>(n));
    }
    ::close(pipefd[0]);
    const int status = wait_for_child(pid);
    if (reply.empty() || reply[0] != 'y') {
        result.why = reply.size() > 1 ? reply.substr(1) : "the child did not start";
        return result;
    }
    result.available = true;
    result.status = status;
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

bool mount_overlay(const std::string& scratch, const std::string& point,
                   const std::string& source) {
    for (const char* sub : {"", "/lower", "/upper", "/work"})
        ::mkdir((scratch + sub).c_str(), 0755);
    const std::string options = "lowerdir=" + scratch + "/lower,upperdir=" + scratch +
                                "/upper,workdir=" + scratch + "/work";
    return ::mount(source.c_str(), point.c_str(), "overlay", 0, options.c_str()) == 0;
}

} // namespace testing_support
