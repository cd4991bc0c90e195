#include "mount_namespace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
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

// A refused namespace ends the child with kRefused + errno, an exit status the
// body (0, 1 or 128 + signal) never gives.
NamespaceResult run_in_mount_namespace(const std::function<bool()>& body) {
    constexpr int kRefused = 64;
    NamespaceResult result;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.why = std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        bool ok = ::unshare(CLONE_NEWNS | (uid != 0 ? CLONE_NEWUSER : 0)) == 0;
        if (ok && uid != 0) {
            write_text("/proc/self/setgroups", "deny");
            ok = write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") &&
                 write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n");
        }
        ok = ok && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        if (!ok) ::_exit(kRefused + std::min(errno, 63));
        finish_child(body);
    }
    result.status = wait_for_child(pid);
    result.available = result.status < kRefused || result.status >= 128;
    if (!result.available) result.why = std::strerror(result.status - kRefused);
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
