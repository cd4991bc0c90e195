// The crash report: real crashes in child processes (the report's lines, the
// exit by the same signal, planted links and files left alone), the dialog
// texts' language, and the dialog script run by bash with stand-ins for
// zenity and xdg-open.
#include "crash_handler.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct CrashEnv {
    std::string runtime_dir;
    std::string path_dir; // a PATH without zenity, or with stand-ins
    const char* lang = "C";
};

// Installs the handler in a child and dies of `sig`; returns run_in_child's
// status (128 + signal when the signal ended it).
int crash_in_child(const CrashEnv& env, int sig) {
    return run_in_child([&] {
        ::setenv("XDG_RUNTIME_DIR", env.runtime_dir.c_str(), 1);
        ::setenv("PATH", env.path_dir.c_str(), 1);
        ::setenv("LANG", env.lang, 1);
        ::unsetenv("LANGUAGE");
        ::unsetenv("LC_ALL");
        ::setenv("SNAP_REVISION", "42", 1);
        ::unsetenv("SNAP_VERSION");
        ::setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
        ::unsetenv("XDG_SESSION_TYPE");
        CrashHandler::install();
        if (sig == SIGABRT) std::abort();
        ::raise(sig);
        return true;
    });
}

std::string find_python3() {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const std::string p = std::string(dir) + "/python3";
        if (::access(p.c_str(), X_OK) == 0) return p;
    }
    return {};
}

// Decodes %XX escapes (what urllib.parse.quote made).
std::string percent_decode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

} // namespace

TEST(CrashReport, ASegfaultWritesTheReportAndEndsByTheSameSignal) {
    TempTree tree;
    const CrashEnv env{tree.dir("run"), tree.dir("bin")};
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(crash_in_child(env, SIGSEGV), 128 + SIGSEGV);
    const std::time_t after = std::time(nullptr);

    const std::string report_path = env.runtime_dir + "/Spacemole_crash.txt";
    struct stat st {};
    ASSERT_EQ(::lstat(report_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const auto lines = lines_of(read_file(report_path));
    ASSERT_GE(lines.size(), 12u);

    struct utsname uts {};
    ASSERT_EQ(::uname(&uts), 0);
    const std::vector<std::string> head = {
        "=== Spacemole Crash Report ===",
        "Version: " SPACEMOLE_VERSION " (Build 1008)",
        "Snap revision: 42",
        "Signal: SIGSEGV (Segmentation fault) (11)",
    };
    for (std::size_t i = 0; i < head.size(); ++i)
        EXPECT_EQ(lines[i], head[i]);

    ASSERT_EQ(lines[4].rfind("Time: ", 0), 0u) << lines[4];
    struct tm parsed {};
    ASSERT_NE(::strptime(lines[4].c_str() + 6, "%Y-%m-%d %H:%M:%S", &parsed), nullptr) << lines[4];
    parsed.tm_isdst = -1;
    const std::time_t stamped = std::mktime(&parsed);
    EXPECT_GE(stamped, before - 1);
    EXPECT_LE(stamped, after + 1);

    EXPECT_EQ(lines[5],
              std::string("System: ") + uts.sysname + " " + uts.release + " " + uts.machine);
    EXPECT_EQ(lines[6], "Desktop: GNOME (unknown)");
    EXPECT_EQ(lines[7], "Snap: no");
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[9], "Backtrace:");
    EXPECT_NE(lines[10], "") << "at least one frame";
    EXPECT_LE(lines.size(), 9u + 1 + 32 + 2);
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines.back(), "=== End Report ===");
}

TEST(CrashReport, AbortIsReportedAsSuchAndAnOldReportIsReplaced) {
    TempTree tree;
    const CrashEnv env{tree.dir("run"), tree.dir("bin")};
    const std::string report_path = env.runtime_dir + "/Spacemole_crash.txt";
    write_file(report_path, std::string(100000, 'o'));
    ::chmod(report_path.c_str(), 0600);
    EXPECT_EQ(crash_in_child(env, SIGABRT), 128 + SIGABRT);
    const std::string report = read_file(report_path);
    const auto lines = lines_of(report);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "=== Spacemole Crash Report ===");
    EXPECT_EQ(lines[3], "Signal: SIGABRT (Abort) (6)");
    EXPECT_EQ(report.find("ooo"), std::string::npos) << "the old text was truncated";
}

