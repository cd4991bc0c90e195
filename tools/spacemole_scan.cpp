// spacemole-scan: the scan engine on the command line. Prints a report of
// where the space went (or the same as JSON) and can export the whole tree.
//
// Exit status: 0 after a scan, 1 when the path cannot be scanned or the export
// cannot be written, 2 for a usage error.

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
#include <sys/stat.h>
#include <unistd.h>

#include "deletion_guard.h"
#include "file_node.h"
#include "paths.h"
#include "reclaimable.h"
#include "scanner.h"
#include "strutil.h"
#include "tree_export.h"
#include "unique_fd.h"

namespace {

constexpr const char* kUsage =
    "usage: spacemole-scan [--top N] [--one-file-system] [--count-links] [--export FILE|-] "
    "[--json] PATH\n";

constexpr const char* kHelp =
    "Scans PATH and reports its occupied size, the largest folders and files and the\n"
    "junk that could be removed.\n"
    "\n"
    "  --top N            list N items in each ranking (default 10)\n"
    "  --one-file-system  do not enter other file systems mounted below PATH\n"
    "  --count-links      count every name of a multiply-linked file\n"
    "  --export FILE      write the whole tree as JSON to FILE ('-': standard output;\n"
    "                     the report then goes to standard error)\n"
    "  --json             print the report as one JSON object\n";

struct Args {
    std::string path;
    std::size_t top = 10;
    bool one_filesystem = false;
    bool count_links = false;
    bool json = false;
    bool has_export = false;
    std::string export_to;
};

// Empty on success, else the usage error.
std::string parse_args(int argc, char** argv, Args& args, bool& help) {
    bool options_done = false;
    bool have_path = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        if (!options_done && a == "--") {
            options_done = true;
        } else if (!options_done && (a == "--help" || a == "-h")) {
            help = true;
        } else if (!options_done && (a == "--top" || su::starts_with(a, "--top="))) {
            std::string v;
            if (a == "--top" ? !value(v) : (v = a.substr(6), false)) return "--top needs a number";
            char* end = nullptr;
            errno = 0;
            const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || errno != 0 || v[0] == '-' || n > 1000000)
                return "--top needs a number from 0 to 1000000";
            args.top = static_cast<std::size_t>(n);
        } else if (!options_done && (a == "--one-file-system" || a == "-x")) {
            args.one_filesystem = true;
        } else if (!options_done && (a == "--count-links" || a == "-l")) {
            args.count_links = true;
        } else if (!options_done && a == "--json") {
            args.json = true;
        } else if (!options_done && (a == "--export" || su::starts_with(a, "--export="))) {
            std::string v;
            if (a == "--export" ? !value(v) : (v = a.substr(9), false))
                return "--export needs a file name or -";
            if (v.empty()) return "--export needs a file name or -";
            args.has_export = true;
            args.export_to = v;
        } else if (!options_done && a.size() > 1 && a[0] == '-') {
            return "unknown option " + a;
        } else if (have_path) {
            return "only one PATH may be given";
        } else {
            args.path = a;
            have_path = true;
        }
    }
    if (!help && !have_path) return "missing PATH";
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

std::string json_report(const Args& args, const FileNode& root, const Report& r,
                        const ScanProgress& progress, double seconds) {
    std::string out = "{\"path\":";
    tree_export::append_json_string(out, root.path);
    out += ",\"total_bytes\":" + std::to_string(root.size);
    out += ",\"files\":" + std::to_string(root.file_count);
    out += ",\"folders\":" + std::to_string(r.folders);
    out += ",\"items\":" + std::to_string(r.items);
    out += ",\"denied_folders\":" + std::to_string(progress.denied_count());
    out += ",\"skipped_folders\":" + std::to_string(progress.skipped_count());
    out += ",\"reclaimable_bytes\":" + std::to_string(r.reclaimable);
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.3f", seconds);
    out += ",\"seconds\":";
    out += secs;
    out += ",\"threads\":" + std::to_string(scanner::worker_count());
    out += ",\"cores\":" + std::to_string(scanner::total_core_count());
    out += ",\"count_links\":";
    out += args.count_links ? "true" : "false";
    out += ",\"one_file_system\":";
    out += args.one_filesystem ? "true" : "false";
    append_list(out, "largest", r.any_by_size.items());
    append_list(out, "largest_folders", r.folders_by_size.items());
    append_list(out, "largest_files", r.files_by_size.items());
    append_list(out, "junk", r.junk_by_size.items());
    out += "}\n";
    return out;
}

