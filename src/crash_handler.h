// Crash report on a fatal signal.
//
// CrashHandler::install() is the first thing main() does. It prepares
// everything the handler needs (report path, fixed report lines, dialog script,
// the local time offset) and installs one handler for SIGSEGV, SIGABRT,
// SIGFPE, SIGBUS, SIGILL and SIGTRAP. The handler itself only makes
// async-signal-safe calls (plain write(2), no malloc, no stdio, no locks), so
// a crash inside the allocator or stdio still gets its report. It writes
// $XDG_RUNTIME_DIR/Spacemole_crash.txt (else /tmp/...), but only into a
// regular file of the user's own that is no link, then forks a child that
// offers to mail the report and lets the signal end the process as it would
// have anyway.
//
// The functions in crash_report are the pure pieces, exposed for tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CrashHandler {
public:
    static void install();
};

namespace crash_report {

inline constexpr std::string_view PRODUCT = "Spacemole";
inline constexpr std::string_view VERSION = SPACEMOLE_VERSION;
inline constexpr std::string_view BUILD = "1008";
inline constexpr std::string_view SUPPORT_ADDRESS = "support@spacemole.example.org";
inline constexpr std::string_view REPORT_NAME = "Spacemole_crash.txt";
inline constexpr int MAX_FRAMES = 32;

enum class Language { English, German };

// German when any of LANGUAGE, LC_ALL, LANG (null: unset) begins with "de".
Language dialog_language(const char* language, const char* lc_all, const char* lang);

struct DialogTexts {
    std::string_view title;
    std::string_view send;
    std::string_view cancel;
};
DialogTexts dialog_texts(Language language);

// "SIGSEGV (Segmentation fault)" ...; "Unknown signal" for others.
std::string_view signal_description(int sig);

// $XDG_RUNTIME_DIR when it is an absolute path, else /tmp; plus REPORT_NAME.
std::string report_path(const char* xdg_runtime_dir);

// One word for bash, taken literally whatever it holds.
std::string shell_quote(std::string_view text);

// The bash script of the mail dialog. Run as: bash -c SCRIPT bash SUBJECT,
// with the report open for appending on descriptor 3. Nothing variable is
// spliced into it: the subject travels as an argument, the report as a
// descriptor, and the fixed texts are quoted.
std::string dialog_script(const DialogTexts& texts, std::string_view support_address);

// "YYYY-MM-DD HH:MM:SS" of seconds since the epoch already shifted to local
// time; no locale, no locks. Writes 19 characters and a terminating NUL.
void format_time(int64_t local_seconds, char (&out)[20]);

// Report lines 1-3 (title, version, snap revision when not empty).
std::string report_head(const char* snap_revision);
// The System, Desktop and Snap lines; `system` empty leaves the System line out.
std::string report_environment(std::string_view system, const char* desktop, const char* session,
                               const char* snap_version);

} // namespace crash_report
