// Journeys through the delete list and the packer with the real file
// operations: a real home Trash under a temp XDG_DATA_HOME, real tar, and
// frames drawn into a cairo image surface. No display is needed.
#include "app.h"

#include <algorithm>
#include <cstdlib>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include "fake_bus.h"
#include "format.h"
#include "i18n.h"
#include "fresh_process.h"
#include "mount_namespace.h"
#include "shell_ops.h"
#include "strutil.h"
#include "app_frame.h"
#include "temp_tree.h"
#include "child_process.h"
#include "tree_edit.h"

using namespace testing_support;

namespace {

bool click(App& app, Frame& frame, App::Act act, int index = -1) {
    frame.draw(app);
    const App::HitTarget* t = find_target(app, act, index);
    if (!t) return false;
    const RectF r = t->rect;
    return app.on_click(r.mid_x(), r.mid_y(), false);
}

// The real file operations, as main() wires them, with `home` as the home.
App::Effects real_effects(const std::string& home) {
    App::Effects fx;
    fx.move_to_trash = [](const std::vector<std::string>& p) {
        return shell_ops::move_to_trash(p);
    };
    fx.delete_permanently = [](const std::vector<std::string>& p) {
        return shell_ops::delete_permanently(p);
    };
    fx.compress_folder = [](const std::string& f, const shell_ops::ProgressFn& on_progress,
                            const std::atomic<bool>* cancel) {
        return shell_ops::compress_folder(f, on_progress, cancel);
    };
    fx.can_write_archive_beside = shell_ops::can_write_archive_beside;
    fx.home_directory = [home] { return home; };
    return fx;
}

void scan(App& app, const std::string& path) {
    app.start_scan(path);
    ASSERT_TRUE(iterate_until([&] { return !app.m_scanning; }, 20000));
    ASSERT_TRUE(app.m_root);
}

FileNodePtr node(const App& app, const std::string& path) {
    return tree_edit::find(app.m_root, path);
}

bool settled(App& app) {
    return iterate_until([&] { return !app.m_deleting && !app.m_compressing; }, 20000);
}

// The chip targets of the delete-list bar, in order.
std::vector<std::string> chips(const App& app) {
    std::vector<std::string> out;
    for (const App::HitTarget& t : app.m_targets)
        if (t.act == App::Act::BasketRemove) out.push_back(t.node->path);
    return out;
}

bool nested_pair(const std::vector<FileNodePtr>& list) {
    for (const auto& a : list)
        for (const auto& b : list)
            if (a != b && su::starts_with(a->path, b->path + "/")) return true;
    return false;
}

class BasketJourney : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_config.root().c_str(), 1);
        setenv("XDG_DATA_HOME", m_tree.path("data").c_str(), 1);
        setenv("LANGUAGE", "en", 1);
        I18n::instance().set_language("en");
        m_home = m_tree.dir("home");
        // The data home must exist, or the home Trash is not used at all.
        m_tree.dir("data");
    }

    TempTree m_config;
    TempTree m_tree;
    std::string m_home;
};

} // namespace

