// Colour values and the two interface palettes.
//
// Pure functions without state, safe from any thread (the interface calls
// them on the main thread only). Colour strings are "#" and six hexadecimal
// digits; hex_to_rgb is the one function that can fail, and it says so by
// returning false with its output untouched. Out-of-range inputs elsewhere
// are clamped or wrapped, never rejected.
#pragma once

#include <string>
#include <string_view>

// Channels nominally 0..1; nothing here carries alpha.
struct Rgb {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

// Accepts "#RRGGBB" and "RRGGBB" in either letter case. False (and `out`
// unchanged) for any other length or a non-hexadecimal digit.
bool hex_to_rgb(std::string_view hex, Rgb& out);

// "#RRGGBB" in upper case; channels are rounded and clamped to 0..255 (NaN
// counts as 0).
std::string rgb_to_hex(const Rgb& c);

// Linear blend, `alpha` being the weight of `fg`; not clamped.
Rgb mix(const Rgb& fg, const Rgb& bg, double alpha);

// mix() on colour strings; returns `fg` unchanged when either fails to parse.
std::string mix_hex(std::string_view fg, std::string_view bg, double alpha);

// Hue in turns (wrapped into 0..1), saturation and brightness clamped to 0..1.
// Non-finite inputs count as 0.
Rgb hsb(double h, double s, double v);

// The interface colours, by role. Built afresh on every call; callers keep a
// copy.
struct Palette {
    bool dark = false;
    std::string window;       // behind all regions
    std::string bar;          // bars, menus, dialogs, panels
    std::string divider;      // hairlines between regions
    std::string text;         // primary text
    std::string secondary;    // captions, inactive labels
    std::string accent;       // selection, links, prominent buttons, fills
    std::string control;      // face of buttons and fields
    std::string control_edge; // border of buttons, fields, floating panels
    std::string track;        // unfilled bars, segmented toggles
    std::string warn_bg;      // skipped-folders banner
    std::string warn_fg;
    std::string danger_bg; // error banners, delete-list bar
    std::string danger_fg; // destructive actions, error text
    std::string ok_bg;     // freed-space banner
    std::string ok_fg;

    static Palette light();
    static Palette dark_();
    static Palette for_theme(bool dark);
};