TEST(CrashReport, PlantedLinksFifosAndForeignFilesAreNeverWrittenThrough) {
    TempTree tree;
    const CrashEnv env{tree.dir("run"), tree.dir("bin")};
    const std::string report_path = env.runtime_dir + "/Spacemole_crash.txt";
    const std::string target = tree.path("victim.txt");
    write_file(target, "precious");
    {
        SCOPED_TRACE("symlink");
        ASSERT_EQ(::symlink(target.c_str(), report_path.c_str()), 0);
        EXPECT_EQ(crash_in_child(env, SIGSEGV), 128 + SIGSEGV);
        EXPECT_EQ(read_file(target), "precious");
        struct stat st {};
        ASSERT_EQ(::lstat(report_path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        ::unlink(report_path.c_str());
    }
    {
        SCOPED_TRACE("hard link");
        ASSERT_EQ(::link(target.c_str(), report_path.c_str()), 0);
        EXPECT_EQ(crash_in_child(env, SIGSEGV), 128 + SIGSEGV);
        EXPECT_EQ(read_file(target), "precious");
        ::unlink(report_path.c_str());
    }
    {
        SCOPED_TRACE("fifo without reader: no hang, no report");
        ASSERT_EQ(::mkfifo(report_path.c_str(), 0600), 0);
        EXPECT_EQ(crash_in_child(env, SIGSEGV), 128 + SIGSEGV);
        ::unlink(report_path.c_str());
    }
    if (::geteuid() == 0) {
        SCOPED_TRACE("a file of another user");
        write_file(report_path, "theirs");
        ASSERT_EQ(::chown(report_path.c_str(), 65534, 65534), 0);
        EXPECT_EQ(crash_in_child(env, SIGSEGV), 128 + SIGSEGV);
        EXPECT_EQ(read_file(report_path), "theirs");
    }
}

TEST(CrashReport, DialogLanguageFollowsTheLanguageVariables) {
    using crash_report::Language;
    struct Case {
        const char* language;
        const char* lc_all;
        const char* lang;
        Language expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, Language::English},
        {nullptr, nullptr, "de_DE.UTF-8", Language::German},
        {"de:en", nullptr, "en_US.UTF-8", Language::German},
        {nullptr, "de_AT", nullptr, Language::German},
        {"", "", "", Language::English},
        {nullptr, nullptr, "d", Language::English},
        {nullptr, nullptr, "fr_FR", Language::English},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(crash_report::dialog_language(c.language, c.lc_all, c.lang), c.expected)
            << (c.language ? c.language : "-") << " " << (c.lc_all ? c.lc_all : "-") << " "
            << (c.lang ? c.lang : "-");
    }
    EXPECT_EQ(crash_report::dialog_texts(Language::German).send, "Absturzbericht senden");
    EXPECT_EQ(crash_report::dialog_texts(Language::English).cancel, "Don't send");
}

TEST(CrashReport, TimeTextMatchesTheCalendar) {
    for (int64_t t : {int64_t{0}, int64_t{951782400} /* 2000-02-29 */,
                      int64_t{4102444799} /* 2099-12-31 23:59:59 */}) {
        const std::time_t tt = static_cast<std::time_t>(t);
        struct tm utc {};
        ::gmtime_r(&tt, &utc);
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &utc);
        char got[20];
        crash_report::format_time(t, got);
        EXPECT_STREQ(got, expected) << t;
    }
}

TEST(CrashReport, ReportPathFallsBackToTmp) {
    EXPECT_EQ(crash_report::report_path("/run/user/1000"), "/run/user/1000/Spacemole_crash.txt");
    EXPECT_EQ(crash_report::report_path(nullptr), "/tmp/Spacemole_crash.txt");
    EXPECT_EQ(crash_report::report_path("relative"), "/tmp/Spacemole_crash.txt");
}

// The dialog script under bash, with a zenity that answers and an xdg-open
// that records the mail link; hostile text in the subject and the typed
// description stays text.
class DialogScript : public ::testing::Test {
protected:
    void SetUp() override {
        m_python = find_python3();
        if (m_python.empty()) GTEST_SKIP() << "python3 is not installed";
        m_bin = m_tree.dir("bin");
        ASSERT_EQ(::symlink(m_python.c_str(), (m_bin + "/python3").c_str()), 0);
        fake("xdg-open", "printf '%s' \"$1\" > " + crash_report::shell_quote(m_tree.path("mail")));
        m_report = m_tree.path("report.txt");
        write_file(m_report, "=== Report ===\nBacktrace: a&b c%d\n");
    }

    void fake(const std::string& name, const std::string& body) {
        const std::string p = m_bin + "/" + name;
        write_file(p, "#!/bin/bash\n" + body + "\n");
        ::chmod(p.c_str(), 0755);
    }

    // bash -c SCRIPT bash SUBJECT with the report on descriptor 3.
    int run(const std::string& script, const std::string& subject) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(m_report.c_str(), O_WRONLY | O_APPEND);
            if (fd < 0 || ::dup2(fd, 3) < 0) ::_exit(126);
            ::setenv("PATH", m_bin.c_str(), 1);
            ::execl("/bin/bash", "bash", "-c", script.c_str(), "bash", subject.c_str(), nullptr);
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempTree m_tree;
    std::string m_python, m_bin, m_report;
};

