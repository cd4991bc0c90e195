// The user-dirs parser and path normalization on arbitrary text: no crash,
// every folder absolute and normalized, every fixed protection kept.
#include "fuzz_check.h"
#include "deletion_guard.h"

namespace rules = deletion_guard::rules;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string home = "/home/fuzz";

    const auto dirs = rules::parse_user_dirs(home, text);
    std::size_t lines = 1;
    for (const char c : text)
        lines += c == '\n';
    require(dirs.size() <= lines, "at most one folder per line");
    for (const auto& d : dirs) {
        require(!d.empty() && d.front() == '/', "folders are absolute");
        require(rules::normalize(d) == d, "folders are normalized");
        require(d.find('\n') == std::string::npos, "a folder never spans lines");
        require(d.size() <= text.size() + home.size(), "folders come from the input");
    }

    const auto exact = rules::exact_set_for(home, text);
    for (const char* p : {"/", "/home", "/var", "/var/cache", "/var/tmp", "/tmp", "/run/media",
                          "/home/fuzz", "/home/fuzz/.ssh", "/home/fuzz/Documents"})
        require(exact.count(p) == 1, "fixed protections are always present");
    require(exact.size() <= 12 + 1 + 16 + dirs.size(), "only the parsed folders are added");

    // Normalization: idempotent, no slash runs, no trailing slash but "/".
    const std::string n = rules::normalize(text);
    require(rules::normalize(n) == n, "normalize is idempotent");
    require(n.find("//") == std::string::npos, "no slash runs");
    require(n.size() <= 1 || n.back() != '/', "no trailing slash");
    if (!n.empty() && n.front() == '/') require(rules::is_inside(n, n), "a path is inside itself");
    return 0;
}
