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
using shell_ops::TrashMessage;

namespace {

struct Sandbox {
    std::string home;
    std::string own_trash;    // where the program's own trash lands
    std::string portal_trash; // where the fake portal moves things
};

Sandbox enter_snap(TempTree& tree) {
    I18n::instance().set_language("en"); // messages are compared in English
    Sandbox s;
    s.home = tree.dir("home");
    set_env("SNAP", "/snap/spacemole/1");
    set_env("SNAP_NAME", "spacemole");
    set_env("HOME", s.home);
    ::unsetenv("SNAP_REAL_HOME");
    ::unsetenv("XDG_DATA_HOME");
    s.own_trash = s.home + "/.local/share/Trash";
    s.portal_trash = tree.dir("portal-trash");
    return s;
}

// Brings up a private bus, the fake portal on it and a client connection,
// then runs `body` with them.
void with_portal(Behaviour behaviour, const Sandbox& s,
                 const std::function<void(GDBusConnection*, const FakeTrashPortal&)>& body) {
    const PrivateBus bus;
    const FakeTrashPortal portal(bus.address(), behaviour, s.portal_trash);
    ASSERT_TRUE(portal.ok());
    const ConnectionPtr client = bus.connect();
    ASSERT_TRUE(client);
    body(client.get(), portal);
}

TEST(TrashPortal, EachAnswerLeadsToItsOutcome) {
    struct Case {
        Behaviour behaviour;
        bool trashed;
        const char* error;
        const char* lands_in; // "portal", "own" or "" (stays)
    } cases[] = {
        {Behaviour::MoveAndAnswerOne, true, "", "portal"},
        {Behaviour::AnswerOneAndLeave, false, "The item could not be moved", ""},
        {Behaviour::AnswerZero, true, "", "own"},
        {Behaviour::NeverAnswer, true, "", "own"},
    };
    for (const Case& c : cases) {
        TempTree tree;
        const int status = run_in_child([&] {
            const Sandbox s = enter_snap(tree);
            const std::string file = tree.file("home/work/report.txt", 6);
            const std::string folder = tree.dir("home/work/folder");
            tree.file("home/work/folder/inner", 2);
            with_portal(c.behaviour, s, [&](GDBusConnection* client, const FakeTrashPortal& p) {
                shell_ops::TrashOptions options;
                options.bus = client;
                options.portal_timeout_ms = 1000; // the never-answering portal waits this long
                const auto r = shell_ops::move_to_trash({file, folder}, options);
                EXPECT_EQ(p.calls(), 2);
                EXPECT_EQ(r.trashed.size(), c.trashed ? 2u : 0u);
                EXPECT_EQ(r.error, c.error);
                EXPECT_TRUE(r.no_trash_available.empty());
                const std::string where = c.lands_in;
                EXPECT_EQ(exists(file), where.empty());
                for (const char* name : {"report.txt", "folder/inner"}) {
                    EXPECT_EQ(exists(s.portal_trash + "/" + name), where == "portal") << name;
                    EXPECT_EQ(exists(s.own_trash + "/files/" + name), where == "own") << name;
                }
                EXPECT_EQ(exists(s.own_trash + "/info/report.txt.trashinfo"), where == "own");
            });
        });
        EXPECT_EQ(status, 0) << "behaviour " << static_cast<int>(c.behaviour);
    }
}

TEST(TrashPortal, LinksAndFifosAreNeverHandedToThePortal) {
    TempTree tree;
    EXPECT_EQ(run_in_child([&] {
                  const Sandbox s = enter_snap(tree);
                  const std::string fifo = tree.path("home/work/pipe");
                  tree.dir("home/work");
                  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
                  tree.file("home/elsewhere/target.txt", 3);
                  const std::string link =
                      tree.symlink("home/work/link", tree.path("home/elsewhere/target.txt"));
                  const std::string fifo_link = tree.symlink("home/work/fifo-link", fifo);
                  with_portal(
                      Behaviour::MoveAndAnswerOne, s,
                      [&](GDBusConnection* client, const FakeTrashPortal& p) {
                          shell_ops::TrashOptions options;
                          options.bus = client;
                          const auto r = shell_ops::move_to_trash({link, fifo_link, fifo}, options);
                          EXPECT_EQ(p.calls(), 0);
                          EXPECT_EQ(r.failed_count, 0) << r.error;
                          // The links themselves went to the own trash, not their targets.
                          EXPECT_EQ(read_file(tree.path("home/elsewhere/target.txt")), "xxx");
                          EXPECT_TRUE(list_dir(s.portal_trash).empty());
                          EXPECT_EQ(list_dir(s.own_trash + "/files"),
                                    (std::vector<std::string>{"fifo-link", "link", "pipe"}));
                      });
              }),
              0);
}

TEST(TrashPortal, MissingPortalFallsBackToTheOwnTrashOnTheSessionBus) {
    TempTree tree;
    EXPECT_EQ(run_in_child([&] {
                  const Sandbox s = enter_snap(tree);
                  const std::string file = tree.file("home/work/a.txt", 1);
                  // Sets the session bus address; nobody owns the portal. Stopped,
                  // not taken down: the program keeps its session connection.
                  GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
                  g_test_dbus_up(bus);
                  const auto r = shell_ops::move_to_trash({file});
                  EXPECT_EQ(r.trashed, std::vector<std::string>{file}) << r.error;
                  EXPECT_TRUE(exists(s.own_trash + "/files/a.txt"));
                  g_test_dbus_stop(bus);
                  g_object_unref(bus);
              }),
              0);
}

} // namespace
