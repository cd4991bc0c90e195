// spacemole-scan: the scan engine on the command line. Prints a report of
// where the space went (or the same as JSON), can export every entry, and
// reports on a saved scan (an export, ours or another tool's) as well.
//
// Exit status: 0 after a scan, 1 when the path cannot be scanned, the saved
// scan cannot be read or the export cannot be written, 2 for a usage error.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include "deletion_guard.h"
#include "file_node.h"
#include "paths.h"
#include "reclaimable.h"
#include "scanner.h"
#include "strutil.h"
#include "tree_export.h"
#include "tree_import.h"
#include "unique_fd.h"
#include "utf8.h"

namespace {

constexpr const char* kUsage =
    "usage: spacemole-scan [--top N] [--one-file-system] [--count-links] [--export FILE|-] "
    "[--json] [--threads N] PATH\n"
    "       spacemole-scan [--top N] [--count-links] [--json] --import FILE\n";

constexpr const char* kHelp =
    "Scans PATH and reports its occupied size, the largest folders and files and the\n"
    "junk that could be removed.\n"
    "\n"
    "  --top N            list N items in each ranking (default 10)\n"
    "  --one-file-system  do not enter other file systems mounted below PATH\n"
    "  --count-links      count every name of a multiply-linked file\n"
    "  --export FILE      write the whole tree as JSON to FILE ('-': standard output;\n"
    "                     the report then goes to standard error)\n"
    "  --import FILE      report on a saved scan (an export; '-': standard input)\n"
    "  --json             print the report as one JSON object\n"
    "  --threads N        read with N threads, 1 to 256 (default: as the window does);\n"
    "                     more can help on network or slow disks\n";

struct Args {
    std::string path;
    std::size_t top = 10;
    bool one_filesystem = false;
    bool count_links = false;
    bool json = false;
    bool has_export = false;
    std::string export_to;
    bool has_import = false;
    std::string import_from;
    int threads = 0; // 0: the scanner's default
};

// Empty on success, else the usage error.
std::string parse_args(int argc, char** argv, Args& args, bool& help) {
    enum : int { kTop = 256, kExport, kImport, kJson, kThreads };
    static const option kOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"top", required_argument, nullptr, kTop},
        {"one-file-system", no_argument, nullptr, 'x'},
        {"count-links", no_argument, nullptr, 'l'},
        {"export", required_argument, nullptr, kExport},
        {"import", required_argument, nullptr, kImport},
        {"json", no_argument, nullptr, kJson},
        {"threads", required_argument, nullptr, kThreads},
        {nullptr, 0, nullptr, 0},
    };
    ::opterr = 0; // our own messages, one line each
    ::optind = 1;
    // ":" first: a missing value is told apart from an unknown option.
    for (int c; (c = ::getopt_long(argc, argv, ":hxl", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 'h':
            help = true;
            break;
        case kTop: {
            const std::string v = ::optarg;
            char* end = nullptr;
            errno = 0;
            const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || errno != 0 || v[0] == '-' || n > 1000000)
                return "--top needs a number from 0 to 1000000";
            args.top = static_cast<std::size_t>(n);
            break;
        }
        case kThreads: {
            const std::string v = ::optarg;
            char* end = nullptr;
            errno = 0;
            const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || errno != 0 || v[0] == '-' || n < 1 || n > 256)
                return "--threads needs a number from 1 to 256";
            args.threads = static_cast<int>(n);
            break;
        }
        case 'x':
            args.one_filesystem = true;
            break;
        case 'l':
            args.count_links = true;
            break;
        case kExport:
            if (*::optarg == '\0') return "--export needs a file name or -";
            args.has_export = true;
            args.export_to = ::optarg;
            break;
        case kImport:
            if (*::optarg == '\0') return "--import needs a file name";
            args.has_import = true;
            args.import_from = ::optarg;
            break;
        case kJson:
            args.json = true;
            break;
        case ':':
            return std::string(argv[::optind - 1]) + " needs a value";
        default: {
            const char* arg = argv[::optind - 1];
            if (::optopt != 0 && arg[0] == '-' && arg[1] != '-')
                return std::string("unknown option -") + static_cast<char>(::optopt);
            return std::string("unknown option ") + arg;
        }
        }
    }
    if (help) return {};
    const int operands = argc - ::optind;
    if (args.has_import) {
        if (operands > 0) return "--import reads a saved scan; give no PATH with it";
        if (args.has_export)
            return "--export describes a live scan; it cannot be used with --import";
        if (args.one_filesystem) return "--one-file-system applies to a live scan, not to --import";
        return {};
    }
    if (operands == 0) return "missing PATH";
    if (operands > 1) return "only one PATH may be given";
    args.path = argv[::optind];
    return {};
}

