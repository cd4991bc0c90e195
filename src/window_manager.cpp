#include "window_manager.h"

#include <cctype>
#include <climits>

#include "paths.h"
#include "settings.h"

namespace {

constexpr int kMinWidth = 720;
constexpr int kMinHeight = 480;
constexpr int kDefaultWidth = 1100;
constexpr int kDefaultHeight = 720;

// Like std::stoi on the text after "key" and the next ":": leading white
// space, an optional sign, digits, the rest ignored. Empty when there are no
// digits or the number does not fit an int.
std::optional<int> find_int(std::string_view text, std::string_view key) {
    const std::string quoted = "\"" + std::string(key) + "\"";
    const std::size_t k = text.find(quoted);
    if (k == std::string_view::npos) return std::nullopt;
    std::size_t i = text.find(':', k + quoted.size());
    if (i == std::string_view::npos) return std::nullopt;
    ++i;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    bool digits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        digits = true;
        value = value * 10 + (text[i++] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
    }
    if (!digits) return std::nullopt;
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return std::nullopt;
    return static_cast<int>(value);
}

} // namespace

namespace geometry_io {

std::string to_text(int width, int height, bool maximized) {
    return "{\n  \"width\": " + std::to_string(width) +
           ",\n  \"height\": " + std::to_string(height) +
           ",\n  \"maximized\": " + (maximized ? "true" : "false") + "\n}\n";
}

WindowGeometry from_text(std::string_view text) {
    WindowGeometry g;
    g.width = find_int(text, "width").value_or(kDefaultWidth);
    g.height = find_int(text, "height").value_or(kDefaultHeight);
    if (g.width < kMinWidth) g.width = kDefaultWidth;
    if (g.height < kMinHeight) g.height = kDefaultHeight;
    g.maximized = text.find("\"maximized\": true") != std::string_view::npos;
    g.valid = true;
    return g;
}

} // namespace geometry_io

WindowManager& WindowManager::instance() {
    static WindowManager manager;
    return manager;
}

std::string WindowManager::path() {
    return settings_io::file_in(config_dir(), "geometry.json");
}

WindowGeometry WindowManager::load() const {
    return load_from(config_dir());
}

void WindowManager::save(int width, int height, bool maximized) {
    save_to(config_dir(), width, height, maximized);
}

WindowGeometry WindowManager::load_from(const std::string& dir) const {
    const std::string file = settings_io::file_in(dir, "geometry.json");
    std::optional<std::string> text = file.empty() ? m_unsaved : settings_io::read_file(file);
    if (!text) return {};
    return geometry_io::from_text(*text);
}

bool WindowManager::save_to(const std::string& dir, int width, int height, bool maximized) {
    // A small window never overwrites the stored size.
    if (!maximized && (width < kMinWidth || height < kMinHeight)) return false;
    std::string text = geometry_io::to_text(width, height, maximized);
    const std::string file = settings_io::file_in(dir, "geometry.json");
    if (file.empty()) {
        m_unsaved = std::move(text);
        return false;
    }
    return settings_io::replace_file(file, text);
}
