// Owners for kernel descriptors and directory streams.
//
// `UniqueFd` owns one descriptor and is move-only; -1 means "owns nothing".
// Any thread may use its own owner. Every member is noexcept and calls only
// ::close, so an owner may live in a signal handler. `close()` closes now and
// reports whether the kernel accepted it (false also when nothing was owned),
// for writers that must know their data reached the file. `DirPtr` owns a
// DIR* from opendir/fdopendir and closedirs it.
#pragma once

#include <memory>
#include <utility>

#include <dirent.h>
#include <unistd.h>

class UniqueFd {
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept
        : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return m_fd; }
    bool valid() const noexcept { return m_fd >= 0; }
    explicit operator bool() const noexcept { return m_fd >= 0; }

    // Gives the descriptor up without closing it.
    int release() noexcept { return std::exchange(m_fd, -1); }

    // Closes what is owned (errors ignored) and takes `fd` instead.
    void reset(int fd = -1) noexcept {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

    bool close() noexcept { return ::close(std::exchange(m_fd, -1)) == 0; }

private:
    int m_fd = -1;
};

struct DirCloser {
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;
