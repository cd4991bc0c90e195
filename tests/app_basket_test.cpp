// Journeys through the delete list and the packer with the real file
// operations: a real home Trash under a temp XDG_DATA_HOME, real tar, and
// frames drawn into a cairo image surface. No display is needed.
#include "app.h"

#include <algorithm>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include "app_frame.h"
#include "format.h"
#include "fresh_process.h"
#include "mount_namespace.h"

using namespace testing_support;
using namespace testing_support::journey;

using BasketJourney = Journey;

TEST_F(BasketJourney, MarkTwoFoldersAndAFileThenMoveThemToTheTrash) {
    m_tree.file("home/projects/old/x.bin", 500000);
    m_tree.file("home/projects/keep/y.bin", 300000);
    m_tree.file("home/videos/clip.mp4", 700000);
    m_tree.file("home/notes.txt", 290000);
    m_tree.file("home/build/out.o", 270000);
    App app(effects());
    Frame frame;
    scan(app, m_home);
    const FileNodePtr old = node(app, "home/projects/old");
    const FileNodePtr build = node(app, "home/build");
    const FileNodePtr notes = node(app, "home/notes.txt");
    ASSERT_TRUE(old && build && notes);
    EXPECT_EQ(app.m_reclaimable, build->size) << "the build folder is the only junk";
    const std::int64_t before = app.m_root->size;
    const std::int64_t gone = notes->size + build->size + old->size;

    // The keyboard marks the selection; the tile menu marks a folder.
    app.select(notes);
    EXPECT_TRUE(app.on_key(GDK_KEY_Delete, kNoMods));
    app.select(build);
    app.on_key(GDK_KEY_Delete, kNoMods);
    app.zoom_into(node(app, "home/projects"));
    app.zoom_into(old);
    app.open_tile_menu(old, 300, 300);
    ASSERT_TRUE(click(app, frame, App::Act::MenuItem, App::CMD_TILE_MARK));
    EXPECT_EQ(app.m_basket, (std::vector<FileNodePtr>{notes, build, old}));

    // The bar's "Move to Trash" asks first; Enter confirms.
    ASSERT_TRUE(click(app, frame, App::Act::BasketDelete));
    ASSERT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_EQ(app.m_dialog_message, "Move 3 item(s) · " + fmt::bytes(gone) + " to Trash?");
    press(app, GDK_KEY_Return);
    ASSERT_TRUE(app.m_deleting && settled(app));
    EXPECT_EQ(list_dir(m_tree.path("data/Trash/files")),
              (std::vector<std::string>{"build", "notes.txt", "old"}));
    EXPECT_FALSE(exists(old->path) || exists(notes->path) || exists(build->path));

    // The tree lost exactly those bytes; the view stays in the deepest
    // folder left; the list, the reclaimable total and the banner follow.
    EXPECT_EQ(app.m_root->size, before - gone);
    ASSERT_EQ(app.m_path.size(), 1u);
    EXPECT_EQ(app.m_path[0]->path, m_tree.path("home/projects"));
    EXPECT_TRUE(app.m_basket.empty());
    EXPECT_EQ(app.m_reclaimable, 0);
    EXPECT_EQ(app.m_last_freed, gone);
    EXPECT_EQ(app.m_overlay, App::Overlay::None) << "no dialog after a clean move";
    frame.draw(app);
    EXPECT_EQ(frame.pixel(4, app.m_r_freed.y + 6), app.m_palette.ok_bg);
}

