// The desktop's colour preference: the decision rule, the portal's Read reply
// with nested variants from a fake portal on a private bus, SettingChanged
// notices, and the live call in a fresh process without display.
#include "desktop_theme.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "fresh_process.h"
#include "fake_bus.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

constexpr const char* kPortalXml = R"(
<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read">
      <arg type="s" name="namespace" direction="in"/>
      <arg type="s" name="key" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <signal name="SettingChanged">
      <arg type="s" name="namespace"/>
      <arg type="s" name="key"/>
      <arg type="v" name="value"/>
    </signal>
  </interface>
</node>)";

// `make_value` builds the variant's content for each Read; null leaves every
// call unanswered.
std::unique_ptr<FakeService> fake_portal(const std::string& address, const char* bus_name,
                                         std::function<GVariant*()> make_value) {
    return std::make_unique<FakeService>(address, bus_name, "/org/freedesktop/portal/desktop",
                                         kPortalXml,
                                         [make_value](const std::string&, GVariant*) -> GVariant* {
                                             if (!make_value) return nullptr;
                                             return g_variant_new("(v)", make_value());
                                         });
}

GVariant* wrapped(GVariant* value, int depth) {
    for (int i = 0; i < depth; ++i)
        value = g_variant_new_variant(value);
    return value;
}

} // namespace

