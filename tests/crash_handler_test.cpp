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
#include <unistd.h>
#include <vector>

#include <glib.h>
#include <gtest/gtest.h>

#include "child_process.h"
#include "temp_tree.h"

using namespace testing_support;
using crash_report::shell_quote;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Installs the handler in a child with these settings and dies of `sig`;
// returns 128 + the signal that ended it.
int crash_in_child(const std::string& runtime_dir, const std::string& path, int sig,
                   const char* lang = "C") {
    return run_in_child([&] {
        ::setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
        ::setenv("PATH", path.c_str(), 1); // without zenity, or with stand-ins
        ::setenv("LANG", lang, 1);
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

void fake(const std::string& bin, const std::string& name, const std::string& body) {
    write_file(bin + "/" + name, "#!/bin/bash\n" + body + "\n");
    ::chmod((bin + "/" + name).c_str(), 0755);
}

std::string percent_decode(const std::string& s) {
    g_autofree char* out = g_uri_unescape_string(s.c_str(), nullptr);
    return out != nullptr ? out : "";
}

} // namespace

TEST(CrashReport, TheReportReplacesAnOldOneAndTheProcessEndsByTheSameSignal) {
    for (const auto& [sig, line] : {std::pair{SIGSEGV, "Signal: SIGSEGV (Segmentation fault) (11)"},
                                    std::pair{SIGABRT, "Signal: SIGABRT (Abort) (6)"}}) {
        TempTree tree;
        const std::string report_path = tree.dir("run") + "/Spacemole_crash.txt";
        write_file(report_path, std::string(100000, 'o'));
        ::chmod(report_path.c_str(), 0600);
        const std::time_t before = std::time(nullptr);
        EXPECT_EQ(crash_in_child(tree.path("run"), tree.dir("bin"), sig), 128 + sig);
        const std::time_t after = std::time(nullptr);

        struct stat st {};
        ASSERT_EQ(::lstat(report_path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        auto lines = lines_of(read_file(report_path));
        ASSERT_GE(lines.size(), 12u);
        // The time is local, to the second.
        struct tm parsed {};
        ASSERT_NE(::strptime(lines[4].c_str(), "Time: %Y-%m-%d %H:%M:%S", &parsed), nullptr);
        parsed.tm_isdst = -1;
        EXPECT_GE(std::mktime(&parsed), before - 1);
        EXPECT_LE(std::mktime(&parsed), after + 1);
        struct utsname uts {};
        ASSERT_EQ(::uname(&uts), 0);
        EXPECT_EQ(
            std::vector(lines.begin(), lines.begin() + 10),
            (std::vector<std::string>{
                "=== Spacemole Crash Report ===", "Version: " SPACEMOLE_VERSION " (Build 1008)",
                "Snap revision: 42", line, lines[4],
                std::string("System: ") + uts.sysname + " " + uts.release + " " + uts.machine,
                "Desktop: GNOME (unknown)", "Snap: no", "", "Backtrace:"}));
        EXPECT_NE(lines[10], "") << "at least one frame";
        EXPECT_LE(lines.size(), 9u + 1 + 32 + 2);
        // Nothing of the old text is left.
        EXPECT_EQ(std::vector(lines.end() - 2, lines.end()),
                  (std::vector<std::string>{"", "=== End Report ==="}));
    }
}

TEST(CrashReport, PlantedLinksFifosAndForeignFilesAreNeverWrittenThrough) {
    TempTree tree;
    const std::string report_path = tree.dir("run") + "/Spacemole_crash.txt";
    const std::string target = tree.path("victim.txt");
    write_file(target, "precious");
    const auto crash = [&] {
        EXPECT_EQ(crash_in_child(tree.path("run"), tree.dir("bin"), SIGSEGV), 128 + SIGSEGV);
    };
    // A fifo without reader must not hang the handler either.
    for (const auto plant : {::symlink, ::link, +[](const char*, const char* at) noexcept {
                                 return ::mkfifo(at, 0600);
                             }}) {
        struct stat planted {
        }, after{};
        ASSERT_EQ(plant(target.c_str(), report_path.c_str()), 0);
        ASSERT_EQ(::lstat(report_path.c_str(), &planted), 0);
        crash();
        EXPECT_EQ(read_file(target), "precious");
        ASSERT_EQ(::lstat(report_path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, planted.st_ino) << "the planted entry stays";
        ::unlink(report_path.c_str());
    }
    if (::geteuid() == 0) {
        write_file(report_path, "theirs");
        ASSERT_EQ(::chown(report_path.c_str(), 65534, 65534), 0);
        crash();
        EXPECT_EQ(read_file(report_path), "theirs");
    }
}

TEST(CrashReport, DialogLanguageTimeTextAndReportPath) {
    using crash_report::Language;
    struct Case {
        const char *language, *lc_all, *lang;
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
    for (const auto& c : cases)
        EXPECT_EQ(crash_report::dialog_language(c.language, c.lc_all, c.lang), c.expected)
            << &c - cases;

    // 1970, a leap day in February and the last second of 2099.
    const std::pair<int64_t, const char*> times[] = {{0, "1970-01-01 00:00:00"},
                                                     {951782400, "2000-02-29 00:00:00"},
                                                     {4102444799, "2099-12-31 23:59:59"}};
    for (const auto& [t, text] : times) {
        char got[20];
        crash_report::format_time(t, got);
        EXPECT_STREQ(got, text);
    }

    EXPECT_EQ(crash_report::report_path("/run/user/1000"), "/run/user/1000/Spacemole_crash.txt");
    EXPECT_EQ(crash_report::report_path(nullptr), "/tmp/Spacemole_crash.txt");
    EXPECT_EQ(crash_report::report_path("relative"), "/tmp/Spacemole_crash.txt");
}

// The dialog after a real crash with German settings: the handler's child
// runs the dialog script (a zenity stand-in that records its arguments and
// types a hostile description), appends the description to the report and
// hands the mail link to xdg-open (a stand-in writing to a FIFO the test waits
// on, so no sleeping). The description stays text.
TEST(CrashDialog, ARealCrashOffersTheGermanDialogAndMailsTheReport) {
    TempTree tree;
    const std::string bin = tree.dir("bin"), fifo = tree.path("mail.fifo");
    const std::string pwned = tree.path("pwned");
    if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "python3 is not installed";
    ASSERT_EQ(::symlink("/usr/bin/python3", (bin + "/python3").c_str()), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const std::string description = "Beim Speichern $(touch " + pwned + ") `id` \"x\" 'a'&b%";
    fake(bin, "zenity",
         "printf '%s\\n' \"$@\" > " + shell_quote(tree.path("args")) + "\nprintf '%s' " +
             shell_quote(description));
    fake(bin, "xdg-open", "printf '%s\\n' \"$1\" > " + shell_quote(fifo));
    EXPECT_EQ(crash_in_child(tree.dir("run"), bin, SIGSEGV, "de_DE.UTF-8"), 128 + SIGSEGV);

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

    EXPECT_EQ(read_file(tree.path("args")),
              "--text-info\n--editable\n--title=Spacemole - Können Sie beschreiben, wann der "
              "Fehler aufgetreten ist?\n--width=500\n--height=250\n--ok-label=Absturzbericht "
              "senden\n--cancel-label=Nicht senden\n");
    const std::string report = read_file(tree.path("run/Spacemole_crash.txt"));
    EXPECT_NE(report.find("=== End Report ===\n\nUser description:\n" + description + "\n"),
              std::string::npos)
        << report;
    const std::string decoded = percent_decode(mail);
    EXPECT_TRUE(decoded.starts_with("mailto:support@spacemole.example.org?subject=Spacemole "
                                    "Crash: SIGSEGV (Segmentation fault) - "));
    EXPECT_TRUE(decoded.ends_with("&body=" + report + "\n")) << decoded;
    EXPECT_FALSE(exists(pwned)) << "nothing was executed";
}

// Cancelling the dialog mails nothing and leaves the report as it was.
TEST(CrashDialog, CancellingSendsNothing) {
    TempTree tree;
    const std::string bin = tree.dir("bin"), report = tree.path("report.txt");
    fake(bin, "zenity", "exit 1");
    fake(bin, "xdg-open", "touch " + shell_quote(tree.path("mail")));
    write_file(report, "=== Report ===\n");
    const std::string script = crash_report::dialog_script(
        crash_report::dialog_texts(crash_report::Language::English), "support@example.org");
    EXPECT_EQ(std::system(("PATH=" + bin + " /bin/bash -c " + shell_quote(script) + " bash s 3>>" +
                           shell_quote(report))
                              .c_str()),
              0);
    EXPECT_EQ(read_file(report), "=== Report ===\n");
    EXPECT_FALSE(exists(tree.path("mail")));
}
