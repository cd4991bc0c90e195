#include "file_category.h"

#include <array>
#include <cstring>
#include <string>
#include <unordered_map>

#include "strutil.h"

namespace category {

namespace {

struct ExtensionList {
    FileCategory category;
    const char* extensions; // space-separated, in table order
};

// Inserted in this order; where an extension repeats, the first list wins
// ("ts" is video, "csv" a document, "appimage" an archive).
constexpr ExtensionList kLists[] = {
    {FileCategory::Image, "jpg jpeg png gif heic heif tiff tif bmp webp raw cr2 nef arw dng psd "
                          "svg ico xcf ppm pgm xpm"},
    {FileCategory::Video, "mov mp4 m4v avi mkv wmv flv webm mpg mpeg hevc prores ts m2ts ogv"},
    {FileCategory::Audio, "mp3 aac wav flac aiff aif m4a ogg wma alac caf opus mid"},
    {FileCategory::Document, "pdf doc docx pages txt rtf md xls xlsx numbers ppt pptx key epub "
                             "csv odt ods odp djvu ps tex"},
    {FileCategory::Archive, "zip rar 7z tar gz bz2 xz dmg pkg iso tgz zst lz4 cab wim vhd vhdx "
                            "deb rpm appimage flatpak snap squashfs img tbz txz lz lzma ar cpio"},
    {FileCategory::Code, "swift c cpp cc cxx h hpp m mm java kt js ts tsx jsx py rb go rs json "
                         "xml yml yaml sql db sqlite sqlite3 html css scss sh bash zsh fish pl "
                         "php lua cs vb toml ini cfg conf patch diff cmake gradle makefile mk po "
                         "pot csv"},
    {FileCategory::App, "appimage so a o elf bin run exe dll jar war pyc pyo class wasm ko"},
    {FileCategory::System, "sys drv cat inf mui winmd etl evtx dmp swp core log journal pid "
                           "lock cache index tmp"},
};

// Longest extension in the table; longer ones cannot match.
constexpr std::size_t kMaxExtension = 16;

using Table = std::unordered_map<std::string_view, FileCategory>;

const Table& table() {
    static const Table t = [] {
        Table m;
        m.reserve(256);
        for (const auto& list : kLists) {
            std::string_view rest = list.extensions;
            while (!rest.empty()) {
                const auto space = rest.find(' ');
                const auto word = rest.substr(0, space);
                m.emplace(word, list.category); // keeps the first insertion
                if (space == std::string_view::npos) break;
                rest.remove_prefix(space + 1);
            }
        }
        return m;
    }();
    return t;
}

struct Info {
    const char* label;
    double hue;
    double saturation;
};

constexpr std::array<Info, 10> kInfo = {{
    {"Folders", 0.58, 0.62},
    {"Images", 0.83, 0.62},
    {"Video", 0.02, 0.62},
    {"Audio", 0.11, 0.62},
    {"Documents", 0.33, 0.62},
    {"Archives", 0.13, 0.62},
    {"Code/Data", 0.50, 0.62},
    {"Applications", 0.72, 0.62},
    {"System", 0.00, 0.05},
    {"Other", 0.60, 0.18},
}};

bool in_range(FileCategory c) {
    const auto i = static_cast<std::int32_t>(c);
    return i >= 0 && i < static_cast<std::int32_t>(FileCategory::COUNT);
}

} // namespace

FileCategory from_extension(std::string_view ext) {
    if (ext.empty()) return FileCategory::Other;
    const auto& t = table();
    const auto it = t.find(ext);
    return it == t.end() ? FileCategory::Other : it->second;
}

FileCategory from_extension_any_case(std::string_view ext) {
    if (ext.empty() || ext.size() > kMaxExtension) return FileCategory::Other;
    char buf[kMaxExtension];
    for (std::size_t i = 0; i < ext.size(); ++i) {
        const char c = ext[i];
        buf[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return from_extension(std::string_view(buf, ext.size()));
}

FileCategory from_name_and_mode(std::string_view name, mode_t mode) {
    if (name.find(".so.") != std::string_view::npos || su::ends_with(name, ".so"))
        return FileCategory::App;
    if ((mode & 0111) != 0) return FileCategory::App;
    return FileCategory::Other;
}

FileCategory classify_file(std::string_view name, mode_t mode) {
    const FileCategory c = from_extension_any_case(su::raw_extension_of(name));
    return c == FileCategory::Other ? from_name_and_mode(name, mode) : c;
}

const char* label_key(FileCategory c) {
    return in_range(c) ? kInfo[static_cast<std::size_t>(c)].label : "Other";
}

double base_hue(FileCategory c) {
    return in_range(c) ? kInfo[static_cast<std::size_t>(c)].hue : 0.6;
}

double base_saturation(FileCategory c) {
    return in_range(c) ? kInfo[static_cast<std::size_t>(c)].saturation : 0.62;
}

const std::vector<FileCategory>& legend_order() {
    static const std::vector<FileCategory> order = {
        FileCategory::Image,   FileCategory::Video, FileCategory::Audio, FileCategory::Document,
        FileCategory::Archive, FileCategory::Code,  FileCategory::App,   FileCategory::System,
        FileCategory::Folder,  FileCategory::Other,
    };
    return order;
}

} // namespace category
