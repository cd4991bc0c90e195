// The user's choices between runs: settings.json in the configuration folder.
//
// SettingsStore is a process-wide singleton used on the user-interface thread
// only (no lock). load() reads the file once at start-up; save() writes the
// whole file after every change. The file looks like JSON but is written and
// read by fixed text patterns: anything unreadable, partial or foreign gives
// the defaults field by field. When there is no configuration folder (no
// home at all) the settings live in memory only and nothing is written, never
// into the working directory.
//
// Writes go to a ".tmp" sibling that is flushed to disk and then renamed over
// the file, so a crash or a full disk leaves the previous file intact.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct Settings {
    std::string language = "auto";   // "auto" or a language code
    std::string theme = "auto";      // "auto", "light", "dark"
    std::string color_mode = "heat"; // "heat", "category"
    std::string view_mode = "map";   // "map", "tree"
    std::string sort_field = "size"; // "name", "size", "files", "created", "modified"
    bool sort_ascending = false;
    bool dedupe_hard_links = true;
    bool one_filesystem = false;

    bool operator==(const Settings&) const = default;
};

class SettingsStore {
public:
    // Holds the defaults until load() is called.
    static SettingsStore& instance();

    const Settings& get() const { return m_settings; }
    Settings& mutable_get() { return m_settings; }

    // Reads path(); a missing file keeps the defaults.
    void load();
    // Writes path(); failures are silent and leave the previous file.
    void save() const;
    // config_dir() + "/settings.json", or "" when there is no folder.
    static std::string path();

    // The same against a given folder ("" means none: keep to memory).
    void load_from(const std::string& dir);
    // False when nothing was written (no folder, or the write failed).
    bool save_to(const std::string& dir) const;

    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

private:
    SettingsStore() = default;

    Settings m_settings;
};

// The pure text rules and the file helpers shared with the window geometry.
namespace settings_io {

// The file's exact text.
std::string to_text(const Settings& s);
// Values taken where they are accepted, defaults elsewhere.
Settings from_text(std::string_view text);

// The quoted value after "key" and the next ":"; "" when any part is missing.
// No escapes: a value ends at the next double quote.
std::string find_value(std::string_view text, std::string_view key);

// `dir` + "/" + `name` for an absolute folder; "" otherwise.
std::string file_in(const std::string& dir, std::string_view name);

// The whole file, or nothing when it cannot be opened or read.
std::optional<std::string> read_file(const std::string& path);

// Writes `text` to path + ".tmp", flushes it to disk and renames it over
// `path`. On any failure the temporary file is removed, `path` is untouched
// and false comes back.
bool replace_file(const std::string& path, std::string_view text);

} // namespace settings_io
