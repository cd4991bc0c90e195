// Journeys through clicks, keys, menus, dialogs, the panels and the search:
// an App over a real temp tree, frames drawn into an image surface, clicks
// at the centres of the targets the frame recorded.
#include "app.h"

#include <set>

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include "app_frame.h"

using namespace testing_support;
using namespace testing_support::journey;

namespace {

void type(App& app, const std::string& text) {
    for (const char c : text)
        app.on_key(gdk_unicode_to_keyval(static_cast<unsigned char>(c)), kNoMods);
}

class InputJourney : public Journey {
protected:
    void SetUp() override {
        m_tree.file("home/docs/report.pdf", 300000);
        m_tree.file("home/docs/notes.txt", 5000);
        m_tree.file("home/music/album/track1.flac", 400000);
        m_tree.file("home/music/album/track2.flac", 410000);
        m_tree.file("home/music/Track list.txt", 300000);
    }
};

} // namespace

TEST_F(InputJourney, MouseAndKeyboardOpenMenusZoomSelectAndChangeSettings) {
    App app(effects());
    scan(app, m_home);
    Frame frame;
    frame.draw(app);
    ASSERT_TRUE(named(app, App::Act::Tile, "docs"));
    const RectF at = named(app, App::Act::Tile, "docs")->rect;
    app.on_click(at.mid_x(), at.mid_y(), true);
    ASSERT_EQ(app.m_overlay, App::Overlay::Menu);
    std::vector<std::string> labels;
    for (const App::MenuEntry& e : app.m_menu)
        labels.push_back(e.separator ? "---" : e.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"Open in file manager", "Zoom in",
                                                "📦 Compress folder (tar.gz)", "---",
                                                "🗑 Mark for deletion"}));
    press(app, GDK_KEY_Escape);
    frame.draw(app);
    EXPECT_FALSE(find_target(app, App::Act::MenuItem)) << "a closed menu leaves no targets";

    // Again, and choose "Open in file manager": the folder is revealed.
    app.on_click(at.mid_x(), at.mid_y(), true);
    ASSERT_TRUE(click(app, frame, App::Act::MenuItem, App::CMD_TILE_REVEAL));
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
    EXPECT_EQ(m_revealed, std::vector<std::string>{m_tree.path("home/docs")});

    // A click beside an open menu only closes it.
    app.on_click(at.mid_x(), at.mid_y(), true);
    app.on_click(2, kH - 2, false);
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
    EXPECT_EQ(m_revealed.size(), 1u);

    // The keyboard alone: select with Tab, zoom with Enter, back with BackSpace.
    press(app, GDK_KEY_Tab);
    ASSERT_TRUE(app.m_selected);
    EXPECT_EQ(app.m_selected->name, "music") << "the largest comes first";
    press(app, GDK_KEY_Tab);
    EXPECT_EQ(app.m_selected->name, "docs");
    press(app, GDK_KEY_ISO_Left_Tab, 1, GDK_SHIFT_MASK);
    press(app, GDK_KEY_Return);
    ASSERT_EQ(app.m_path.size(), 1u);
    press(app, GDK_KEY_BackSpace);
    EXPECT_TRUE(app.m_path.empty());
    frame.draw(app);

    // The tile menu of the selection, stepped through and chosen by keys.
    press(app, GDK_KEY_Tab);
    press(app, GDK_KEY_Menu);
    ASSERT_EQ(app.m_overlay, App::Overlay::Menu);
    EXPECT_EQ(app.m_menu_node->name, "music");
    press(app, GDK_KEY_Down, 2);
    EXPECT_EQ(app.m_menu_hover, App::CMD_TILE_ZOOM);
    press(app, GDK_KEY_Return);
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
    ASSERT_EQ(app.m_path.size(), 1u) << "Zoom in, chosen with Enter";

    frame.draw(app);
    const double choose_en = find_target(app, App::Act::ChooseFolder)->rect.w;

    // Settings: Control+comma, Tab to a control, Space acts on it.
    press(app, GDK_KEY_comma, 1, GDK_CONTROL_MASK);
    ASSERT_EQ(app.m_overlay, App::Overlay::Settings);
    frame.draw(app);
    const std::vector<LanguageInfo> langs = I18n::available();
    const auto de = std::find_if(langs.begin(), langs.end(),
                                 [](const LanguageInfo& l) { return l.code == "de"; });
    ASSERT_NE(de, langs.end());
    int tabs = 1;
    for (const App::HitTarget& t : app.m_targets) {
        if (t.act == App::Act::SettingsLang &&
            t.index == App::CMD_LANG_FIRST + (de - langs.begin()))
            break;
        tabs += t.act >= App::Act::SettingsTheme && t.act <= App::Act::SettingsOneFs;
    }
    press(app, GDK_KEY_Tab, tabs);
    press(app, GDK_KEY_space);
    EXPECT_EQ(I18n::instance().effective_language(), "de");
    EXPECT_NE(read_file(m_config.path("Spacemole/settings.json")).find("\"de\""), std::string::npos)
        << "saved on disk at once";
    EXPECT_EQ(app.m_overlay, App::Overlay::Settings) << "the panel stays for more choices";
    press(app, GDK_KEY_Escape);
    frame.draw(app);
    EXPECT_NE(find_target(app, App::Act::ChooseFolder)->rect.w, choose_en)
        << "the next frame speaks German";
}

