// Journeys through Undo of a move to the Trash with the real file
// operations: a real home Trash under a temp XDG_DATA_HOME, frames drawn
// into a cairo image surface, keys and clicks as the window gives them.
#include "app.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include "app_frame.h"
#include "fake_bus.h"
#include "i18n.h"
#include "shell_ops.h"
#include "temp_tree.h"
#include "tree_edit.h"

using namespace testing_support;

namespace {

App::Effects real_effects(const std::string& home) {
    App::Effects fx;
    fx.move_to_trash = [](const std::vector<std::string>& p) {
        return shell_ops::move_to_trash(p);
    };
    fx.restore_from_trash = [](const std::vector<shell_ops::TrashedItem>& items) {
        return shell_ops::restore_from_trash(items);
    };
    fx.home_directory = [home] { return home; };
    return fx;
}

void scan(App& app, const std::string& path) {
    app.start_scan(path);
    ASSERT_TRUE(iterate_until([&] { return !app.m_scanning; }, 20000));
    ASSERT_TRUE(app.m_root);
}

bool settled(App& app) {
    return iterate_until([&] { return !app.m_deleting && !app.m_restoring; }, 20000);
}

bool click(App& app, Frame& frame, App::Act act) {
    frame.draw(app);
    const App::HitTarget* t = find_target(app, act);
    return t && app.on_click(t->rect.mid_x(), t->rect.mid_y(), false);
}

// Names, sizes and counts of the whole tree, children by name: what a
// fresh scan must agree with.
std::string shape(const FileNodePtr& n) {
    std::string out = n->name + ":" + std::to_string(n->size) + ":" +
                      std::to_string(n->file_count) + (n->is_directory ? "{" : "");
    std::vector<FileNodePtr> kids = n->children;
    std::sort(kids.begin(), kids.end(),
              [](const auto& a, const auto& b) { return a->name < b->name; });
    for (const FileNodePtr& c : kids)
        out += shape(c) + ",";
    return out + (n->is_directory ? "}" : "");
}

class UndoJourney : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_config.root().c_str(), 1);
        setenv("XDG_DATA_HOME", m_tree.path("data").c_str(), 1);
        setenv("LANGUAGE", "en", 1);
        I18n::instance().set_language("en");
        m_tree.dir("data");
        m_home = m_tree.dir("home");
        m_tree.file("home/projects/old/x.bin", 500000, 'o');
        m_tree.file("home/projects/keep/y.bin", 300000);
        m_tree.file("home/projects/notes.txt", 290000, 'n');
        m_tree.file("home/videos/clip.mp4", 700000);
    }
    std::string trash(const std::string& name) const {
        return m_tree.path("data/Trash/files/" + name);
    }
    // Marks `rel` items of the shown tree and moves them to the Trash.
    void trash_items(App& app, const std::vector<std::string>& rel) {
        for (const std::string& r : rel)
            app.toggle_basket(tree_edit::find(app.m_root, m_tree.path(r)));
        ASSERT_EQ(app.m_basket.size(), rel.size());
        app.empty_basket_to_trash();
        ASSERT_TRUE(settled(app));
        for (const std::string& r : rel)
            ASSERT_FALSE(exists(m_tree.path(r))) << r;
    }

    TempTree m_config;
    TempTree m_tree;
    std::string m_home;
};

} // namespace

TEST_F(UndoJourney, ControlZPutsTheBatchBackInPlaceAndKeepsTheZoom) {
    App app(real_effects(m_home));
    Frame frame;
    scan(app, m_home);
    app.zoom_into(tree_edit::find(app.m_root, m_tree.path("home/projects")));
    trash_items(app, {"home/projects/old", "home/projects/notes.txt"});
    frame.draw(app);
    EXPECT_TRUE(find_target(app, App::Act::UndoTrash)) << "the freed banner offers Undo";

    EXPECT_TRUE(app.on_key(GDK_KEY_z, GDK_CONTROL_MASK));
    ASSERT_TRUE(settled(app));
    EXPECT_EQ(read_file(m_tree.path("home/projects/old/x.bin")), std::string(500000, 'o'));
    EXPECT_EQ(read_file(m_tree.path("home/projects/notes.txt")), std::string(290000, 'n'));
    EXPECT_TRUE(list_dir(m_tree.path("data/Trash/files")).empty());
    EXPECT_TRUE(list_dir(m_tree.path("data/Trash/info")).empty()) << "no record is left";

    App fresh(real_effects(m_home));
    scan(fresh, m_home);
    EXPECT_EQ(shape(app.m_root), shape(fresh.m_root)) << "the tree equals a fresh scan";
    EXPECT_EQ(app.m_reclaimable, fresh.m_reclaimable);
    ASSERT_EQ(app.m_path.size(), 1u);
    EXPECT_EQ(app.m_path[0]->path, m_tree.path("home/projects")) << "the zoom is kept";
    EXPECT_EQ(app.m_path[0]->children.size(), 3u);
    EXPECT_FALSE(app.can_undo());
    frame.draw(app);
    EXPECT_FALSE(find_target(app, App::Act::UndoTrash)) << "nothing is left to undo";
}

