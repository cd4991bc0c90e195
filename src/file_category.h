// What kind of file an entry is, for colouring and the legend.
//
// Pure functions of the name and mode, safe from every scan worker at once;
// the extension table is built once on first use. Label keys are English
// catalogue texts that the caller translates.
#pragma once

#include <cstdint>
#include <string_view>
#include <sys/types.h>
#include <vector>

enum class FileCategory : std::int32_t {
    Folder = 0,
    Image = 1,
    Video = 2,
    Audio = 3,
    Document = 4,
    Archive = 5,
    Code = 6,
    App = 7,
    System = 8,
    Other = 9,
    COUNT = 10,
};

namespace category {

// Category for an already lower-cased extension without the dot; Other when
// empty or unknown. Looks `ext` up as it is (no allocation).
FileCategory from_extension(std::string_view ext);

// Same, but for an extension in any letter case (lower-cases it on the stack).
FileCategory from_extension_any_case(std::string_view ext);

// App for shared libraries (".so" suffix, ".so." anywhere) and for entries with
// any execute bit in `mode` (a symbolic link's mode has them all); else Other.
FileCategory from_name_and_mode(std::string_view name, mode_t mode);

// The scanner's full rule for a file: the extension decides, then the name and
// mode when the extension says Other.
FileCategory classify_file(std::string_view name, mode_t mode);

const char* label_key(FileCategory c);
double base_hue(FileCategory c);
double base_saturation(FileCategory c);

// Image, Video, Audio, Document, Archive, Code, App, System, Folder, Other.
const std::vector<FileCategory>& legend_order();

} // namespace category
