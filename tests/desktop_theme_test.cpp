// The desktop's colour preference: the decision rule, the portal's Read reply
// with nested variants from a fake portal on a private bus, SettingChanged
// notices, and the live call in a fresh process without display.
#include "desktop_theme.h"

#include <memory>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "fresh_process.h"
#include "fake_bus.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

constexpr const char* kPortalXml = R"(<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read">
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/>
    </method>
    <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
  </interface></node>)";

const std::string kRead = "Read('org.freedesktop.appearance', 'color-scheme')\n";

} // namespace

TEST(ResolveDark, PortalDecidesUnlessItHasNoPreference) {
    // The portal's scheme, GTK's prefer-dark flag and theme name, the answer.
    const std::tuple<std::optional<uint32_t>, bool, const char*, bool> cases[] = {
        {1u, false, "Adwaita", true},
        {2u, true, "Adwaita-dark", false},
        {0u, false, "Adwaita-dark", true},
        {0u, true, "Adwaita", true},
        {std::nullopt, false, "HighContrast-DARK", true},
        {std::nullopt, false, "", false},
        {7u, false, "Yaru", false},
        {7u, false, "Darkling", true},
    };
    for (const auto& [scheme, gtk_prefers_dark, theme, dark] : cases)
        EXPECT_EQ(desktop_theme::resolve_dark(scheme, gtk_prefers_dark, theme), dark) << theme;
}

TEST(ColorSchemeReply, OnlyAnUnsignedNumberInAVariantCounts) {
    for (GVariant* reply :
         {g_variant_new("(v)", g_variant_new_string("dark")),
          g_variant_new("(v)", g_variant_new_int32(1)), g_variant_new("(u)", 1u)}) {
        g_autoptr(GVariant) owned = g_variant_ref_sink(reply);
        EXPECT_EQ(desktop_theme::color_scheme_of_reply(owned), std::nullopt);
    }
    EXPECT_EQ(desktop_theme::color_scheme_of_reply(nullptr), std::nullopt);
}

class PortalBus : public PrivateBusTest {
protected:
    // A portal answering each Read with `value` wrapped in `depth` more
    // variants; no value leaves every call unanswered.
    static std::unique_ptr<FakeService>
    portal(std::optional<uint32_t> value, int depth = 0,
           const char* name = "org.freedesktop.portal.Desktop") {
        auto service = std::make_unique<FakeService>(
            s_bus->address(), name, "/org/freedesktop/portal/desktop", kPortalXml,
            [=](const std::string&, GVariant*) -> GVariant* {
                if (!value) return nullptr;
                GVariant* v = g_variant_new_uint32(*value);
                for (int i = 0; i < depth; ++i)
                    v = g_variant_new_variant(v);
                return g_variant_new("(v)", v);
            });
        EXPECT_TRUE(service->ready());
        return service;
    }
};

TEST_F(PortalBus, ReadAsksForTheAppearanceColorSchemeAndUnwrapsNestedVariants) {
    const std::pair<uint32_t, int> cases[] = {{0, 0}, {1, 0}, {2, 0}, {1, 1}, {0, 3}};
    for (const auto& [value, depth] : cases) {
        SCOPED_TRACE(std::to_string(value) + " nested " + std::to_string(depth));
        const auto fake = portal(value, depth);
        EXPECT_EQ(desktop_theme::read_color_scheme(m_client.get()), value);
        // With no preference the answer would come from GTK: only decided ones count.
        EXPECT_TRUE(value == 0 || desktop_theme::prefers_dark(m_client.get()) == (value == 1));
        // Once for the read, once more when the preference is decided.
        EXPECT_EQ(fake->calls(), value != 0 ? kRead + kRead : kRead);
    }
}

TEST_F(PortalBus, MissingOrSilentPortalGivesNoAnswerWithinTheTimeOut) {
    EXPECT_EQ(desktop_theme::read_color_scheme(m_client.get()), std::nullopt) << "no portal";
    EXPECT_EQ(desktop_theme::read_color_scheme(nullptr), std::nullopt) << "no bus";

    const auto silent = portal(std::nullopt);
    const gint64 start = g_get_monotonic_time();
    EXPECT_EQ(desktop_theme::read_color_scheme(m_client.get()), std::nullopt);
    const gint64 waited_ms = (g_get_monotonic_time() - start) / 1000;
    // The call gives up at its own time-out instead of GDBus's 25 s default.
    EXPECT_GE(waited_ms, desktop_theme::PORTAL_TIMEOUT_MS - 50);
    EXPECT_LT(waited_ms, 5 * desktop_theme::PORTAL_TIMEOUT_MS);
}

TEST_F(PortalBus, ColorSchemeChangesFromThePortalAloneReachTheCallback) {
    const auto real = portal(1), impostor = portal(1, 0, "org.example.Impostor");

    int changes = 0, sentinel = 0;
    auto watch = std::make_unique<desktop_theme::Watch>(m_client.get(), [&] { ++changes; });
    desktop_theme::Watch keep(m_client.get(), [&] { ++sentinel; });
    ASSERT_TRUE(watch->active());
    // Subscriptions are in place once the bus has answered a round trip.
    g_dbus_connection_flush_sync(m_client.get(), nullptr, nullptr);
    ASSERT_TRUE(desktop_theme::read_color_scheme(m_client.get()).has_value());

    const auto changed = [](FakeService& from, const char* ns, const char* key) {
        return from.emit("org.freedesktop.portal.Settings", "SettingChanged",
                         g_variant_new("(ssv)", ns, key, g_variant_new_uint32(1)));
    };
    ASSERT_TRUE(changed(*impostor, "org.freedesktop.appearance", "color-scheme"));
    ASSERT_TRUE(changed(*real, "org.freedesktop.appearance", "accent-color"));
    ASSERT_TRUE(changed(*real, "org.gnome.desktop", "color-scheme"));
    ASSERT_TRUE(changed(*real, "org.freedesktop.appearance", "color-scheme"));
    // Signals arrive in order: when the sentinel saw the last one, the
    // unrelated ones before it have been handled too.
    ASSERT_TRUE(iterate_until([&] { return sentinel >= 1; }, 5000));
    EXPECT_EQ(changes, 1);

    watch.reset();
    ASSERT_TRUE(changed(*real, "org.freedesktop.appearance", "color-scheme"));
    ASSERT_TRUE(iterate_until([&] { return sentinel >= 2; }, 5000));
    EXPECT_EQ(changes, 1) << "a dropped watch hears nothing";
}

// The live call in a fresh process whose session bus is the private one and
// which has no display: the portal's dark decides (GTK alone would say light).
TEST_F(PortalBus, LiveCallWithoutDisplay) {
    const auto fake = portal(1);
    SPACEMOLE_IN_FRESH_PROCESS("LiveTheme.PrefersDark",
                               {{"SPACEMOLE_RERUN", "theme"},
                                {"DBUS_SESSION_BUS_ADDRESS", s_bus->address()},
                                {"DISPLAY", std::nullopt},
                                {"WAYLAND_DISPLAY", std::nullopt}});
    EXPECT_EQ(fake->calls(), kRead);
}

TEST(LiveTheme, PrefersDark) {
    if (std::string(env_or_empty("SPACEMOLE_RERUN")) != "theme") GTEST_SKIP();
    EXPECT_TRUE(desktop_theme::prefers_dark());
    // Subscribes without a main loop running, and reports no change by itself.
    desktop_theme::watch([] { ADD_FAILURE() << "a change was reported"; });
}