TEST_F(UndoJourney, APathTakenMeanwhileKeepsItsItemInTheTrashAndSaysWhy) {
    App app(real_effects(m_home));
    Frame frame;
    scan(app, m_home);
    trash_items(app, {"home/projects/old", "home/projects/notes.txt"});
    write_file(m_tree.path("home/projects/notes.txt"), "written since");

    ASSERT_TRUE(click(app, frame, App::Act::UndoTrash));
    ASSERT_TRUE(settled(app));
    EXPECT_TRUE(exists(m_tree.path("home/projects/old/x.bin")));
    EXPECT_EQ(read_file(m_tree.path("home/projects/notes.txt")), "written since");
    EXPECT_EQ(read_file(trash("notes.txt")), std::string(290000, 'n'));
    ASSERT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_NE(app.m_dialog_message.find("notes.txt"), std::string::npos) << app.m_dialog_message;
    EXPECT_NE(
        app.m_dialog_message.find(tr(shell_ops::message_key(shell_ops::RestoreProblem::PathTaken))),
        std::string::npos)
        << app.m_dialog_message;
    EXPECT_TRUE(tree_edit::find(app.m_root, m_tree.path("home/projects/old")));
    EXPECT_TRUE(app.can_undo()) << "the item that stayed may be tried again";
}

TEST_F(UndoJourney, ThePanelRestoresOneItemOfAnOlderBatchByMouseAndKeyboard) {
    App app(real_effects(m_home));
    Frame frame;
    scan(app, m_home);
    trash_items(app, {"home/projects/old"});
    trash_items(app, {"home/videos/clip.mp4"});

    ASSERT_TRUE(click(app, frame, App::Act::OpenTrashed));
    ASSERT_EQ(app.m_overlay, App::Overlay::Trashed);
    frame.draw(app);
    // Newest batch first: heading, the clip; heading, the folder.
    const std::vector<App::TrashRow> rows = app.trashed_rows();
    ASSERT_EQ(rows.size(), 4u);
    const auto path_of = [&](const App::TrashRow& r) {
        return app.m_trash_batches[r.batch].entries[static_cast<std::size_t>(r.entry)].item.path;
    };
    EXPECT_EQ(path_of(rows[1]), m_tree.path("home/videos/clip.mp4"));
    ASSERT_EQ(path_of(rows[3]), m_tree.path("home/projects/old"));
    const App::HitTarget* older = nullptr;
    for (const App::HitTarget& t : app.m_targets)
        if (t.act == App::Act::TrashRestoreItem && t.index == 3) older = &t;
    ASSERT_TRUE(older);
    app.on_click(older->rect.mid_x(), older->rect.mid_y(), false);
    ASSERT_TRUE(settled(app));
    EXPECT_TRUE(exists(m_tree.path("home/projects/old/x.bin")));
    EXPECT_FALSE(exists(m_tree.path("home/videos/clip.mp4"))) << "the newer batch stays";
    EXPECT_TRUE(tree_edit::find(app.m_root, m_tree.path("home/projects/old")));
    EXPECT_EQ(app.m_overlay, App::Overlay::Trashed) << "the panel stays open";

    // The keyboard: Home, Down to the clip, Enter restores it; Escape closes.
    app.on_key(GDK_KEY_Home, GdkModifierType(0));
    app.on_key(GDK_KEY_Down, GdkModifierType(0));
    app.on_key(GDK_KEY_Return, GdkModifierType(0));
    ASSERT_TRUE(settled(app));
    EXPECT_TRUE(exists(m_tree.path("home/videos/clip.mp4")));
    EXPECT_EQ(app.m_root->size, [&] {
        App fresh(real_effects(m_home));
        scan(fresh, m_home);
        return fresh.m_root->size;
    }());
    app.on_key(GDK_KEY_Escape, GdkModifierType(0));
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
}