TEST_F(DialogScript, SendsTheDescribedReportByMail) {
    const std::string pwned = m_tree.path("pwned");
    // Records its arguments one per line, then "types" a hostile description.
    fake("zenity", "printf '%s\\n' \"$@\" > " + crash_report::shell_quote(m_tree.path("args")) +
                       "\nprintf '%s' 'clicked $(touch " + pwned + ") and `id` \"x\"'");
    const auto texts = crash_report::dialog_texts(crash_report::Language::English);
    const std::string subject = "Spacemole Crash: SIGSEGV (x) - $(touch " + pwned + ") '\"&?";
    EXPECT_EQ(run(crash_report::dialog_script(texts, "support@spacemole.example.org"), subject), 0);

    EXPECT_EQ(lines_of(read_file(m_tree.path("args"))),
              (std::vector<std::string>{
                  "--text-info", "--editable",
                  "--title=Spacemole - Can you describe when the error occurred?", "--width=500",
                  "--height=250", "--ok-label=Send crash report", "--cancel-label=Don't send"}));
    const std::string description = "clicked $(touch " + pwned + ") and `id` \"x\"";
    const std::string full_report =
        "=== Report ===\nBacktrace: a&b c%d\n\nUser description:\n" + description + "\n";
    EXPECT_EQ(read_file(m_report), full_report);

    const std::string mail = read_file(m_tree.path("mail"));
    const std::string prefix = "mailto:support@spacemole.example.org?subject=";
    ASSERT_EQ(mail.rfind(prefix, 0), 0u) << mail;
    const std::size_t body_at = mail.find("&body=");
    ASSERT_NE(body_at, std::string::npos) << mail;
    EXPECT_EQ(percent_decode(mail.substr(prefix.size(), body_at - prefix.size())), subject);
    EXPECT_EQ(percent_decode(mail.substr(body_at + 6)), full_report);
    EXPECT_NE(::access(pwned.c_str(), F_OK), 0) << "nothing was executed";
}

TEST_F(DialogScript, CancellingSendsNothingAndKeepsTheReport) {
    fake("zenity", "exit 1");
    const auto texts = crash_report::dialog_texts(crash_report::Language::German);
    EXPECT_EQ(run(crash_report::dialog_script(texts, "support@spacemole.example.org"), "s"), 0);
    EXPECT_EQ(read_file(m_report), "=== Report ===\nBacktrace: a&b c%d\n");
    EXPECT_NE(::access(m_tree.path("mail").c_str(), F_OK), 0);
}

// The whole road after a real crash with German settings: the handler's child
// runs the dialog (a stand-in that types a description), appends it to the
// report and hands the mail link to xdg-open (a stand-in writing to a FIFO the
// test waits on, so no sleeping).
TEST_F(DialogScript, ARealCrashOffersTheGermanDialogAndMailsTheReport) {
    const std::string fifo = m_tree.path("mail.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    fake("zenity", "printf '%s\\n' \"$@\" > " + crash_report::shell_quote(m_tree.path("args")) +
                       "\nprintf 'Beim Speichern'");
    fake("xdg-open", "printf '%s\\n' \"$1\" > " + crash_report::shell_quote(fifo));

    const CrashEnv env{m_tree.dir("run"), m_bin, "de_DE.UTF-8"};
    EXPECT_EQ(crash_in_child(env, SIGSEGV), 128 + SIGSEGV);

    std::string mail;
    while (mail.empty() || mail.back() != '\n') {
        pollfd pfd{reader, POLLIN, 0};
        if (::poll(&pfd, 1, 20000) <= 0) break;
        char buf[65536];
        const ssize_t n = ::read(reader, buf, sizeof buf);
        if (n > 0) mail.append(buf, static_cast<std::size_t>(n));
    }
    ::close(reader);
    ASSERT_FALSE(mail.empty()) << "xdg-open was never called";

    const auto args = lines_of(read_file(m_tree.path("args")));
    ASSERT_EQ(args.size(), 7u);
    EXPECT_EQ(args[2],
              "--title=Spacemole - Können Sie beschreiben, wann der Fehler aufgetreten ist?");
    EXPECT_EQ(args[6], "--cancel-label=Nicht senden");

    const std::string report = read_file(env.runtime_dir + "/Spacemole_crash.txt");
    EXPECT_NE(report.find("=== End Report ===\n\nUser description:\nBeim Speichern\n"),
              std::string::npos)
        << report;
    const std::size_t body_at = mail.find("&body=");
    ASSERT_NE(body_at, std::string::npos);
    EXPECT_EQ(percent_decode(mail.substr(body_at + 6, mail.size() - body_at - 7)), report);
    const std::string subject = percent_decode(mail.substr(0, body_at));
    EXPECT_EQ(subject.rfind("mailto:support@spacemole.example.org?subject=Spacemole Crash: "
                            "SIGSEGV (Segmentation fault) - ",
                            0),
              0u)
        << subject;
}