std::string plain_size(std::int64_t bytes) {
    static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double v = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (v >= 1024.0 && unit + 1 < std::size(kUnits)) {
        v /= 1024.0;
        ++unit;
    }
    char out[32];
    std::snprintf(out, sizeof out,
                  v < 10    ? "%.2f %s"
                  : v < 100 ? "%.1f %s"
                            : "%.0f %s",
                  v, kUnits[unit]);
    return out;
}

// The N largest nodes seen, largest first.
class Ranking {
public:
    explicit Ranking(std::size_t limit)
        : m_limit(limit) {}
    void offer(const FileNodePtr& n) {
        if (m_limit == 0) return;
        if (m_items.size() == m_limit && n->size <= m_items.back()->size) return;
        auto at = m_items.begin();
        while (at != m_items.end() && (*at)->size >= n->size)
            ++at;
        m_items.insert(at, n);
        if (m_items.size() > m_limit) m_items.pop_back();
    }
    const std::vector<FileNodePtr>& items() const { return m_items; }

private:
    std::size_t m_limit;
    std::vector<FileNodePtr> m_items;
};

struct Report {
    std::int64_t folders = 0;
    std::int64_t items = 0;
    std::int64_t reclaimable = 0;
    Ranking folders_by_size;
    Ranking files_by_size;
    Ranking any_by_size;
    Ranking junk_by_size;
    explicit Report(std::size_t top)
        : folders_by_size(top)
        , files_by_size(top)
        , any_by_size(top)
        , junk_by_size(top) {}
};

void collect(const FileNodePtr& root, Report& r) {
    std::vector<FileNodePtr> stack{root};
    while (!stack.empty()) {
        const FileNodePtr node = std::move(stack.back());
        stack.pop_back();
        const FileNode& n = *node;
        ++r.items;
        const bool is_root = node == root;
        if (n.is_directory && !n.is_aggregate) {
            ++r.folders;
            if (!is_root) {
                r.folders_by_size.offer(node);
                r.any_by_size.offer(node);
            }
        } else if (!n.is_aggregate) {
            r.files_by_size.offer(node);
            r.any_by_size.offer(node);
        }
        for (const auto& c : n.children)
            stack.push_back(c);
    }
    // Junk counts as reclaimable only where the window would offer it too:
    // in the home and on removable media, and never what the guard protects.
    const auto guard_ok = [](const FileNode& n) { return !deletion_guard::is_protected(n.path); };
    for (const FileNodePtr& junk : reclaimable::collect(root, real_home(), guard_ok)) {
        r.junk_by_size.offer(junk);
        r.reclaimable += junk->size;
    }
}

void append_list(std::string& out, const char* key, const std::vector<FileNodePtr>& items) {
    out += ",\"";
    out += key;
    out += "\":[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ',';
        out += "{\"path\":";
        tree_export::append_json_string(out, items[i]->path);
        out += ",\"bytes\":" + std::to_string(items[i]->size);
        out += ",\"is_directory\":";
        out += items[i]->is_directory ? "true" : "false";
        out += '}';
    }
    out += ']';
}

// What the report says about where the tree came from.
struct Origin {
    int denied = 0;
    int skipped = 0;
    double seconds = 0;
    bool saved = false;         // read from a saved scan, not scanned now
    std::string file;           // the saved scan
    std::int64_t timestamp = 0; // when it was made
    int threads = 0;            // walkers that read the tree
};

std::string utc_time(std::int64_t t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    char out[32] = "unknown time";
    if (t > 0 && ::gmtime_r(&tt, &tm) != nullptr)
        std::strftime(out, sizeof out, "%Y-%m-%d %H:%M UTC", &tm);
    return out;
}