TEST_F(BasketJourney, MarkTwoFoldersAndAFileThenMoveThemToTheTrash) {
    m_tree.file("home/projects/old/x.bin", 500000);
    m_tree.file("home/projects/keep/y.bin", 300000);
    m_tree.file("home/videos/clip.mp4", 700000);
    m_tree.file("home/notes.txt", 290000);
    m_tree.file("home/build/out.o", 270000);
    App app(real_effects(m_home));
    Frame frame;
    scan(app, m_home);
    const FileNodePtr old = node(app, m_tree.path("home/projects/old"));
    const FileNodePtr build = node(app, m_tree.path("home/build"));
    const FileNodePtr notes = node(app, m_tree.path("home/notes.txt"));
    ASSERT_TRUE(old && build && notes);
    EXPECT_EQ(app.m_reclaimable, build->size) << "the build folder is the only junk";
    const std::int64_t before = app.m_root->size;
    const std::int64_t projects_before = node(app, m_tree.path("home/projects"))->size;

    // The keyboard marks the selection; the tile menu marks a folder.
    app.select(notes);
    EXPECT_TRUE(app.on_key(GDK_KEY_Delete, GdkModifierType(0)));
    app.select(build);
    app.on_key(GDK_KEY_Delete, GdkModifierType(0));
    app.zoom_into(node(app, m_tree.path("home/projects")));
    app.zoom_into(old);
    app.open_tile_menu(old, 300, 300);
    ASSERT_TRUE(click(app, frame, App::Act::MenuItem, App::CMD_TILE_MARK));
    frame.draw(app);
    EXPECT_EQ(chips(app), (std::vector<std::string>{notes->path, build->path, old->path}));
    EXPECT_EQ(app.basket_total_bytes(), notes->size + build->size + old->size);

    // The bar's "Move to Trash" asks first; Enter confirms.
    ASSERT_TRUE(click(app, frame, App::Act::BasketDelete));
    ASSERT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_EQ(app.m_dialog_message,
              "Move 3 item(s) · " + fmt::bytes(app.basket_total_bytes()) + " to Trash?");
    app.on_key(GDK_KEY_Return, GdkModifierType(0));
    EXPECT_TRUE(app.m_deleting);
    ASSERT_TRUE(settled(app));

    const std::string trash = m_tree.path("data/Trash");
    EXPECT_EQ(list_dir(trash + "/files"), (std::vector<std::string>{"build", "notes.txt", "old"}));
    EXPECT_NE(read_file(trash + "/info/old.trashinfo")
                  .find("Path=" + m_tree.path("home/projects/old") + "\n"),
              std::string::npos);
    EXPECT_TRUE(exists(trash + "/info/notes.txt.trashinfo"));
    EXPECT_FALSE(exists(old->path) || exists(notes->path) || exists(build->path));

    // The tree lost exactly those bytes; the view stays in the deepest
    // folder left; the list, the reclaimable total and the banner follow.
    EXPECT_EQ(app.m_root->size, before - notes->size - build->size - old->size);
    EXPECT_FALSE(node(app, old->path));
    ASSERT_EQ(app.m_path.size(), 1u);
    EXPECT_EQ(app.m_path[0]->path, m_tree.path("home/projects"));
    EXPECT_EQ(app.m_path[0]->size, projects_before - old->size);
    EXPECT_TRUE(app.m_basket.empty());
    EXPECT_EQ(app.m_reclaimable, 0);
    EXPECT_EQ(app.m_last_freed, notes->size + build->size + old->size);
    EXPECT_FALSE(app.m_freed_permanently);
    EXPECT_EQ(app.m_overlay, App::Overlay::None) << "no dialog after a clean move";
    frame.draw(app);
    EXPECT_EQ(app.m_r_basket.h, 0.0f) << "an empty list has no bar";
    ASSERT_EQ(app.m_r_freed.h, 28.0f);
    EXPECT_EQ(frame.pixel(4, app.m_r_freed.y + 6), app.m_palette.ok_bg);
    ASSERT_TRUE(click(app, frame, App::Act::DismissFreed));
    frame.draw(app);
    EXPECT_EQ(app.m_r_freed.h, 0.0f);
}

