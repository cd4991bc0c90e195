#include "desktop_theme.h"

#include <string>
#include <utility>

#include <gio/gio.h>
#include <gtk/gtk.h>

#include "strutil.h"

namespace desktop_theme {

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorScheme = "color-scheme";

struct GtkAnswer {
    bool prefer_dark = false;
    std::string theme_name;
};

// GTK's settings, or nothing when GTK cannot reach a display.
std::optional<GtkAnswer> gtk_answer() {
    if (gdk_display_get_default() == nullptr &&
        (!gtk_init_check(nullptr, nullptr) || gdk_display_get_default() == nullptr))
        return std::nullopt;
    GtkSettings* settings = gtk_settings_get_default();
    if (settings == nullptr) return std::nullopt;
    gboolean prefer = FALSE;
    g_autofree char* name = nullptr;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &prefer, "gtk-theme-name", &name,
                 nullptr);
    return GtkAnswer{prefer != FALSE, name ? name : ""};
}

void on_setting_changed(GDBusConnection*, const char*, const char*, const char*, const char*,
                        GVariant* parameters, gpointer user_data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    const char* ns = nullptr;
    const char* key = nullptr;
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &ns, &key, &value);
    if (g_strcmp0(ns, kAppearance) != 0 || g_strcmp0(key, kColorScheme) != 0) return;
    const auto& callback = *static_cast<std::function<void()>*>(user_data);
    if (callback) callback();
}

void free_callback(gpointer data) {
    // Adopt the heap callback handed to GLib in Watch's constructor.
    std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(data));
}

} // namespace

std::optional<uint32_t> color_scheme_of_reply(GVariant* reply) {
    if (reply == nullptr || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)")))
        return std::nullopt;
    g_autoptr(GVariant) value = g_variant_get_child_value(reply, 0);
    // Older portals wrap the value once more; unwrap as deep as it goes.
    while (value && g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(value);
        g_variant_unref(value);
        value = inner;
    }
    if (!value || !g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) return std::nullopt;
    return g_variant_get_uint32(value);
}

std::optional<uint32_t> read_color_scheme(GDBusConnection* bus) {
    if (bus == nullptr) return std::nullopt;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, kPortalName, kPortalPath, kSettingsInterface, "Read",
        g_variant_new("(ss)", kAppearance, kColorScheme), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, PORTAL_TIMEOUT_MS, nullptr, nullptr);
    return color_scheme_of_reply(reply);
}

bool resolve_dark(std::optional<uint32_t> color_scheme, bool gtk_prefers_dark,
                  std::string_view gtk_theme_name) {
    if (color_scheme == 1u) return true;
    if (color_scheme == 2u) return false;
    if (gtk_prefers_dark) return true;
    return su::lower_ascii(std::string(gtk_theme_name)).find("dark") != std::string::npos;
}

bool prefers_dark(GDBusConnection* bus) {
    const auto scheme = read_color_scheme(bus);
    if (scheme == 1u || scheme == 2u) return *scheme == 1u;
    const auto gtk = gtk_answer();
    if (!gtk) return false;
    return resolve_dark(scheme, gtk->prefer_dark, gtk->theme_name);
}

bool prefers_dark() {
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    return prefers_dark(bus);
}

Watch::Watch(GDBusConnection* bus, std::function<void()> on_change) {
    if (bus == nullptr) return;
    m_bus = G_DBUS_CONNECTION(g_object_ref(bus));
    auto callback = std::make_unique<std::function<void()>>(std::move(on_change));
    m_id = g_dbus_connection_signal_subscribe(
        m_bus, kPortalName, kSettingsInterface, "SettingChanged", kPortalPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, on_setting_changed, callback.release(), free_callback);
}

Watch::~Watch() {
    if (m_bus == nullptr) return;
    if (m_id != 0) g_dbus_connection_signal_unsubscribe(m_bus, m_id);
    g_object_unref(m_bus);
}

void watch(std::function<void()> on_change) {
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return;
    // Kept until the process ends, with its reference to the bus.
    static Watch subscription(bus, std::move(on_change));
}

} // namespace desktop_theme
