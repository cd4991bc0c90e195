// Journeys through Undo of a move to the Trash with the real file
// operations: a real home Trash under a temp XDG_DATA_HOME, frames drawn
// into a cairo image surface, keys and clicks as the window gives them.
#include "app.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include "app_frame.h"
#include "tree_text.h"

using namespace testing_support;
using namespace testing_support::journey;

namespace {

class UndoJourney : public Journey {
protected:
    void SetUp() override {
        m_tree.file("home/projects/old/x.bin", 500000, 'o');
        m_tree.file("home/projects/keep/y.bin", 300000);
        m_tree.file("home/projects/notes.txt", 290000, 'n');
        m_tree.file("home/videos/clip.mp4", 700000);
        scan(m_app, m_home);
    }
    // Marks `rel` items of the shown tree and moves them to the Trash.
    void trash_items(const std::vector<std::string>& rel) {
        for (const std::string& r : rel)
            m_app.toggle_basket(node(m_app, r));
        m_app.empty_basket_to_trash();
        ASSERT_TRUE(settled(m_app));
        for (const std::string& r : rel)
            ASSERT_FALSE(exists(m_tree.path(r))) << r;
    }
    // The shown tree agrees with a fresh scan.
    void expect_fresh_tree() {
        App fresh(effects());
        scan(fresh, m_home);
        EXPECT_EQ(describe(*m_app.m_root), describe(*fresh.m_root));
        EXPECT_EQ(m_app.m_reclaimable, fresh.m_reclaimable);
    }

    App m_app{effects()};
    Frame m_frame;
};

} // namespace

TEST_F(UndoJourney, ControlZPutsBackWhatItCanSaysWhyAndKeepsTheZoom) {
    m_app.zoom_into(node(m_app, "home/projects"));
    trash_items({"home/projects/old", "home/projects/notes.txt"});
    write_file(m_tree.path("home/projects/notes.txt"), "written since");

    // A path taken meanwhile keeps its item in the Trash, named in the report.
    ASSERT_TRUE(click(m_app, m_frame, App::Act::UndoTrash)) << "the freed banner offers Undo";
    ASSERT_TRUE(settled(m_app));
    EXPECT_EQ(read_file(m_tree.path("home/projects/old/x.bin")), std::string(500000, 'o'));
    EXPECT_EQ(read_file(m_tree.path("home/projects/notes.txt")), "written since");
    ASSERT_EQ(m_app.m_overlay, App::Overlay::Dialog);
    EXPECT_NE(m_app.m_dialog_message.find(
                  std::string("“notes.txt”: ") +
                  tr(shell_ops::message_key(shell_ops::RestoreProblem::PathTaken))),
              std::string::npos)
        << m_app.m_dialog_message;
    m_app.close_overlay();

    // The item that stayed may be tried again.
    ::remove(m_tree.path("home/projects/notes.txt").c_str());
    EXPECT_TRUE(m_app.on_key(GDK_KEY_z, GDK_CONTROL_MASK));
    ASSERT_TRUE(settled(m_app));
    EXPECT_EQ(read_file(m_tree.path("home/projects/notes.txt")), std::string(290000, 'n'));
    EXPECT_TRUE(list_dir(m_tree.path("data/Trash/files")).empty());
    EXPECT_TRUE(list_dir(m_tree.path("data/Trash/info")).empty()) << "no record is left";
    expect_fresh_tree();
    ASSERT_EQ(m_app.m_path.size(), 1u);
    EXPECT_EQ(m_app.m_path[0]->path, m_tree.path("home/projects")) << "the zoom is kept";
    EXPECT_FALSE(m_app.can_undo());
    m_frame.draw(m_app);
    EXPECT_FALSE(find_target(m_app, App::Act::UndoTrash)) << "nothing is left to undo";
}

TEST_F(UndoJourney, ThePanelRestoresOneItemOfAnOlderBatchByMouseAndKeyboard) {
    trash_items({"home/projects/old"});
    trash_items({"home/videos/clip.mp4"});
    ASSERT_TRUE(click(m_app, m_frame, App::Act::OpenTrashed));
    ASSERT_EQ(m_app.m_overlay, App::Overlay::Trashed);

    // Newest batch first: heading, the clip; heading, the folder.
    std::vector<std::string> paths;
    for (const App::TrashRow& r : m_app.trashed_rows())
        paths.push_back(r.entry < 0 ? ""
                                    : m_app.m_trash_batches[r.batch].entries[r.entry].item.path);
    ASSERT_EQ(paths, (std::vector<std::string>{"", m_tree.path("home/videos/clip.mp4"), "",
                                               m_tree.path("home/projects/old")}));
    ASSERT_TRUE(click(m_app, m_frame, App::Act::TrashRestoreItem, 3));
    ASSERT_TRUE(settled(m_app));
    EXPECT_TRUE(exists(m_tree.path("home/projects/old/x.bin")));
    EXPECT_FALSE(exists(m_tree.path("home/videos/clip.mp4"))) << "the newer batch stays";
    EXPECT_EQ(m_app.m_overlay, App::Overlay::Trashed) << "the panel stays open";

    // The keyboard: Home, Down to the clip, Enter restores it; Escape closes.
    press(m_app, GDK_KEY_Home);
    press(m_app, GDK_KEY_Down);
    press(m_app, GDK_KEY_Return);
    ASSERT_TRUE(settled(m_app));
    EXPECT_TRUE(exists(m_tree.path("home/videos/clip.mp4")));
    expect_fresh_tree();
    press(m_app, GDK_KEY_Escape);
    EXPECT_EQ(m_app.m_overlay, App::Overlay::None);
}
