// Packing a folder with the system's tar into a new archive next to it
// (shell_ops.h), never replacing a file that already has the name.
#include "shell_ops.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "i18n.h"
#include "paths.h"
#include "strutil.h"
#include "unique_fd.h"

namespace shell_ops {

// ---- Folder compression -----------------------------------------------------

namespace {
namespace pack {

// Keeps a descriptor clear of 0, 1 and 2, so that wiring the child's standard
// streams with dup2 can never overwrite another descriptor it still needs.
UniqueFd above_std_streams(int fd) {
    if (fd < 0 || fd > 2) return UniqueFd(fd);
    UniqueFd low(fd);
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
}

// The executable that execvp would pick for `name`, resolved before fork so
// that the child only calls execv. Empty elements (the working directory) are
// skipped on purpose.
std::string find_on_path(const char* name) {
    const char* env_path = std::getenv("PATH");
    const std::string_view search = env_path ? env_path : "/bin:/usr/bin";
    std::size_t start = 0;
    while (start <= search.size()) {
        std::size_t end = search.find(':', start);
        if (end == std::string_view::npos) end = search.size();
        const std::string_view dir = search.substr(start, end - start);
        if (!dir.empty()) {
            const std::string candidate = su::join_path(dir, name);
            struct stat st {};
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        start = end + 1;
    }
    return {};
}

bool name_taken(int dir_fd, const std::string& name) {
    struct stat st {};
    return ::fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Gives the finished temporary file the name `to` without replacing anything
// that appeared there meanwhile.
bool move_without_replacing(int dir_fd, const std::string& from, const std::string& to) {
    if (::renameat2(dir_fd, from.c_str(), dir_fd, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    // The file system knows no RENAME_NOREPLACE: link fails on an existing name.
    if (::linkat(dir_fd, from.c_str(), dir_fd, to.c_str(), 0) != 0) return false;
    ::unlinkat(dir_fd, from.c_str(), 0);
    return true;
}

// A hidden sibling for tar to write into, created exclusively so no other
// file (or planted link) is ever written through.
UniqueFd create_temporary(int dir_fd, std::string& name_out) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = ".spacemole-pack-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(counter.fetch_add(1)) + ".tar.gz.part";
        const int fd = ::openat(dir_fd, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            name_out = name;
            return above_std_streams(fd);
        }
        if (errno != EEXIST) break;
    }
    return UniqueFd();
}

// Feeds complete lines (and a final unterminated rest) to the progress rule.
class LineSplitter {
public:
    explicit LineSplitter(const ProgressFn& on_progress)
        : m_on_progress(on_progress) {}

    void feed(const char* data, std::size_t size) {
        m_text.append(data, size);
        std::size_t start = 0;
        for (std::size_t nl; (nl = m_text.find('\n', start)) != std::string::npos; start = nl + 1)
            line(std::string_view(m_text).substr(start, nl - start));
        m_text.erase(0, start);
        // A runaway line without line feed is not a progress line: keep memory bounded.
        if (m_text.size() > kMaxLine) m_text.clear();
    }
    void finish() {
        if (!m_text.empty()) line(m_text);
        m_text.clear();
    }

private:
    static constexpr std::size_t kMaxLine = 64 * 1024;
    void line(std::string_view text) {
        if (!m_on_progress) return;
        if (const auto bytes = progress_bytes_of_line(text)) m_on_progress(*bytes);
    }
    const ProgressFn& m_on_progress;
    std::string m_text;
};

// How often a running tar looks at its cancel flag.
constexpr int kCancelPollMs = 50;

bool is_set(const std::atomic<bool>* flag) {
    return flag && flag->load(std::memory_order_acquire);
}

// Runs tar with `argv`, its standard output going to `out_fd` and its
// standard error to the progress pipe (or /dev/null). With a cancel flag tar
// runs in a process group of its own, so that killing the group also stops
// the compressor it started. Returns the waitpid status, or -1 when tar could
// not be started.
int run_tar(const std::string& tar_path, const std::vector<std::string>& args, int out_fd,
            const ProgressFn& on_progress, const std::atomic<bool>* cancel) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    UniqueFd dev_null = above_std_streams(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!dev_null) return -1;
    UniqueFd read_end, write_end;
    const bool watch = on_progress || cancel;
    if (watch) {
        int p[2];
        if (::pipe2(p, O_CLOEXEC) != 0) return -1;
        read_end = above_std_streams(p[0]);
        write_end = above_std_streams(p[1]);
        if (!read_end || !write_end) return -1;
    }
    const int err_fd = watch ? write_end.get() : dev_null.get();

    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // Only async-signal-safe calls from here on: another thread may have
        // held a lock at the moment of fork. dup2 clears close-on-exec on the
        // copies; everything else of ours closes at exec.
        if (cancel) ::setpgid(0, 0);
        if (::dup2(out_fd, STDOUT_FILENO) < 0 || ::dup2(err_fd, STDERR_FILENO) < 0) ::_exit(127);
        // Descriptors that other threads opened without close-on-exec stay out of tar.
        ::close_range(3, ~0U, 0);
        ::execv(tar_path.c_str(), argv.data());
        ::_exit(127);
    }

    if (cancel) ::setpgid(pid, pid); // also here: whichever side runs first
    write_end.reset();
    if (watch) {
        LineSplitter lines(on_progress);
        char buf[512];
        for (;;) {
            if (cancel) {
                pollfd pfd{read_end.get(), POLLIN, 0};
                const int ready = ::poll(&pfd, 1, kCancelPollMs);
                if (is_set(cancel)) {
                    ::kill(-pid, SIGKILL);
                    ::kill(pid, SIGKILL);
                    break;
                }
                if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
            }
            const ssize_t n = ::read(read_end.get(), buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            lines.feed(buf, static_cast<std::size_t>(n));
        }
        lines.finish();
        read_end.reset();
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

} // namespace pack
} // namespace

std::string archive_name(std::string_view base, int n) {
    std::string name(base);
    if (n >= 2) name += " (" + std::to_string(n) + ")";
    return name + ".tar.gz";
}

std::optional<long> progress_bytes_of_line(std::string_view line) {
    const std::size_t at = line.find(TAR_PROGRESS_MARKER);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string rest(line.substr(at + TAR_PROGRESS_MARKER.size()));
    errno = 0;
    char* end = nullptr;
    const long long records = std::strtoll(rest.c_str(), &end, 10);
    if (end == rest.c_str() || errno == ERANGE || records <= 0) return std::nullopt;
    if (records > std::numeric_limits<long>::max() / TAR_BYTES_PER_BLOCK) return std::nullopt;
    return static_cast<long>(records) * TAR_BYTES_PER_BLOCK;
}

bool tar_succeeded(int wait_status) {
    if (!WIFEXITED(wait_status)) return false;
    const int code = WEXITSTATUS(wait_status);
    return code == 0 || code == 1;
}

bool can_write_archive_beside(const std::string& folder) {
    const std::string parent = su::parent_of(folder);
    if (parent.empty()) return false;
    const std::string probe =
        su::join_path(to_scan_path(parent), ".spacemole-write-test-" + std::to_string(::getpid()));
    const int fd =
        ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::string compress_folder(const std::string& folder, const ProgressFn& on_progress) {
    return compress_folder(folder, on_progress, nullptr);
}

std::string compress_folder(const std::string& folder, const ProgressFn& on_progress,
                            const std::atomic<bool>* cancel) {
    const std::string parent = su::parent_of(folder);
    const std::string base = su::basename_of(folder);
    if (parent.empty() || base.empty() || base == "." || base == "..") return {};
    const std::string scan_parent = to_scan_path(parent);

    const UniqueFd dir(::open(scan_parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return {};
    int first_free = 0;
    for (int n = 1; n <= TAR_MAX_NAME_NUMBER && first_free == 0; ++n) {
        if (!pack::name_taken(dir.get(), archive_name(base, n))) first_free = n;
    }
    if (first_free == 0) return {};

    const std::string tar_path = pack::find_on_path("tar");
    if (tar_path.empty()) return {};

    std::string temp_name;
    UniqueFd out = pack::create_temporary(dir.get(), temp_name);
    if (!out) return {};

    // The archive goes to standard output (our exclusive temporary file), so
    // tar never opens an archive path itself. "--" keeps a name such as "-rf"
    // from being read as options.
    std::vector<std::string> args{"tar"};
    if (on_progress) {
        args.push_back("--checkpoint=" + std::to_string(TAR_CHECKPOINT_BLOCKS));
        args.push_back("--checkpoint-action=echo=" + std::string(TAR_PROGRESS_MARKER) + " %u");
    }
    for (const char* a : {"-czf", "-", "-C"})
        args.emplace_back(a);
    args.push_back(scan_parent);
    args.emplace_back("--");
    args.push_back(base);

    const int status = pack::run_tar(tar_path, args, out.get(), on_progress, cancel);
    struct stat st {};
    const bool complete = status != -1 && tar_succeeded(status) && !pack::is_set(cancel) &&
                          ::fstat(out.get(), &st) == 0 && st.st_size > 0;
    out.reset();

    if (complete) {
        // Another program may have taken the name while tar ran: move on to
        // the next free one rather than replace it.
        for (int n = first_free; n <= TAR_MAX_NAME_NUMBER; ++n) {
            const std::string name = archive_name(base, n);
            if (pack::move_without_replacing(dir.get(), temp_name, name))
                return su::join_path(parent, name);
            if (errno != EEXIST) break;
        }
    }
    ::unlinkat(dir.get(), temp_name.c_str(), 0);
    return {};
}

} // namespace shell_ops
