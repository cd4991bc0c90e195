// Where things are, inside or outside a sandbox.
//
// Display paths are what the user sees (host paths); scan paths are what
// system calls get. They differ only inside a snap with access to the host's
// files, which reaches the host under /var/lib/snapd/hostfs except for the
// real home folder and the removable-media folders. Every function may be
// called from any thread; the three sandbox flags are computed once.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kHostPrefix = "/var/lib/snapd/hostfs";

bool running_in_snap();
bool running_in_flatpak();
bool hostfs_available();

// SNAP_REAL_HOME, else HOME, else the password database; empty when none.
// Relative values of the variables are skipped.
std::string real_home();

// The per-user configuration folder ($XDG_CONFIG_HOME/Spacemole or
// ~/.config/Spacemole), created with mode 0700 when missing. Relative values
// of the variables are ignored. Empty when there is no home at all: callers
// then keep their data in memory and never write into the working directory.
std::string config_dir();

std::string to_scan_path(std::string_view path);
std::string to_display_path(std::string_view path);

// Whether the sandbox can reach the location for writing at all (not a
// permission test). Always true outside a snap.
bool is_writable_location(std::string_view path);

// The pure rules behind the functions above, with their inputs passed in.
namespace paths_rules {

// The real home, a media folder, or a path below one of them.
bool reachable_directly(std::string_view home, std::string_view path);
std::string to_scan_path(bool hostfs, std::string_view home, std::string_view path);
// Configuration folder from XDG_CONFIG_HOME, HOME and the password database's
// home (any may be empty); empty when no absolute base exists.
std::string config_dir_for(std::string_view xdg_config_home, std::string_view home,
                           std::string_view passwd_home);

} // namespace paths_rules
