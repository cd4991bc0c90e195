#include "settings.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "i18n.h"
#include "paths.h"
#include "strutil.h"
#include "unique_fd.h"

namespace {

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool one_of(const std::string& v, std::initializer_list<std::string_view> accepted) {
    for (std::string_view a : accepted)
        if (v == a) return true;
    return false;
}

void take_flag(const std::string& v, bool& field) {
    if (v == "yes")
        field = true;
    else if (v == "no")
        field = false;
}

const char* yes_no(bool b) {
    return b ? "yes" : "no";
}

} // namespace

namespace settings_io {

std::string find_value(std::string_view text, std::string_view key) {
    const std::string quoted = "\"" + std::string(key) + "\"";
    const std::size_t k = text.find(quoted);
    if (k == std::string_view::npos) return {};
    const std::size_t colon = text.find(':', k + quoted.size());
    if (colon == std::string_view::npos) return {};
    const std::size_t open = text.find('"', colon + 1);
    if (open == std::string_view::npos) return {};
    const std::size_t close = text.find('"', open + 1);
    if (close == std::string_view::npos) return {};
    return std::string(text.substr(open + 1, close - open - 1));
}

std::string to_text(const Settings& s) {
    std::string out = "{\n";
    auto line = [&out](const char* key, const std::string& value, bool last) {
        out += "  \"";
        out += key;
        out += "\": \"";
        out += value;
        out += last ? "\"\n" : "\",\n";
    };
    line("language", s.language, false);
    line("theme", s.theme, false);
    line("color_mode", s.color_mode, false);
    line("view_mode", s.view_mode, false);
    line("sort_field", s.sort_field, false);
    line("sort_ascending", yes_no(s.sort_ascending), false);
    line("dedupe_hard_links", yes_no(s.dedupe_hard_links), false);
    line("one_filesystem", yes_no(s.one_filesystem), true);
    out += "}\n";
    return out;
}

Settings from_text(std::string_view text) {
    Settings s;
    const std::string language = find_value(text, "language");
    if (language == "auto" || (!language.empty() && i18n_rules::index_of_code(language) >= 0))
        s.language = language;
    if (std::string v = find_value(text, "theme"); one_of(v, {"auto", "light", "dark"}))
        s.theme = v;
    if (std::string v = find_value(text, "color_mode"); one_of(v, {"heat", "category"}))
        s.color_mode = v;
    if (std::string v = find_value(text, "view_mode"); one_of(v, {"map", "tree"})) s.view_mode = v;
    if (std::string v = find_value(text, "sort_field");
        one_of(v, {"name", "size", "files", "created", "modified"}))
        s.sort_field = v;
    take_flag(find_value(text, "sort_ascending"), s.sort_ascending);
    take_flag(find_value(text, "dedupe_hard_links"), s.dedupe_hard_links);
    take_flag(find_value(text, "one_filesystem"), s.one_filesystem);
    return s;
}

std::string file_in(const std::string& dir, std::string_view name) {
    // A relative or missing folder would mean the working directory.
    if (dir.empty() || dir.front() != '/') return {};
    return su::join_path(dir, name);
}

std::optional<std::string> read_file(const std::string& path) {
    if (path.empty()) return std::nullopt;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    std::string text;
    char buf[4096];
    while (true) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        // These files are a few hundred bytes; anything huge is not ours.
        if (text.size() > (1u << 20)) return std::nullopt;
    }
    return text;
}

bool replace_file(const std::string& path, std::string_view text) {
    if (path.empty()) return false;
    const std::string tmp = path + ".tmp";
    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid()) return false;
    // The data must be on disk before the rename makes it the file, or a
    // power loss can leave an empty settings file in place of the old one.
    const bool written = write_all(fd.get(), text) && ::fsync(fd.get()) == 0;
    if (!fd.close() || !written || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Make the rename itself durable; failure here still left a whole file.
    UniqueFd folder(::open(su::parent_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) ::fsync(folder.get());
    return true;
}

} // namespace settings_io

SettingsStore& SettingsStore::instance() {
    static SettingsStore store;
    return store;
}

std::string SettingsStore::path() {
    return settings_io::file_in(config_dir(), "settings.json");
}

void SettingsStore::load() {
    load_from(config_dir());
}

void SettingsStore::save() const {
    save_to(config_dir());
}

void SettingsStore::load_from(const std::string& dir) {
    const std::string file = settings_io::file_in(dir, "settings.json");
    if (file.empty()) return; // no folder: whatever is in memory stays
    if (std::optional<std::string> text = settings_io::read_file(file))
        m_settings = settings_io::from_text(*text);
}

bool SettingsStore::save_to(const std::string& dir) const {
    const std::string file = settings_io::file_in(dir, "settings.json");
    if (file.empty()) return false;
    return settings_io::replace_file(file, settings_io::to_text(m_settings));
}