// One entry per line, even for names holding newlines, and no terminal
// escapes from names.
std::string printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    return text;
}

std::string text_report(const FileNode& root, const Report& r, const ScanProgress& progress,
                        double seconds) {
    std::string out;
    char line[512];
    const auto row = [&](const char* label, const std::string& value) {
        std::snprintf(line, sizeof line, "  %-13s %s\n", label, value.c_str());
        out += line;
    };
    out += "Scan of " + printable(root.path) + "\n";
    row("Occupied:", plain_size(root.size) + " (" + std::to_string(root.size) + " bytes)");
    row("Files:", std::to_string(root.file_count));
    row("Folders:", std::to_string(r.folders));
    row("No access:", std::to_string(progress.denied_count()) + " folders");
    row("Not entered:", std::to_string(progress.skipped_count()) + " mounts");
    row("Reclaimable:", plain_size(r.reclaimable) + " of junk");
    std::snprintf(line, sizeof line, "%.2f s on %d threads (%d cores)", seconds,
                  scanner::worker_count(), scanner::total_core_count());
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
            std::string current = s.current;
            for (char& c : current)
                if (static_cast<unsigned char>(c) < 0x20) c = '?';
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

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

int fail(const std::string& message) {
    std::fprintf(stderr, "spacemole-scan: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    Args args;
    bool help = false;
    if (const std::string error = parse_args(argc, argv, args, help); !error.empty()) {
        std::fprintf(stderr, "spacemole-scan: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }

    // Refuse what cannot be scanned up front, rather than report an empty tree.
    struct stat st {};
    if (::stat(args.path.c_str(), &st) != 0)
        return fail("cannot read " + args.path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) {
        const DirPtr dir(::opendir(args.path.c_str()));
        if (!dir) return fail("cannot open folder " + args.path + ": " + std::strerror(errno));
    }

    std::unique_ptr<std::FILE, FileCloser> export_file;
    std::FILE* export_out = nullptr;
    if (args.has_export) {
        if (args.export_to == "-") {
            export_out = stdout;
        } else {
            export_file.reset(std::fopen(args.export_to.c_str(), "we"));
            if (!export_file)
                return fail("cannot write " + args.export_to + ": " + std::strerror(errno));
            export_out = export_file.get();
        }
    }

    ScanProgress progress;
    scanner::Options options;
    options.dedupe_hard_links = !args.count_links;
    options.one_filesystem = args.one_filesystem;
    scanner::ScanDetails details;
    const auto started = std::chrono::steady_clock::now();
    FileNodePtr root;
    {
        std::unique_ptr<ProgressLine> line;
        if (::isatty(STDERR_FILENO)) line = std::make_unique<ProgressLine>(progress);
        root = scanner::scan(args.path, progress, options, args.has_export ? &details : nullptr);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (export_out != nullptr) {
        const bool ok = tree_export::write_export(export_out, *root, &details,
                                                  static_cast<std::int64_t>(std::time(nullptr)));
        if (!ok || (export_file && std::fclose(export_file.release()) != 0))
            return fail("cannot write " + args.export_to + ": " + std::strerror(errno));
    }

    Report report(args.top);
    collect(root, report);
    const std::string text = args.json ? json_report(args, *root, report, progress, seconds)
                                       : text_report(*root, report, progress, seconds);
    std::FILE* report_out = export_out == stdout ? stderr : stdout;
    if (std::fputs(text.c_str(), report_out) < 0 || std::fflush(report_out) != 0)
        return fail(std::string("cannot write the report: ") + std::strerror(errno));
    return 0;
}