TEST_F(BasketJourney, AddAllJunkListsNoNestedPairAndNeverTheRootOrARefusedItem) {
    m_tree.file("home/proj/node_modules/a/node_modules/b/big.bin", 300000);
    m_tree.file("home/proj/node_modules/c.js", 5000);
    m_tree.file("home/cache/blob", 280000);
    m_tree.file("home/docs/report.pdf", 300000);
    m_tree.file(std::string("home/bad\xff/tmp/t.bin"), 270000); // repaired name above junk
    m_tree.file("home/one.bin", 8000);
    m_tree.file("home/two.bin", 8000); // with one.bin: a "Small files" node
    App app(real_effects(m_home));
    Frame frame;
    scan(app, m_home);
    const std::string outer = m_tree.path("home/proj/node_modules");
    const std::string inner = outer + "/a/node_modules";

    // A nested item listed first gives way to the outer one.
    app.toggle_basket(node(app, inner));
    ASSERT_EQ(app.m_basket.size(), 1u);
    ASSERT_TRUE(click(app, frame, App::Act::MarkReclaimable));
    std::vector<std::string> listed;
    for (const auto& n : app.m_basket)
        listed.push_back(n->path);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{m_tree.path("home/cache"), outer}));
    EXPECT_FALSE(nested_pair(app.m_basket));
    EXPECT_EQ(app.basket_total_bytes(), app.m_reclaimable) << "no byte counted twice";

    // Marking inside a listed folder does nothing; the root, an aggregate
    // and a repaired name never get on; a repaired one is told why.
    app.toggle_basket(node(app, inner));
    app.toggle_basket(app.m_root);
    FileNodePtr small;
    for (const auto& c : app.m_root->children)
        if (c->is_aggregate) small = c;
    ASSERT_TRUE(small);
    app.toggle_basket(small);
    EXPECT_EQ(app.m_basket.size(), 2u);
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
    FileNodePtr repaired;
    for (const auto& c : app.m_root->children)
        if (c->path_repaired) repaired = c;
    ASSERT_TRUE(repaired);
    app.select(repaired);
    app.on_key(GDK_KEY_Delete, GdkModifierType(0));
    EXPECT_EQ(app.m_basket.size(), 2u);
    ASSERT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_EQ(app.m_dialog_title, "Protected");
    app.on_key(GDK_KEY_Escape, GdkModifierType(0));

    // A stale item that slipped onto the list is refused at removal time.
    app.m_basket = {repaired};
    app.empty_basket_to_trash();
    EXPECT_EQ(app.m_dialog_title, "Protected");
    ASSERT_TRUE(settled(app));
    EXPECT_TRUE(exists(m_tree.path(std::string("home/bad\xff/tmp/t.bin"))))
        << "nothing of the refused item was touched";
    EXPECT_TRUE(app.m_basket.empty());

    // The scanned folder itself gone: the empty state, not a tree of the dead.
    app.apply_deletion({app.m_root->path});
    EXPECT_FALSE(app.m_root);
    frame.draw(app);
    EXPECT_TRUE(find_target(app, App::Act::ChooseFolder));
    EXPECT_FALSE(find_target(app, App::Act::Tile));

    // A junk folder as scan root is searched, never offered itself.
    scan(app, outer);
    app.add_reclaimable_to_basket();
    ASSERT_EQ(app.m_basket.size(), 1u);
    EXPECT_EQ(app.m_basket[0]->path, inner);
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
    tree.file("home/locked/stuck.bin", 300000);
    tree.file("home/free.bin", 280000);
    tree.chmod("home/locked", 0555);
    App app(real_effects(home));
    Frame frame;
    scan(app, home);
    const FileNodePtr stuck = node(app, tree.path("home/locked/stuck.bin"));
    const FileNodePtr free_file = node(app, tree.path("home/free.bin"));
    app.toggle_basket(stuck);
    app.toggle_basket(free_file);
    ASSERT_EQ(app.m_basket.size(), 2u);
    app.empty_basket_to_trash();
    ASSERT_TRUE(settled(app));
    EXPECT_TRUE(exists(stuck->path));
    EXPECT_TRUE(exists(tree.path("data/Trash/files/free.bin")));
    ASSERT_EQ(app.m_basket.size(), 1u);
    EXPECT_EQ(app.m_basket[0]->path, stuck->path);
    EXPECT_EQ(app.m_last_freed, free_file->size);
    EXPECT_EQ(app.m_delete_error, "1 item(s) could not be moved to Trash. Permission denied.");
    ASSERT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_EQ(app.m_dialog_title, "Delete error");
    ASSERT_EQ(app.m_dialog_buttons.size(), 1u) << "nothing to offer: the Trash was there";
    app.on_key(GDK_KEY_Return, GdkModifierType(0)); // OK is the cancel button: Enter skips it
    app.on_key(GDK_KEY_Escape, GdkModifierType(0));
    frame.draw(app);
    ASSERT_EQ(app.m_r_freed.h, 28.0f);
    EXPECT_EQ(frame.pixel(4, app.m_r_freed.y + 6), app.m_palette.danger_bg);
    tree.chmod("home/locked", 0755);
}