TEST(ResolveDark, PortalDecidesUnlessItHasNoPreference) {
    struct Case {
        std::optional<uint32_t> scheme;
        bool gtk_prefers_dark;
        const char* theme;
        bool dark;
    };
    const Case cases[] = {
        {1u, false, "Adwaita", true},
        {2u, true, "Adwaita-dark", false},
        {0u, false, "Adwaita-dark", true},
        {0u, true, "Adwaita", true},
        {std::nullopt, false, "HighContrast-DARK", true},
        {std::nullopt, false, "", false},
        {7u, false, "Yaru", false},
        {7u, false, "Darkling", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(desktop_theme::resolve_dark(c.scheme, c.gtk_prefers_dark, c.theme), c.dark)
            << (c.scheme ? std::to_string(*c.scheme) : "none") << " " << c.gtk_prefers_dark << " "
            << c.theme;
    }
}

TEST(ColorSchemeReply, UnwrapsNestedVariantsDownToTheNumber) {
    struct Case {
        GVariant* reply; // owned here
        std::optional<uint32_t> scheme;
    };
    const Case cases[] = {
        {g_variant_ref_sink(g_variant_new("(v)", g_variant_new_uint32(1))), 1u},
        {g_variant_ref_sink(g_variant_new("(v)", wrapped(g_variant_new_uint32(0), 3))), 0u},
        {g_variant_ref_sink(g_variant_new("(v)", g_variant_new_string("dark"))), std::nullopt},
        {g_variant_ref_sink(g_variant_new("(v)", g_variant_new_int32(1))), std::nullopt},
        {g_variant_ref_sink(g_variant_new("(u)", 1u)), std::nullopt},
    };
    for (const auto& c : cases) {
        g_autofree char* text = g_variant_print(c.reply, TRUE);
        EXPECT_EQ(desktop_theme::color_scheme_of_reply(c.reply), c.scheme) << text;
        g_variant_unref(c.reply);
    }
    EXPECT_EQ(desktop_theme::color_scheme_of_reply(nullptr), std::nullopt);
}

class PortalBus : public PrivateBusTest {};

TEST_F(PortalBus, ReadAsksForTheAppearanceColorScheme) {
    struct Case {
        uint32_t value;
        int depth;
    };
    for (const Case c : {Case{0, 0}, Case{1, 0}, Case{2, 0}, Case{1, 1}, Case{2, 2}}) {
        SCOPED_TRACE(std::to_string(c.value) + " nested " + std::to_string(c.depth));
        auto portal = fake_portal(s_bus->address(), "org.freedesktop.portal.Desktop",
                                  [c] { return wrapped(g_variant_new_uint32(c.value), c.depth); });
        ASSERT_TRUE(portal->ready());
        EXPECT_EQ(desktop_theme::read_color_scheme(m_client.get()), c.value);
        if (c.value != 0) {
            EXPECT_EQ(desktop_theme::prefers_dark(m_client.get()), c.value == 1);
        }
        const auto calls = portal->calls();
        ASSERT_EQ(calls.size(), c.value != 0 ? 2u : 1u);
        EXPECT_EQ(calls[0].method, "Read");
        EXPECT_EQ(calls[0].parameters, "('org.freedesktop.appearance', 'color-scheme')");
    }
}

TEST_F(PortalBus, MissingOrSilentPortalGivesNoAnswerWithinTheTimeOut) {
    EXPECT_EQ(desktop_theme::read_color_scheme(m_client.get()), std::nullopt) << "no portal";
    EXPECT_EQ(desktop_theme::read_color_scheme(nullptr), std::nullopt) << "no bus";

    auto silent = fake_portal(s_bus->address(), "org.freedesktop.portal.Desktop", nullptr);
    ASSERT_TRUE(silent->ready());
    const gint64 start = g_get_monotonic_time();
    EXPECT_EQ(desktop_theme::read_color_scheme(m_client.get()), std::nullopt);
    const gint64 waited_ms = (g_get_monotonic_time() - start) / 1000;
    // The call gives up at its own time-out instead of GDBus's 25 s default.
    EXPECT_GE(waited_ms, desktop_theme::PORTAL_TIMEOUT_MS - 50);
    EXPECT_LT(waited_ms, 5 * desktop_theme::PORTAL_TIMEOUT_MS);
}

TEST_F(PortalBus, ColorSchemeChangesFromThePortalAloneReachTheCallback) {
    auto portal = fake_portal(s_bus->address(), "org.freedesktop.portal.Desktop",
                              [] { return g_variant_new_uint32(1); });
    auto impostor = fake_portal(s_bus->address(), "org.example.Impostor",
                                [] { return g_variant_new_uint32(1); });
    ASSERT_TRUE(portal->ready());
    ASSERT_TRUE(impostor->ready());

    int changes = 0;
    int sentinel = 0;
    auto watch = std::make_unique<desktop_theme::Watch>(m_client.get(), [&] { ++changes; });
    desktop_theme::Watch keep(m_client.get(), [&] { ++sentinel; });
    ASSERT_TRUE(watch->active());
    // Subscriptions are in place once the bus has answered a round trip.
    g_dbus_connection_flush_sync(m_client.get(), nullptr, nullptr);
    ASSERT_TRUE(desktop_theme::read_color_scheme(m_client.get()).has_value());

    const char* iface = "org.freedesktop.portal.Settings";
    auto changed = [](const char* ns, const char* key) {
        return g_variant_new("(ssv)", ns, key, g_variant_new_uint32(1));
    };
    ASSERT_TRUE(impostor->emit(iface, "SettingChanged",
                               changed("org.freedesktop.appearance", "color-scheme")));
    ASSERT_TRUE(portal->emit(iface, "SettingChanged",
                             changed("org.freedesktop.appearance", "accent-color")));
    ASSERT_TRUE(
        portal->emit(iface, "SettingChanged", changed("org.gnome.desktop", "color-scheme")));
    ASSERT_TRUE(portal->emit(iface, "SettingChanged",
                             changed("org.freedesktop.appearance", "color-scheme")));
    // Signals arrive in order: when the sentinel saw the last one, the
    // unrelated ones before it have been handled too.
    ASSERT_TRUE(iterate_until([&] { return sentinel >= 1; }, 5000));
    EXPECT_EQ(changes, 1);

    watch.reset();
    ASSERT_TRUE(portal->emit(iface, "SettingChanged",
                             changed("org.freedesktop.appearance", "color-scheme")));
    ASSERT_TRUE(iterate_until([&] { return sentinel >= 2; }, 5000));
    EXPECT_EQ(changes, 1) << "a dropped watch hears nothing";
}

// The live call in a fresh process whose session bus is the private one and
// which has no display: the portal's answer decides; "no preference" falls
// back to GTK, which without a display means light.
TEST_F(PortalBus, LiveCallWithoutDisplay) {
    for (uint32_t value : {1u, 2u, 0u}) {
        SCOPED_TRACE(value);
        auto portal = fake_portal(s_bus->address(), "org.freedesktop.portal.Desktop",
                                  [value] { return g_variant_new_uint32(value); });
        ASSERT_TRUE(portal->ready());
        SPACEMOLE_IN_FRESH_PROCESS("LiveTheme.PrefersDark",
                                   {{"SPACEMOLE_RERUN", "theme"},
                                    {"DBUS_SESSION_BUS_ADDRESS", s_bus->address()},
                                    {"DISPLAY", std::nullopt},
                                    {"WAYLAND_DISPLAY", std::nullopt},
                                    {"EXPECT_DARK", value == 1 ? "1" : "0"}});
        EXPECT_EQ(portal->calls().size(), 1u);
    }
}

TEST(LiveTheme, PrefersDark) {
    if (std::string(env_or_empty("SPACEMOLE_RERUN")) != "theme") GTEST_SKIP();
    EXPECT_EQ(desktop_theme::prefers_dark(), std::string(env_or_empty("EXPECT_DARK")) == "1");
    int calls = 0;
    desktop_theme::watch([&] { ++calls; }); // subscribes without a main loop running
    EXPECT_EQ(calls, 0);
}

TEST(LiveTheme, NoSessionBusAndNoDisplayMeansLight) {
    if (std::string(env_or_empty("SPACEMOLE_RERUN")) != "nobus") {
        TempTree tree;
        SPACEMOLE_IN_FRESH_PROCESS(
            current_test_name(), {{"SPACEMOLE_RERUN", "nobus"},
                                  {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + tree.path("no-bus")},
                                  {"DISPLAY", std::nullopt},
                                  {"WAYLAND_DISPLAY", std::nullopt}});
        return;
    }
    EXPECT_FALSE(desktop_theme::prefers_dark());
    desktop_theme::watch([] {});
}
