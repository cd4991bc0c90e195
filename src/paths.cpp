#include "paths.h"

#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "strutil.h"
#include "unique_fd.h"

namespace {

constexpr std::string_view kMedia[] = {"/media/", "/mnt/", "/run/media/"};
constexpr std::string_view kMediaRoots[] = {"/media", "/mnt", "/run/media"};
constexpr const char* kAppFolder = "Spacemole";

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string passwd_home() {
    const uid_t uid = ::getuid();
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0) size = 16384;
    std::vector<char> buf(static_cast<std::size_t>(size));
    struct passwd pw {};
    struct passwd* result = nullptr;
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &result) != 0 || result == nullptr ||
        result->pw_dir == nullptr)
        return {};
    return result->pw_dir;
}

} // namespace

namespace paths_rules {

bool reachable_directly(std::string_view home, std::string_view path) {
    if (!home.empty() && (path == home || (su::starts_with(path, home) &&
                                           path.size() > home.size() && path[home.size()] == '/')))
        return true;
    for (const auto prefix : kMedia)
        if (su::starts_with(path, prefix)) return true;
    for (const auto root : kMediaRoots)
        if (path == root) return true;
    return false;
}

std::string to_scan_path(bool hostfs, std::string_view home, std::string_view path) {
    if (!hostfs || path.empty() || path.front() != '/') return std::string(path);
    if (reachable_directly(home, path)) return std::string(path);
    if (path == kHostPrefix ||
        (su::starts_with(path, kHostPrefix) && path.size() > kHostPrefix.size() &&
         path[kHostPrefix.size()] == '/'))
        return std::string(path);
    std::string out(kHostPrefix);
    out.append(path);
    return out;
}

std::string config_dir_for(std::string_view xdg_config_home, std::string_view home,
                           std::string_view passwd_home_dir) {
    // A relative base would put the settings wherever the program was started.
    auto absolute = [](std::string_view s) { return !s.empty() && s.front() == '/'; };
    std::string base;
    if (absolute(xdg_config_home))
        base = std::string(xdg_config_home);
    else if (absolute(home))
        base = su::join_path(home, ".config");
    else if (absolute(passwd_home_dir))
        base = su::join_path(passwd_home_dir, ".config");
    else
        return {};
    return su::join_path(base, kAppFolder);
}

} // namespace paths_rules

bool running_in_snap() {
    static const bool in_snap = [] {
        const char* snap = std::getenv("SNAP");
        const char* name = std::getenv("SNAP_NAME");
        return snap && *snap && name && *name;
    }();
    return in_snap;
}

bool running_in_flatpak() {
    static const bool in_flatpak = [] {
        struct stat st {};
        return ::stat("/.flatpak-info", &st) == 0;
    }();
    return in_flatpak;
}

bool hostfs_available() {
    static const bool available = [] {
        if (!running_in_snap()) return false;
        const DirPtr d(::opendir(std::string(kHostPrefix).c_str()));
        return d != nullptr;
    }();
    return available;
}

std::string real_home() {
    // A relative value would protect and map folders of the working directory.
    if (std::string v = env("SNAP_REAL_HOME"); !v.empty() && v.front() == '/') return v;
    if (std::string v = env("HOME"); !v.empty() && v.front() == '/') return v;
    return passwd_home();
}

std::string config_dir() {
    const std::string xdg = env("XDG_CONFIG_HOME");
    const std::string home = env("HOME");
    const bool need_passwd = !(xdg.size() && xdg[0] == '/') && !(home.size() && home[0] == '/');
    const std::string dir =
        paths_rules::config_dir_for(xdg, home, need_passwd ? passwd_home() : std::string());
    if (dir.empty()) return {};
    // Creates the base and the folder; both may exist already.
    ::mkdir(su::parent_of(dir).c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

std::string to_scan_path(std::string_view path) {
    if (!hostfs_available()) return std::string(path);
    return paths_rules::to_scan_path(true, real_home(), path);
}

std::string to_display_path(std::string_view path) {
    // Whole components only: "/var/lib/snapd/hostfsX" must not become the
    // relative "X".
    if (!su::starts_with(path, kHostPrefix)) return std::string(path);
    const std::string_view rest = path.substr(kHostPrefix.size());
    if (rest.empty()) return std::string("/");
    return rest.front() == '/' ? std::string(rest) : std::string(path);
}

bool is_writable_location(std::string_view path) {
    if (!running_in_snap()) return true;
    return paths_rules::reachable_directly(real_home(), path);
}