TEST(BasketJourneyInFreshProcess, UnmovableItemStaysListed) {
    SPACEMOLE_IN_FRESH_PROCESS("BasketJourneyFresh.DISABLED_UnmovableItemStaysListed",
                               {{"LANGUAGE", "en"}});
}

// An item on a volume whose Trash cannot be made is offered for permanent
// deletion; choosing it removes the item from disk and from the tree. Runs
// in a fresh process (one thread) that forks into a private mount namespace.
TEST(BasketJourneyFresh, DISABLED_NoTrashOnTheVolumeOffersPermanentDeletion) {
    TempTree tree;
    set_env("XDG_CONFIG_HOME", tree.path("config"));
    set_env("XDG_DATA_HOME", tree.dir("data"));
    const std::string vol = tree.dir("vol");
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(mount_tmpfs(vol));
        // A file where the volume's trash folder would go: no Trash here.
        write_file(vol + "/.Trash-" + std::to_string(::getuid()), "");
        write_file(vol + "/old.iso", std::string(300000, 'i'));
        write_file(vol + "/keep.txt", "k");
        App app(real_effects(vol));
        Frame frame;
        scan(app, vol);
        const FileNodePtr iso = node(app, vol + "/old.iso");
        ASSERT_TRUE(iso);
        const std::int64_t before = app.m_root->size;
        app.toggle_basket(iso);
        app.empty_basket_to_trash();
        ASSERT_TRUE(settled(app));
        ASSERT_EQ(app.m_overlay, App::Overlay::Dialog);
        EXPECT_EQ(app.m_dialog_title, "Delete error");
        EXPECT_NE(app.m_dialog_message.find("Delete 1 item(s) permanently instead?"),
                  std::string::npos);
        EXPECT_TRUE(exists(vol + "/old.iso"));
        ASSERT_TRUE(click(app, frame, App::Act::DialogButton, App::CMD_DLG_DELETE_FOREVER));
        ASSERT_TRUE(settled(app));
        EXPECT_FALSE(exists(vol + "/old.iso"));
        EXPECT_TRUE(app.m_basket.empty());
        EXPECT_EQ(app.m_root->size, before - iso->size);
        EXPECT_EQ(app.m_last_freed, iso->size);
        EXPECT_TRUE(app.m_freed_permanently);
        EXPECT_TRUE(app.m_delete_error.empty());
    });
}

TEST(BasketJourneyInFreshProcess, NoTrashOnTheVolumeOffersPermanentDeletion) {
    SPACEMOLE_IN_FRESH_PROCESS(
        "BasketJourneyFresh.DISABLED_NoTrashOnTheVolumeOffersPermanentDeletion",
        {{"LANGUAGE", "en"}});
}

// ---- Packing ----------------------------------------------------------------------