std::string json_report(const Args& args, const FileNode& root, const Report& r,
                        const Origin& origin) {
    std::string out = "{\"path\":";
    tree_export::append_json_string(out, root.path);
    out += ",\"total_bytes\":" + std::to_string(root.size);
    out += ",\"files\":" + std::to_string(root.file_count);
    out += ",\"folders\":" + std::to_string(r.folders);
    out += ",\"items\":" + std::to_string(r.items);
    out += ",\"denied_folders\":" + std::to_string(origin.denied);
    out += ",\"skipped_folders\":" + std::to_string(origin.skipped);
    out += ",\"reclaimable_bytes\":" + std::to_string(r.reclaimable);
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.3f", origin.seconds);
    out += ",\"seconds\":";
    out += secs;
    out += ",\"threads\":" + std::to_string(origin.saved ? 1 : origin.threads);
    out += ",\"cores\":" + std::to_string(scanner::total_core_count());
    out += ",\"count_links\":";
    out += args.count_links ? "true" : "false";
    out += ",\"one_file_system\":";
    out += args.one_filesystem ? "true" : "false";
    if (origin.saved) {
        out += ",\"saved_scan\":";
        tree_export::append_json_string(out, origin.file);
        out += ",\"saved_at\":" + std::to_string(origin.timestamp);
    }
    append_list(out, "largest", r.any_by_size.items());
    append_list(out, "largest_folders", r.folders_by_size.items());
    append_list(out, "largest_files", r.files_by_size.items());
    append_list(out, "junk", r.junk_by_size.items());
    out += "}\n";
    return out;
}

// One entry per line, even for names holding newlines, and nothing in a name
// that a terminal would obey or reorder.
std::string printable(std::string_view text) {
    return utf8::escape_for_terminal(text);
}

std::string text_report(const FileNode& root, const Report& r, const Origin& origin) {
    std::string out;
    char line[512];
    const auto row = [&](const char* label, const std::string& value) {
        std::snprintf(line, sizeof line, "  %-13s %s\n", label, value.c_str());
        out += line;
    };
    out += (origin.saved ? "Saved scan of " : "Scan of ") + printable(root.path) + "\n";
    if (origin.saved) row("Saved:", utc_time(origin.timestamp) + " in " + printable(origin.file));
    row("Occupied:", plain_size(root.size) + " (" + std::to_string(root.size) + " bytes)");
    row("Files:", std::to_string(root.file_count));
    row("Folders:", std::to_string(r.folders));
    row("No access:", std::to_string(origin.denied) + " folders");
    row("Not entered:", std::to_string(origin.skipped) + (origin.saved ? " items" : " mounts"));
    row("Reclaimable:", plain_size(r.reclaimable) + " of junk");
    if (origin.saved)
        std::snprintf(line, sizeof line, "%.2f s to read", origin.seconds);
    else
        std::snprintf(line, sizeof line, "%.2f s on %d threads (%d cores)", origin.seconds,
                      origin.threads, scanner::total_core_count());
    row("Time:", line);
    const auto list = [&](const char* title, const std::vector<FileNodePtr>& items) {
        if (items.empty()) return;
        out += "\n";
        out += title;
        out += "\n";
        for (const auto& n : items) {
            std::snprintf(line, sizeof line, "  %10s  ", plain_size(n->size).c_str());
            out += line;
            out += printable(n->path) + "\n";
        }
    };
    list("Largest folders", r.folders_by_size.items());
    list("Largest files", r.files_by_size.items());
    list("Largest junk", r.junk_by_size.items());
    return out;
}

// Rewrites one status line on a terminal while the scan runs.
class ProgressLine {
public:
    explicit ProgressLine(const ScanProgress& progress)
        : m_progress(progress) {
        m_thread = std::thread([this] { loop(); });
    }
    ~ProgressLine() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_cv.notify_all();
        m_thread.join();
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

private:
    void loop() {
        std::unique_lock lock(m_mutex);
        while (!m_cv.wait_for(lock, std::chrono::milliseconds(200), [this] { return m_stop; })) {
            const auto s = m_progress.snapshot();
            std::string current = printable(s.current);
            if (current.size() > 50) current = "..." + current.substr(current.size() - 47);
            std::fprintf(stderr, "\r\033[KScanning: %lld files, %s  %s",
                         static_cast<long long>(s.files), plain_size(s.bytes).c_str(),
                         current.c_str());
            std::fflush(stderr);
        }
    }

