// Whether the desktop prefers a dark appearance, and notice when that changes.
//
// Everything runs on the user-interface thread. The desktop portal's
// "color-scheme" setting decides when it says dark (1) or light (2); otherwise
// GTK's settings decide (prefer-dark flag, or "dark" in the theme's name).
// Without a session bus, a portal or a display the answer is simply light:
// nothing here fails loudly. Overloads taking a GDBusConnection* use that
// connection (null: no bus) and never the shared one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;

namespace desktop_theme {

inline constexpr int PORTAL_TIMEOUT_MS = 500;

bool prefers_dark();
// Portal first on `bus`, then GTK (only when GTK can reach a display).
bool prefers_dark(GDBusConnection* bus);

// Subscribes for the rest of the run to the portal's SettingChanged on the
// shared session bus; `on_change` runs on the main loop when the colour scheme
// changes and is expected to ask prefers_dark() again. No bus: no notices.
// Meant to be called once at start-up; later calls are ignored.
void watch(std::function<void()> on_change);

// A subscription on a given connection, dropped with the object. Notices are
// dispatched on the main context that was the thread's default at creation.
class Watch {
public:
    Watch(GDBusConnection* bus, std::function<void()> on_change);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    bool active() const { return m_id != 0; }

private:
    GDBusConnection* m_bus = nullptr; // own reference
    unsigned m_id = 0;
};

// The pure rules behind prefers_dark.

// The number inside a Read reply "(v)", through any depth of nested variants;
// empty when the innermost value is not a "u".
std::optional<uint32_t> color_scheme_of_reply(GVariant* reply);
// The portal's value on `bus`; empty without bus, service or a usable reply.
std::optional<uint32_t> read_color_scheme(GDBusConnection* bus);
// 1: dark, 2: light; anything else (0 is "no preference", none is no portal)
// asks GTK's flag and theme name.
bool resolve_dark(std::optional<uint32_t> color_scheme, bool gtk_prefers_dark,
                  std::string_view gtk_theme_name);

} // namespace desktop_theme
