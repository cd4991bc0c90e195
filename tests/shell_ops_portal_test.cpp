// The trash portal inside a sandbox, against a fake portal on a private
// session bus. Each case runs in a child that looks like a snap (SNAP and
// SNAP_NAME set before anything reads them), with its own dbus-daemon.
#include "shell_ops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fake_portal.h"
#include "i18n.h"
#include "child_process.h"
#include "temp_tree.h"

using namespace testing_support;
using Behaviour = FakeTrashPortal::Behaviour;

namespace {

// Set before anything reads them: the child looks like a snap whose home is in `tree`.
void look_like_a_snap(TempTree& tree) {
    set_env("SNAP", "/snap/spacemole/1");
    set_env("SNAP_NAME", "spacemole");
    set_env("HOME", tree.dir("home"));
    ::unsetenv("SNAP_REAL_HOME");
    ::unsetenv("XDG_DATA_HOME");
}

// In a child that looks like a snap with its home in `tree`, brings up a
// private bus and the fake portal on it, then runs `body` with options for a
// client connection. The program's own trash is home/.local/share/Trash; the portal
// moves things to portal-trash. Returns the child's status.
int in_snap(
    TempTree& tree, Behaviour behaviour,
    const std::function<void(const shell_ops::TrashOptions&, const FakeTrashPortal&)>& body) {
    return run_in_child([&] {
        I18n::instance().set_language("en"); // messages are compared in English
        look_like_a_snap(tree);
        const PrivateBus bus;
        const FakeTrashPortal portal(bus.address(), behaviour, tree.dir("portal-trash"));
        ASSERT_TRUE(portal.ok());
        const ConnectionPtr client = bus.connect();
        ASSERT_TRUE(client);
        shell_ops::TrashOptions options;
        options.bus = client.get();
        options.portal_timeout_ms = 1000; // the never-answering portal waits this long
        body(options, portal);
    });
}

TEST(TrashPortal, EachAnswerLeadsToItsOutcome) {
    // Where the items land: the portal's trash, our own, or nowhere (they stay).
    const std::pair<Behaviour, std::string> cases[] = {
        {Behaviour::MoveAndAnswerOne, "portal-trash"},
        {Behaviour::AnswerOneAndLeave, ""},
        {Behaviour::AnswerZero, "home/.local/share/Trash/files"},
        {Behaviour::NeverAnswer, "home/.local/share/Trash/files"},
    };
    for (const auto& [behaviour, lands] : cases) {
        const std::string& where = lands; // a plain name the lambda below can capture
        TempTree tree;
        const std::string file = tree.file("home/work/report.txt", 6);
        const std::string folder = tree.dir("home/work/folder");
        tree.file("home/work/folder/inner", 2);
        const int status = in_snap(tree, behaviour, [&](const auto& options, const auto& p) {
            const auto r = shell_ops::move_to_trash({file, folder}, options);
            EXPECT_EQ(p.calls(), "TrashFile(0,)\nTrashFile(0,)\n");
            EXPECT_EQ(r.trashed.size(), where.empty() ? 0u : 2u);
            EXPECT_EQ(r.error, where.empty() ? "The item could not be moved" : "");
            EXPECT_TRUE(r.no_trash_available.empty());
            // What the portal took is marked, so it is never put back by hand.
            ASSERT_EQ(r.moved.size(), r.trashed.size());
            for (const shell_ops::TrashedItem& m : r.moved)
                EXPECT_EQ(m.via_portal, where == "portal-trash");
        });
        EXPECT_EQ(status, 0) << "behaviour " << static_cast<int>(behaviour);
        EXPECT_EQ(exists(file), where.empty());
        for (const char* place : {"portal-trash", "home/.local/share/Trash/files"}) {
            EXPECT_EQ(exists(tree.path(place) + "/report.txt"), where == place) << place;
            EXPECT_EQ(exists(tree.path(place) + "/folder/inner"), where == place) << place;
        }
        EXPECT_EQ(exists(tree.path("home/.local/share/Trash/info/report.txt.trashinfo")),
                  !where.empty() && where != "portal-trash");
    }
}

TEST(TrashPortal, LinksAndFifosAreNeverHandedToThePortal) {
    TempTree tree;
    const std::string fifo = tree.dir("home/work") + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string target = tree.file("home/elsewhere/target.txt", 3);
    const std::string link = tree.symlink("home/work/link", target);
    const std::string fifo_link = tree.symlink("home/work/fifo-link", fifo);
    EXPECT_EQ(in_snap(tree, Behaviour::MoveAndAnswerOne,
                      [&](const auto& options, const FakeTrashPortal& p) {
                          const auto r = shell_ops::move_to_trash({link, fifo_link, fifo}, options);
                          EXPECT_EQ(p.calls(), "");
                          EXPECT_EQ(r.failed_count, 0) << r.error;
                      }),
              0);
    // The links themselves went to the own trash, not their targets.
    EXPECT_EQ(read_file(target), "xxx");
    EXPECT_TRUE(list_dir(tree.path("portal-trash")).empty());
    EXPECT_EQ(list_dir(tree.path("home/.local/share/Trash/files")),
              (std::vector<std::string>{"fifo-link", "link", "pipe"}));
}

TEST(TrashPortal, MissingPortalFallsBackToTheOwnTrashOnTheSessionBus) {
    TempTree tree;
    const std::string file = tree.file("home/work/a.txt", 1);
    EXPECT_EQ(run_in_child([&] {
                  look_like_a_snap(tree);
                  // Sets the session bus address; nobody owns the portal. Stopped,
                  // not taken down: the program keeps its session connection.
                  GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
                  g_test_dbus_up(bus);
                  const auto r = shell_ops::move_to_trash({file});
                  EXPECT_EQ(r.trashed, std::vector<std::string>{file}) << r.error;
                  g_test_dbus_stop(bus);
                  g_object_unref(bus);
              }),
              0);
    EXPECT_TRUE(exists(tree.path("home/.local/share/Trash/files/a.txt")));
}

} // namespace