    const ScanProgress& m_progress;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stop = false;
    std::thread m_thread;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "spacemole-scan: %s\n", message.c_str());
    return 1;
}

// Prints the report of `root` to `out`; 0, or 1 when it cannot be written.
int print_report(const Args& args, const FileNodePtr& root, const Origin& origin, std::FILE* out) {
    Report report(args.top);
    collect(root, report);
    const std::string text =
        args.json ? json_report(args, *root, report, origin) : text_report(*root, report, origin);
    if (std::fputs(text.c_str(), out) < 0 || std::fflush(out) != 0)
        return fail(std::string("cannot write the report: ") + std::strerror(errno));
    return 0;
}

int report_saved_scan(const Args& args) {
    const auto started = std::chrono::steady_clock::now();
    tree_import::Options options;
    options.dedupe_hard_links = !args.count_links;
    const tree_import::Result saved = tree_import::load_file(args.import_from, options);
    if (!saved.root)
        return fail("cannot read the saved scan " + printable(args.import_from) + ": " +
                    printable(saved.error));
    Origin origin;
    origin.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    origin.saved = true;
    origin.file = args.import_from == "-" ? "standard input" : args.import_from;
    origin.timestamp = saved.timestamp;
    origin.denied = saved.denied;
    origin.skipped = saved.skipped;
    return print_report(args, saved.root, origin, stdout);
}

} // namespace

int main(int argc, char** argv) {
    Args args;
    bool help = false;
    if (const std::string error = parse_args(argc, argv, args, help); !error.empty()) {
        std::fprintf(stderr, "spacemole-scan: %s\n%s", printable(error).c_str(), kUsage);
        return 2;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (args.has_import) return report_saved_scan(args);

    // Refuse what cannot be scanned up front, rather than report an empty tree.
    struct stat st {};
    if (::stat(args.path.c_str(), &st) != 0)
        return fail("cannot read " + printable(args.path) + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) {
        const DirPtr dir(::opendir(args.path.c_str()));
        if (!dir)
            return fail("cannot open folder " + printable(args.path) + ": " + std::strerror(errno));
    }
    if (args.has_export && args.export_to != "-") {
        // Fail before a long scan, not after it, when the export cannot be written.
        const std::string dir = su::parent_of(args.export_to);
        if (::access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) != 0)
            return fail("cannot write " + printable(args.export_to) + ": " + std::strerror(errno));
    }

    ScanProgress progress;
    scanner::Options options;
    options.dedupe_hard_links = !args.count_links;
    options.one_filesystem = args.one_filesystem;
    options.threads = args.threads;
    tree_export::Recorder recorder;
    if (args.has_export) options.entry_sink = &recorder;
    const auto started = std::chrono::steady_clock::now();
    FileNodePtr root;
    {
        std::unique_ptr<ProgressLine> line;
        if (::isatty(STDERR_FILENO)) line = std::make_unique<ProgressLine>(progress);
        root = scanner::scan(args.path, progress, options);
    }
    Origin origin;
    origin.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    origin.denied = progress.denied_count();
    origin.skipped = progress.skipped_count();
    origin.threads = args.threads > 0 ? args.threads : scanner::worker_count();

    if (args.has_export) {
        const auto now = static_cast<std::int64_t>(std::time(nullptr));
        const auto write = [&](std::FILE* f) {
            return tree_export::write_export(f, args.path, recorder, now);
        };
        if (args.export_to == "-") {
            if (!write(stdout))
                return fail(std::string("cannot write the export to standard output: ") +
                            std::strerror(errno));
        } else if (const std::string error = tree_export::save_export(args.export_to, write);
                   !error.empty()) {
            return fail(printable(error));
        }
    }
    return print_report(args, root, origin, args.export_to == "-" ? stderr : stdout);
}
