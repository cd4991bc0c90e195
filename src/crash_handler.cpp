#include "crash_handler.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "unique_fd.h"

extern char** environ;

namespace crash_report {

namespace {

bool begins_with_de(const char* value) {
    return value != nullptr && value[0] == 'd' && value[1] == 'e';
}

} // namespace

Language dialog_language(const char* language, const char* lc_all, const char* lang) {
    return begins_with_de(language) || begins_with_de(lc_all) || begins_with_de(lang)
               ? Language::German
               : Language::English;
}

DialogTexts dialog_texts(Language language) {
    if (language == Language::German)
        return {"Spacemole - Können Sie beschreiben, wann der Fehler aufgetreten ist?",
                "Absturzbericht senden", "Nicht senden"};
    return {"Spacemole - Can you describe when the error occurred?", "Send crash report",
            "Don't send"};
}

std::string_view signal_description(int sig) {
    switch (sig) {
    case SIGILL:
        return "SIGILL (Illegal instruction)";
    case SIGTRAP:
        return "SIGTRAP (Trap \u2014 usually a fatal GLib/GTK error)";
    case SIGABRT:
        return "SIGABRT (Abort)";
    case SIGBUS:
        return "SIGBUS (Bus error)";
    case SIGFPE:
        return "SIGFPE (Floating point exception)";
    case SIGSEGV:
        return "SIGSEGV (Segmentation fault)";
    default:
        return "Unknown signal";
    }
}

std::string report_path(const char* xdg_runtime_dir) {
    const std::string dir =
        xdg_runtime_dir != nullptr && xdg_runtime_dir[0] == '/' ? xdg_runtime_dir : "/tmp";
    return dir + "/" + std::string(REPORT_NAME);
}

std::string shell_quote(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string dialog_script(const DialogTexts& texts, std::string_view support_address) {
    // zenity reads its initial text from standard input: give it nothing.
    std::string s = "desc=$(zenity --text-info --editable " +
                    shell_quote("--title=" + std::string(texts.title)) +
                    " --width=500 --height=250 " +
                    shell_quote("--ok-label=" + std::string(texts.send)) + " " +
                    shell_quote("--cancel-label=" + std::string(texts.cancel)) +
                    " </dev/null 2>/dev/null) || exit 0\n";
    s += "printf '\\nUser description:\\n%s\\n' \"$desc\" >&3\n";
    s += "body=$(python3 -c 'import urllib.parse; "
         "print(urllib.parse.quote(open(\"/dev/fd/3\", encoding=\"utf-8\", "
         "errors=\"replace\").read()))' 2>/dev/null)\n";
    s += "subject=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "
         "\"$1\" 2>/dev/null)\n";
    s += "xdg-open " + shell_quote("mailto:" + std::string(support_address) + "?subject=") +
         "\"$subject\"'&body='\"$body\" </dev/null >/dev/null 2>&1\n";
    s += "exit 0\n";
    return s;
}

void format_time(int64_t local_seconds, char (&out)[20]) {
    int64_t days = local_seconds / 86400;
    int64_t rest = local_seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        days -= 1;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);

    const int64_t fields[] = {year, month, day, rest / 3600, rest / 60 % 60, rest % 60};
    const int widths[] = {4, 2, 2, 2, 2, 2};
    const char separators[] = {'-', '-', ' ', ':', ':', '\0'};
    int pos = 0;
    for (int i = 0; i < 6; ++i) {
        int64_t v = fields[i] < 0 ? 0 : fields[i];
        for (int d = widths[i] - 1; d >= 0; --d) {
            out[pos + d] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        pos += widths[i];
        out[pos++] = separators[i];
    }
}

std::string report_head(const char* snap_revision) {
    std::string s = "=== " + std::string(PRODUCT) + " Crash Report ===\n";
    s += "Version: " + std::string(VERSION) + " (Build " + std::string(BUILD) + ")\n";
    if (snap_revision != nullptr && snap_revision[0] != '\0')
        s += "Snap revision: " + std::string(snap_revision) + "\n";
    return s;
}

std::string report_environment(std::string_view system, const char* desktop, const char* session,
                               const char* snap_version) {
    std::string s;
    if (!system.empty()) s += "System: " + std::string(system) + "\n";
    s += "Desktop: " + std::string(desktop ? desktop : "unknown") + " (" +
         std::string(session ? session : "unknown") + ")\n";
    s += snap_version ? "Snap: yes (v" + std::string(snap_version) + ")\n" : "Snap: no\n";
    return s;
}

} // namespace crash_report

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL, SIGTRAP};

// Fixed-size text filled at install time and only read by the handler.
template <std::size_t N>
struct Text {
    std::array<char, N> data{};
    std::size_t size = 0;

