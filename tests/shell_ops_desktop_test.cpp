// Desktop services against a private session bus with a fake file manager,
// the live wrappers in fresh processes (no bus, no display), and volume
// figures of a tmpfs of known size in a private mount namespace.
#include "shell_ops.h"
#include "desktop_theme.h"

#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "fresh_process.h"
#include "fake_bus.h"
#include "mount_namespace.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

constexpr const char* kFileManagerXml = R"(<node>
  <interface name="org.freedesktop.FileManager1">
    <method name="ShowFolders"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
    <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
  </interface></node>)";
// A file manager that owns the name but serves some other interface.
constexpr const char* kForeignXml =
    R"(<node><interface name="org.example.Other"><method name="Hello"/></interface></node>)";

std::unique_ptr<FakeService> fake_file_manager(const PrivateBus& bus, const char* xml) {
    return std::make_unique<FakeService>(
        bus.address(), "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", xml,
        [](const std::string&, GVariant*) { return g_variant_new("()"); });
}

} // namespace

TEST(RevealPlan, FoldersOpenThemselvesItemsTheirParent) {
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"/home/anna/Photos", true, "ShowFolders file:///home/anna/Photos /home/anna/Photos"},
        {"/home/anna/a b.txt", false, "ShowItems file:///home/anna/a%20b.txt /home/anna"},
        {"/home/anna/50%#?.txt", false, "ShowItems file:///home/anna/50%25%23%3F.txt /home/anna"},
        {"relative", false, "ShowItems  "},
    };
    for (const auto& [path, is_dir, expected] : cases) {
        const auto plan = shell_ops::reveal_plan(path, is_dir);
        EXPECT_EQ(plan.method + " " + plan.uri + " " + plan.fallback_folder, expected);
    }
}

class FileManagerBus : public PrivateBusTest {};

TEST_F(FileManagerBus, NoServiceOrAForeignOneMeansFallingBack) {
    const auto plan = shell_ops::reveal_plan("/srv/x.txt", false);
    EXPECT_FALSE(shell_ops::ask_file_manager(m_client.get(), plan)) << "nobody owns the name";
    auto foreign = fake_file_manager(*s_bus, kForeignXml);
    ASSERT_TRUE(foreign->ready());
    EXPECT_FALSE(shell_ops::ask_file_manager(m_client.get(), plan)) << "unknown interface";
    EXPECT_FALSE(shell_ops::ask_file_manager(nullptr, plan)) << "no bus at all";
}

// The live wrapper on the shared session bus, which the re-run process finds
// in DBUS_SESSION_BUS_ADDRESS.
TEST_F(FileManagerBus, LiveRevealUsesTheSessionBus) {
    TempTree tree;
    const std::string file = tree.file("docs/report.pdf", 10);
    const std::string dir = tree.dir("docs/sub");
    auto fm = fake_file_manager(*s_bus, kFileManagerXml);
    ASSERT_TRUE(fm->ready());
    SPACEMOLE_IN_FRESH_PROCESS("LiveDesktop.RevealsThroughTheSessionBus",
                               {{"SPACEMOLE_RERUN", "reveal"},
                                {"DBUS_SESSION_BUS_ADDRESS", s_bus->address()},
                                {"REVEAL_FILE", file},
                                {"REVEAL_DIR", dir}});
    EXPECT_EQ(fm->calls(),
              "ShowItems(['file://" + file + "'], '')\nShowFolders(['file://" + dir + "'], '')\n");
}

TEST(LiveDesktop, RevealsThroughTheSessionBus) {
    if (std::string(env_or_empty("SPACEMOLE_RERUN")) != "reveal") GTEST_SKIP();
    EXPECT_TRUE(shell_ops::reveal_in_file_manager(env_or_empty("REVEAL_FILE")));
    EXPECT_TRUE(shell_ops::reveal_in_file_manager(env_or_empty("REVEAL_DIR")));
}

// Without a bus and without a display nothing crashes and nothing claims success;
// the colour preference falls back to light.
TEST(LiveDesktop, WithoutBusOrDisplayEverythingFailsQuietly) {
    if (std::string(env_or_empty("SPACEMOLE_RERUN")) != "bare") {
        TempTree tree;
        SPACEMOLE_IN_FRESH_PROCESS(
            current_test_name(), {{"SPACEMOLE_RERUN", "bare"},
                                  {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + tree.path("no-bus")},
                                  {"DISPLAY", std::nullopt},
                                  {"WAYLAND_DISPLAY", std::nullopt},
                                  {"REVEAL_DIR", tree.root()}});
        return;
    }
    EXPECT_FALSE(shell_ops::reveal_in_file_manager(env_or_empty("REVEAL_DIR")));
    EXPECT_FALSE(shell_ops::reveal_in_file_manager("/no/such/file"));
    EXPECT_EQ(shell_ops::pick_folder(nullptr), "");
    EXPECT_EQ(shell_ops::pick_saved_scan(nullptr), "");
    EXPECT_FALSE(shell_ops::open_url("https://example.org/"));
    EXPECT_FALSE(desktop_theme::prefers_dark()); // no portal, and GTK without display: light
    desktop_theme::watch([] {});
}

TEST(VolumeInfo, FiguresOfATmpfsOfKnownSizeAndZerosForNoPath) {
    const auto info = shell_ops::volume_info("/no/such/folder/anywhere");
    EXPECT_EQ(info.total + info.free + info.used, 0);
    TempTree tree;
    const std::string mnt = tree.dir("mnt");
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(mount_tmpfs(mnt, "size=16m"));
        const auto empty = shell_ops::volume_info(mnt);
        EXPECT_EQ(empty.name, mnt);
        EXPECT_LE(empty.used + empty.free, empty.total);
        write_file(mnt + "/blob", std::string(4 * 1024 * 1024, 'x'));
        const auto filled = shell_ops::volume_info(mnt + "/blob");
        EXPECT_EQ(filled.total, 16 * 1024 * 1024);
        EXPECT_GE(filled.used - empty.used, 4 * 1024 * 1024);
        EXPECT_LE(filled.free, empty.free - 4 * 1024 * 1024);
        EXPECT_EQ(filled.name, mnt);
    });
}