TEST_F(BasketJourney, AddAllJunkListsNoNestedPairAndNeverTheRootOrARefusedItem) {
    m_tree.file("home/proj/node_modules/a/node_modules/b/big.bin", 300000);
    m_tree.file("home/proj/node_modules/c.js", 5000);
    m_tree.file("home/cache/blob", 280000);
    m_tree.file("home/docs/report.pdf", 300000);
    m_tree.file("home/bad\xff/tmp/t.bin", 270000); // repaired name above junk
    m_tree.file("home/one.bin", 8000);
    m_tree.file("home/two.bin", 8000); // with one.bin: a "Small files" node
    App app(effects());
    Frame frame;
    scan(app, m_home);
    const FileNodePtr outer = node(app, "home/proj/node_modules");
    const FileNodePtr inner = node(app, "home/proj/node_modules/a/node_modules");

    // A nested item listed first gives way to the outer one.
    app.toggle_basket(inner);
    ASSERT_EQ(app.m_basket.size(), 1u);
    ASSERT_TRUE(click(app, frame, App::Act::MarkReclaimable));
    EXPECT_EQ(app.m_basket.size(), 2u);
    EXPECT_TRUE(app.is_in_basket(outer) && app.is_in_basket(node(app, "home/cache")));
    EXPECT_EQ(app.basket_total_bytes(), app.m_reclaimable) << "no byte counted twice";

    // Marking inside a listed folder does nothing; the root and an aggregate
    // never get on; a repaired name is told why.
    app.toggle_basket(inner);
    app.toggle_basket(app.m_root);
    for (const auto& c : app.m_root->children)
        if (c->is_aggregate) app.toggle_basket(c);
    EXPECT_EQ(app.m_basket.size(), 2u);
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
    const FileNodePtr repaired =
        *std::find_if(app.m_root->children.begin(), app.m_root->children.end(),
                      [](const auto& c) { return c->path_repaired; });
    app.select(repaired);
    press(app, GDK_KEY_Delete);
    EXPECT_EQ(app.m_basket.size(), 2u);
    EXPECT_EQ(app.m_dialog_title, "Protected");
    press(app, GDK_KEY_Escape);

    // A stale item that slipped onto the list is refused at removal time.
    app.m_basket = {repaired};
    app.empty_basket_to_trash();
    EXPECT_EQ(app.m_dialog_title, "Protected");
    ASSERT_TRUE(settled(app));
    EXPECT_TRUE(exists(m_tree.path("home/bad\xff/tmp/t.bin"))) << "nothing of it was touched";
    EXPECT_TRUE(app.m_basket.empty());

    // The scanned folder itself gone: the empty state, not a tree of the dead.
    app.apply_deletion({app.m_root->path});
    EXPECT_FALSE(app.m_root);
    frame.draw(app);
    EXPECT_TRUE(find_target(app, App::Act::ChooseFolder));

    // A junk folder as scan root is searched, never offered itself.
    scan(app, outer->path);
    app.add_reclaimable_to_basket();
    ASSERT_EQ(app.m_basket.size(), 1u);
    EXPECT_EQ(app.m_basket[0]->path, inner->path);
}

// An item whose folder refuses the move stays listed, and the error is
// reported in a dialog and in the red banner. Permission checks need an
// unprivileged user: the journey runs in a fresh process that drops root.
TEST(BasketJourneyFresh, DISABLED_UnmovableItemStaysListed) {
    if (::geteuid() == 0) {
        ASSERT_TRUE(::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                    ::setresuid(65534, 65534, 65534) == 0);
    }
    TempTree tree;
    set_env("XDG_CONFIG_HOME", tree.path("config"));
    set_env("XDG_DATA_HOME", tree.dir("data"));
    const std::string home = tree.dir("home");
    const std::string stuck = tree.file("home/locked/stuck.bin", 300000);
    tree.file("home/free.bin", 280000);
    tree.chmod("home/locked", 0555);
    App app(real_effects(home));
    Frame frame;
    scan(app, home);
    app.toggle_basket(tree_edit::find(app.m_root, stuck));
    app.toggle_basket(tree_edit::find(app.m_root, tree.path("home/free.bin")));
    app.empty_basket_to_trash();
    ASSERT_TRUE(settled(app));
    EXPECT_TRUE(exists(stuck));
    EXPECT_TRUE(exists(tree.path("data/Trash/files/free.bin")));
    ASSERT_EQ(app.m_basket.size(), 1u);
    EXPECT_EQ(app.m_basket[0]->path, stuck);
    EXPECT_EQ(app.m_delete_error, "1 item(s) could not be moved to Trash. Permission denied.");
    EXPECT_EQ(app.m_dialog_title, "Delete error");
    ASSERT_EQ(app.m_dialog_buttons.size(), 1u) << "nothing to offer: the Trash was there";
    press(app, GDK_KEY_Return); // OK is the cancel button: Enter skips it
    press(app, GDK_KEY_Escape);
    frame.draw(app);
    EXPECT_EQ(frame.pixel(4, app.m_r_freed.y + 6), app.m_palette.danger_bg);

    // Deleting it for good fails as well: the report speaks of deleting.
    app.m_no_trash = {stuck};
    app.delete_no_trash_items();
    ASSERT_TRUE(settled(app));
    EXPECT_EQ(app.m_delete_error, "1 item(s) could not be deleted. The item could not be moved.");
}

TEST(BasketJourneyInFreshProcess, UnmovableItemStaysListed) {
    SPACEMOLE_IN_FRESH_PROCESS("BasketJourneyFresh.DISABLED_UnmovableItemStaysListed",
                               {{"LANGUAGE", "en"}});
}