    void set(std::string_view s) {
        size = s.size() < N - 1 ? s.size() : N - 1;
        std::memcpy(data.data(), s.data(), size);
        data[size] = '\0';
    }
    // Handler side: appends without allocating, cutting at capacity.
    void append(std::string_view s) {
        for (char c : s) {
            if (size + 1 >= N) break;
            data[size++] = c;
        }
        data[size] = '\0';
    }
    std::string_view view() const { return {data.data(), size}; }
    char* c_str() { return data.data(); }
};

struct Prepared {
    Text<4096> path;
    Text<1024> head;
    Text<1024> environment;
    Text<8192> script;
    Text<512> subject;
    long gmt_offset = 0;
    bool ready = false;
};

Prepared g_prepared;

void write_all(int fd, std::string_view text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Decimal text of a small non-negative number, into `buf`.
std::string_view decimal(int value, char (&buf)[16]) {
    unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
    int pos = 16;
    do {
        buf[--pos] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && pos > 0);
    return {buf + pos, static_cast<std::size_t>(16 - pos)};
}

// The report file, only when it is (or becomes) a regular file of ours with
// one link: no link or FIFO planted in a shared /tmp is written through, and
// nothing is truncated before that is known.
UniqueFd open_report(const char* path) {
    UniqueFd fd(
        ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600));
    if (!fd) return fd;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_nlink != 1 || ::ftruncate(fd.get(), 0) != 0)
        return UniqueFd();
    return fd;
}

void crash_handler(int sig) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);

    Prepared& p = g_prepared;
    UniqueFd report = p.ready ? open_report(p.path.c_str()) : UniqueFd();
    const int fd = report.get();
    if (fd < 0) {
        ::raise(sig);
        return;
    }

    const std::string_view description = crash_report::signal_description(sig);
    char number[16];
    char when[20];
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    crash_report::format_time(static_cast<int64_t>(now.tv_sec) + p.gmt_offset, when);

    write_all(fd, p.head.view());
    write_all(fd, "Signal: ");
    write_all(fd, description);
    write_all(fd, " (");
    write_all(fd, decimal(sig, number));
    write_all(fd, ")\nTime: ");
    write_all(fd, std::string_view(when, 19));
    write_all(fd, "\n");
    write_all(fd, p.environment.view());
    write_all(fd, "\nBacktrace:\n");
    void* frames[crash_report::MAX_FRAMES];
    const int count = ::backtrace(frames, crash_report::MAX_FRAMES);
    ::backtrace_symbols_fd(frames, count, fd);
    write_all(fd, "\n=== End Report ===\n");

    p.subject.size = 0;
    p.subject.append(crash_report::PRODUCT);
    p.subject.append(" Crash: ");
    p.subject.append(description);
    p.subject.append(" - ");
    p.subject.append(std::string_view(when, 19));

    // _Fork runs no atfork handlers, so it cannot block on a lock that the
    // crashed thread holds (glibc's fork takes the allocator's locks).
    const pid_t pid = ::_Fork();
    if (pid == 0) {
        ::setsid();
        if (fd == 3)
            ::fcntl(fd, F_SETFD, 0);
        else
            ::dup2(fd, 3);
        ::close_range(4, ~0U, 0);
        char bash[] = "bash";
        char dash_c[] = "-c";
        char* argv[] = {bash, dash_c, p.script.c_str(), bash, p.subject.c_str(), nullptr};
        ::execve("/bin/bash", argv, environ);
        ::_exit(0);
    }
    report.reset();
    ::raise(sig);
}

} // namespace

void CrashHandler::install() {
    using namespace crash_report;
    Prepared& p = g_prepared;
    p.path.set(report_path(std::getenv("XDG_RUNTIME_DIR")));
    p.head.set(report_head(std::getenv("SNAP_REVISION")));

    std::string system;
    struct utsname uts {};
    if (::uname(&uts) == 0)
        system = std::string(uts.sysname) + " " + uts.release + " " + uts.machine;
    p.environment.set(report_environment(system, std::getenv("XDG_CURRENT_DESKTOP"),
                                         std::getenv("XDG_SESSION_TYPE"),
                                         std::getenv("SNAP_VERSION")));

    const Language language =
        dialog_language(std::getenv("LANGUAGE"), std::getenv("LC_ALL"), std::getenv("LANG"));
    p.script.set(dialog_script(dialog_texts(language), SUPPORT_ADDRESS));

    // Local time needs the time zone database, which the handler must not
    // touch: keep today's offset from UTC.
    ::tzset();
    const time_t now = ::time(nullptr);
    struct tm local {};
    p.gmt_offset = ::localtime_r(&now, &local) != nullptr ? local.tm_gmtoff : 0;

    // The first backtrace() loads the unwinder (dlopen, malloc): do it now.
    void* warm[1];
    ::backtrace(warm, 1);
    p.ready = true;

    struct sigaction sa {};
    sa.sa_handler = crash_handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;
    for (int sig : kFatalSignals)
        ::sigaction(sig, &sa, nullptr);
}
