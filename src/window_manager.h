// The main window's size between runs: geometry.json in the configuration
// folder.
//
// WindowManager is a process-wide singleton used on the user-interface thread
// only. load() never fails: an unreadable file gives `valid` false (the
// caller picks a size), a readable one always gives at least 720 x 480. A
// small unmaximized window never overwrites the stored size. Writes use the
// same flushed ".tmp" + rename as the settings. Without a configuration
// folder the geometry is kept in memory for this run and nothing is written.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct WindowGeometry {
    int width = 0;
    int height = 0;
    bool maximized = false;
    bool valid = false; // a geometry file was read
};

class WindowManager {
public:
    static WindowManager& instance();

    WindowGeometry load() const;
    void save(int width, int height, bool maximized);
    // config_dir() + "/geometry.json", or "" when there is no folder.
    static std::string path();

    // The same against a given folder ("" means none: keep to memory).
    WindowGeometry load_from(const std::string& dir) const;
    // False when nothing was written to disk.
    bool save_to(const std::string& dir, int width, int height, bool maximized);

    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

private:
    WindowManager() = default;

    // The text that would have been written, when there was nowhere to write.
    std::optional<std::string> m_unsaved;
};

namespace geometry_io {

// The file's exact text.
std::string to_text(int width, int height, bool maximized);
// Always `valid`; missing or unusable numbers give 1100 x 720.
WindowGeometry from_text(std::string_view text);

} // namespace geometry_io