TEST_F(BasketJourney, PackAFolderWithRealTarAndFindItByteIdentical) {
    std::string a(1500000, '\0');
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<char>((i * 2654435761u) >> 13);
    write_file(m_tree.path("home/photos/a.raw"), a);
    write_file(m_tree.path("home/photos/b.txt"), "bee");
    App app(real_effects(m_home));
    Frame frame;
    scan(app, m_home);
    const std::int64_t before = app.m_root->size;
    const FileNodePtr photos = node(app, m_tree.path("home/photos"));
    app.open_tile_menu(photos, 200, 200);
    ASSERT_TRUE(click(app, frame, App::Act::MenuItem, App::CMD_TILE_ZIP));
    EXPECT_TRUE(app.m_compressing);
    ASSERT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_TRUE(app.m_dialog_buttons.empty()) << "the progress dialog has no buttons";
    app.on_key(GDK_KEY_Return, GdkModifierType(0));
    EXPECT_EQ(app.m_overlay, App::Overlay::Dialog) << "Enter cannot dismiss it";
    ASSERT_TRUE(settled(app));

    EXPECT_GE(app.m_compress_done.load(), app.m_compress_total) << "the bar ends at 100 %";
    const std::string archive = m_tree.path("home/photos.tar.gz");
    struct stat st {};
    ASSERT_EQ(::stat(archive.c_str(), &st), 0);
    EXPECT_EQ(app.m_dialog_title, "Folder packed");
    EXPECT_EQ(app.m_dialog_file, "photos.tar.gz");
    EXPECT_EQ(app.m_dialog_file_size, fmt::bytes(st.st_size));
    EXPECT_EQ(app.m_dialog_reveal, archive);
    EXPECT_EQ(app.m_root->size, before) << "the scan does not know the archive yet";
    const std::string out = m_tree.dir("out");
    ASSERT_EQ(std::system(("tar -xzf '" + archive + "' -C '" + out + "'").c_str()), 0);
    EXPECT_EQ(read_file(out + "/photos/a.raw"), a);
    EXPECT_EQ(read_file(out + "/photos/b.txt"), "bee");
}

TEST_F(BasketJourney, FailingTarSaysSoAndQuittingStopsASlowOne) {
    m_tree.file("home/docs/a.txt", 100);
    const std::string bin = m_tree.dir("bin");
    write_file(bin + "/tar", "#!/bin/sh\necho partial; exit 2\n");
    ::chmod((bin + "/tar").c_str(), 0755);
    const std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", bin.c_str(), 1);
    {
        App app(real_effects(m_home));
        scan(app, m_home);
        app.compress_folder(node(app, m_tree.path("home/docs")));
        ASSERT_TRUE(settled(app));
        EXPECT_EQ(app.m_dialog_title, "Packing failed");
        EXPECT_EQ(app.m_dialog_message, "The archive could not be created.");
        EXPECT_EQ(list_dir(m_home), std::vector<std::string>{"docs"});

        // A tar that would run for minutes: quitting stops it and its file.
        write_file(bin + "/tar", "#!/bin/sh\necho partial; exec /bin/sleep 300\n");
        app.compress_folder(node(app, m_tree.path("home/docs")));
        ASSERT_TRUE(app.m_compressing);
        iterate_until([&] { return list_dir(m_home).size() > 1; }, 5000); // tar started
        EXPECT_TRUE(app.join_threads(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    }
    setenv("PATH", saved_path.c_str(), 1);
    EXPECT_EQ(list_dir(m_home), std::vector<std::string>{"docs"}) << "no temporary archive left";
}

// When the permanent deletion fails too, the report speaks of deleting.
TEST_F(BasketJourney, FailedPermanentDeletionSaysItCouldNotDelete) {
    m_tree.file("home/stuck.bin", 280000);
    App::Effects fx = real_effects(m_home);
    fx.move_to_trash = [](const std::vector<std::string>& paths) {
        shell_ops::TrashResult r;
        r.failed_count = 1;
        r.error = "No trash folder is available for this location";
        r.no_trash_available = paths;
        return r;
    };
    fx.delete_permanently = [](const std::vector<std::string>&) {
        shell_ops::TrashResult r;
        r.failed_count = 1;
        r.error = "The item could not be moved";
        return r;
    };
    App app(fx);
    Frame frame;
    scan(app, m_home);
    app.toggle_basket(node(app, m_tree.path("home/stuck.bin")));
    app.empty_basket_to_trash();
    ASSERT_TRUE(settled(app));
    ASSERT_TRUE(click(app, frame, App::Act::DialogButton, App::CMD_DLG_DELETE_FOREVER));
    ASSERT_TRUE(settled(app));
    EXPECT_EQ(app.m_delete_error, "1 item(s) could not be deleted. The item could not be moved.");
    EXPECT_EQ(app.m_dialog_title, "Delete error");
    EXPECT_EQ(app.m_basket.size(), 1u) << "the item stays listed";
    EXPECT_TRUE(exists(m_tree.path("home/stuck.bin")));
}