// An item on a volume whose Trash cannot be made is offered for permanent
// deletion; choosing it removes the item from disk and from the tree. Runs
// in a fresh process (one thread) that forks into a private mount namespace.
TEST_F(BasketJourney, DISABLED_NoTrashOnTheVolumeOffersPermanentDeletion) {
    const std::string vol = m_tree.dir("vol");
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(mount_tmpfs(vol));
        // A file where the volume's trash folder would go: no Trash here.
        write_file(vol + "/.Trash-" + std::to_string(::getuid()), "");
        write_file(vol + "/old.iso", std::string(300000, 'i'));
        write_file(vol + "/keep.txt", "k");
        App app(real_effects(vol));
        Frame frame;
        scan(app, vol);
        const FileNodePtr iso = tree_edit::find(app.m_root, vol + "/old.iso");
        const std::int64_t before = app.m_root->size;
        app.toggle_basket(iso);
        app.empty_basket_to_trash();
        ASSERT_TRUE(settled(app));
        EXPECT_NE(app.m_dialog_message.find("Delete 1 item(s) permanently instead?"),
                  std::string::npos);
        EXPECT_TRUE(exists(vol + "/old.iso"));
        ASSERT_TRUE(click(app, frame, App::Act::DialogButton, App::CMD_DLG_DELETE_FOREVER));
        ASSERT_TRUE(settled(app));
        EXPECT_FALSE(exists(vol + "/old.iso"));
        EXPECT_TRUE(app.m_basket.empty());
        EXPECT_EQ(app.m_root->size, before - iso->size);
        EXPECT_TRUE(app.m_freed_permanently);
    });
}

TEST(BasketJourneyInFreshProcess, NoTrashOnTheVolumeOffersPermanentDeletion) {
    SPACEMOLE_IN_FRESH_PROCESS("BasketJourney.DISABLED_NoTrashOnTheVolumeOffersPermanentDeletion",
                               {{"LANGUAGE", "en"}});
}

TEST_F(BasketJourney, PackAFolderWithRealTarThenFailingAndSlowTars) {
    const std::string a = read_file(m_tree.file("home/photos/a.raw", 1500000, 'a'));
    App app(effects());
    Frame frame;
    scan(app, m_home);
    app.open_tile_menu(node(app, "home/photos"), 200, 200);
    ASSERT_TRUE(click(app, frame, App::Act::MenuItem, App::CMD_TILE_ZIP));
    EXPECT_TRUE(app.m_compressing);
    press(app, GDK_KEY_Return);
    EXPECT_EQ(app.m_overlay, App::Overlay::Dialog) << "Enter cannot dismiss it";
    ASSERT_TRUE(settled(app));

    EXPECT_GE(app.m_compress_done.load(), app.m_compress_total) << "the bar ends at 100 %";
    const std::string archive = m_tree.path("home/photos.tar.gz");
    struct stat st {};
    ASSERT_EQ(::stat(archive.c_str(), &st), 0);
    EXPECT_EQ(app.m_dialog_file_size, fmt::bytes(st.st_size));
    EXPECT_EQ(app.m_dialog_reveal, archive);
    const std::string out = m_tree.dir("out");
    ASSERT_EQ(std::system(("tar -xzf '" + archive + "' -C '" + out + "'").c_str()), 0);
    EXPECT_EQ(read_file(out + "/photos/a.raw"), a);

    // A failing tar says so; one that would run for minutes stops when the
    // App quits; neither leaves a file.
    const std::string tar = m_tree.dir("bin") + "/tar";
    write_file(tar, "#!/bin/sh\necho partial; exit 2\n");
    ::chmod(tar.c_str(), 0755);
    const std::string saved_path = env_or_empty("PATH");
    set_env("PATH", m_tree.path("bin"));
    const std::vector<std::string> files = list_dir(m_home);
    app.compress_folder(node(app, "home/photos"));
    EXPECT_TRUE(settled(app));
    EXPECT_EQ(app.m_dialog_title, "Packing failed");
    EXPECT_EQ(list_dir(m_home), files);
    write_file(tar, "#!/bin/sh\necho partial; exec /bin/sleep 300\n");
    app.compress_folder(node(app, "home/photos"));
    EXPECT_TRUE(app.m_compressing);
    iterate_until([&] { return list_dir(m_home) != files; }, 5000); // tar started
    EXPECT_TRUE(app.join_threads(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    set_env("PATH", saved_path);
    EXPECT_EQ(list_dir(m_home), files);
}