TEST_F(InputJourney, EnterNeverDeletesForGoodAndClosingADialogForgetsItsOffer) {
    const std::string victim = m_tree.file("home/no-trash.bin", 4096);
    App app(effects());
    scan(app, m_home);
    Frame frame;
    auto offer_permanent_deletion = [&] {
        app.m_no_trash = {victim};
        app.show_dialog(tr("Delete error"), "No trash folder is available for this location",
                        {{App::CMD_DLG_CANCEL, tr("Cancel"), false, true},
                         {App::CMD_DLG_DELETE_FOREVER, tr("Delete permanently"), true, false}});
        frame.draw(app);
    };
    // Enter in the offer itself acknowledges nothing and deletes nothing.
    offer_permanent_deletion();
    press(app, GDK_KEY_Return);
    EXPECT_EQ(app.m_no_trash.size(), 1u);

    // Every way out forgets the offer; Enter in the panel that replaced it
    // deletes nothing.
    const std::pair<const char*, void (*)(App&)> exits[] = {
        {"Settings", [](App& a) { a.handle_menu_command(App::CMD_MENU_SETTINGS); }},
        {"Escape", [](App& a) { a.on_key(GDK_KEY_Escape, kNoMods); }},
        {"Control+F", [](App& a) { a.on_key(GDK_KEY_f, GDK_CONTROL_MASK); }},
        {"click outside", [](App& a) { a.on_click(3, 3, false); }},
        {"menu command", [](App& a) { a.handle_menu_command(App::CMD_MENU_VIEW_TREE); }},
        {"About", [](App& a) { a.handle_menu_command(App::CMD_ABOUT); }},
    };
    for (const auto& [how, leave] : exits) {
        offer_permanent_deletion();
        leave(app);
        EXPECT_NE(app.m_overlay, App::Overlay::Dialog) << how;
        EXPECT_TRUE(app.m_no_trash.empty()) << how;
        press(app, GDK_KEY_Return);
        app.close_overlay();
        app.close_search();
    }
    EXPECT_FALSE(app.m_deleting);
    EXPECT_TRUE(exists(victim));
}

TEST_F(InputJourney, SearchFindsStepsAndOpensExactlyTheWayToEachHitInTheTree) {
    m_tree.file("home/d7/qz-a/inside", 10);
    m_tree.file("home/d150/sub/deeper/QZ.bin", 300000);
    m_tree.file("home/d3/a/b/c/d/qz-too-deep", 300000);
    App app(effects());
    scan(app, m_home);
    Frame frame;
    app.set_view_mode(ViewMode::Tree);
    app.m_expanded.clear();
    press(app, GDK_KEY_f, 1, GDK_CONTROL_MASK);
    type(app, "qZ");
    std::vector<std::string> hits;
    for (const FileNodePtr& n : app.m_search_hits)
        hits.push_back(n->path);
    EXPECT_EQ(hits, (std::vector<std::string>{m_tree.path("home/d150/sub/deeper/QZ.bin"),
                                              m_tree.path("home/d7/qz-a")}))
        << "any case, largest first; six levels down is out of reach";
    press(app, GDK_KEY_Return);
    EXPECT_EQ(app.m_selected, app.m_search_hits[1]);
    ASSERT_TRUE(click(app, frame, App::Act::SearchNext));
    EXPECT_EQ(app.m_selected, app.m_search_hits[0]) << "wraps around";

    // The folders on the way to the hits, the shown one included, and no other.
    std::set<std::uint64_t> expected;
    for (const char* rel :
         {"home", "home/d7", "home/d150", "home/d150/sub", "home/d150/sub/deeper"})
        expected.insert(node(app, rel)->id);
    EXPECT_EQ(app.m_expanded, expected);
    type(app, "-");
    EXPECT_EQ(app.m_search_hits.size(), 1u);
    press(app, GDK_KEY_BackSpace);
    press(app, GDK_KEY_q, 1, GDK_CONTROL_MASK);
    EXPECT_EQ(app.m_search_query, "qZ") << "shortcuts are not text";
    press(app, GDK_KEY_Escape);
    EXPECT_FALSE(app.m_search_open || !app.m_search_hits.empty());
    EXPECT_EQ(app.m_expanded, expected) << "the opened folders stay open";
}
