// Journeys through clicks, keys, menus, dialogs, the panels and the search:
// an App over a real temp tree, frames drawn into an image surface, clicks
// at the centres of the targets the frame recorded.
#include "app.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>
#include <sys/stat.h>

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include "fake_bus.h"
#include "i18n.h"
#include "settings.h"
#include "app_frame.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

constexpr auto kNoMods = static_cast<GdkModifierType>(0);

const App::HitTarget* tile_of(const App& app, const std::string& name) {
    for (const App::HitTarget& t : app.m_targets)
        if (t.act == App::Act::Tile && t.node && t.node->name == name) return &t;
    return nullptr;
}

std::vector<std::string> menu_labels(const App& app) {
    std::vector<std::string> out;
    for (const App::MenuEntry& e : app.m_menu)
        out.push_back(e.separator ? "---" : e.label + (e.enabled ? "" : " (disabled)"));
    return out;
}

void type(App& app, const std::string& text) {
    for (const char c : text)
        app.on_key(gdk_unicode_to_keyval(static_cast<unsigned char>(c)), kNoMods);
}

void press(App& app, guint key, int times = 1, GdkModifierType mods = kNoMods) {
    for (int i = 0; i < times; ++i)
        app.on_key(key, mods);
}

class InputJourney : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_config.root().c_str(), 1);
        setenv("LANGUAGE", "en", 1);
        SettingsStore::instance().mutable_get() = Settings{};
        I18n::instance().set_language("auto");
        m_home = m_tree.dir("home");
        m_tree.file("home/docs/report.pdf", 300000);
        m_tree.file("home/docs/notes.txt", 5000);
        m_tree.file("home/music/album/track1.flac", 400000);
        m_tree.file("home/music/album/track2.flac", 410000);
        m_tree.file("home/music/Track list.txt", 300000);
    }
    void TearDown() override {
        SettingsStore::instance().mutable_get() = Settings{};
        I18n::instance().set_language("auto");
    }

    App::Effects recorder() {
        App::Effects fx;
        fx.reveal = [this](const std::string& p) {
            m_revealed.push_back(p);
            return true;
        };
        fx.home_directory = [this] { return m_home; };
        // The real permanent deletion: if anything reached it, the file goes.
        fx.delete_permanently = [](const std::vector<std::string>& paths) {
            return shell_ops::delete_permanently(paths);
        };
        return fx;
    }

    void scan(App& app, const std::string& path) {
        app.start_scan(path);
        ASSERT_TRUE(iterate_until([&] { return !app.m_scanning; }, 60000));
        ASSERT_TRUE(app.m_root);
    }

    std::string settings_text() { return read_file(m_config.path("Spacemole/settings.json")); }

    TempTree m_config;
    TempTree m_tree;
    std::string m_home;
    std::vector<std::string> m_revealed;
};

} // namespace

TEST_F(InputJourney, RightClickOnATileOpensItsMenuWhichActsOrCloses) {
    App app(recorder());
    scan(app, m_home);
    Frame frame;
    frame.draw(app);
    const App::HitTarget* docs = tile_of(app, "docs");
    ASSERT_TRUE(docs);
    const RectF at = docs->rect;
    app.on_click(at.mid_x(), at.mid_y(), true);
    ASSERT_EQ(app.m_overlay, App::Overlay::Menu);
    EXPECT_EQ(menu_labels(app), (std::vector<std::string>{"Open in file manager", "Zoom in",
                                                          "📦 Compress folder (tar.gz)", "---",
                                                          "🗑 Mark for deletion"}));
    frame.draw(app);
    const App::HitTarget* open = find_target(app, App::Act::MenuItem, App::CMD_TILE_REVEAL);
    ASSERT_TRUE(open) << "the menu's rows are clickable";
    EXPECT_GE(open->rect.y, at.mid_y()) << "the menu hangs below the click";

    press(app, GDK_KEY_Escape);
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
    frame.draw(app);
    EXPECT_FALSE(find_target(app, App::Act::MenuItem)) << "a closed menu leaves no targets";

    // Again, and choose "Open in file manager": the folder is revealed.
    app.on_click(at.mid_x(), at.mid_y(), true);
    frame.draw(app);
    const RectF row = find_target(app, App::Act::MenuItem, App::CMD_TILE_REVEAL)->rect;
    app.on_motion(row.mid_x(), row.mid_y());
    EXPECT_EQ(app.m_menu_hover, App::CMD_TILE_REVEAL);
    app.on_click(row.mid_x(), row.mid_y(), false);
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
    EXPECT_EQ(m_revealed, std::vector<std::string>{m_tree.path("home/docs")});

    // A click beside an open menu only closes it.
    app.on_click(at.mid_x(), at.mid_y(), true);
    app.on_click(2, kH - 2, false);
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
    EXPECT_EQ(m_revealed.size(), 1u);
}

TEST_F(InputJourney, ItemsTheCoreRefusesOfferNoFileActions) {
    App app(recorder());
    scan(app, m_home);
    struct Case {
        const char* what;
        void (*spoil)(FileNode&);
        bool reveal;
    };
    const Case cases[] = {
        {"repaired name", [](FileNode& n) { n.path_repaired = true; }, false},
        {"read-only", [](FileNode& n) { n.is_readonly = true; }, true},
        {"mount not entered", [](FileNode& n) { n.is_timeout = true; }, false},
    };
    for (const Case& c : cases) {
        auto node = std::make_shared<FileNode>(*app.m_root->children.at(0));
        ASSERT_TRUE(node->is_directory);
        c.spoil(*node);
        app.open_tile_menu(node, 100, 100);
        ASSERT_EQ(app.m_overlay, App::Overlay::Menu) << c.what;
        for (const App::MenuEntry& e : app.m_menu) {
            if (e.id == App::CMD_TILE_ZIP || e.id == App::CMD_TILE_MARK) {
                EXPECT_FALSE(e.enabled) << c.what << ": " << e.label;
            }
            if (e.id == App::CMD_TILE_REVEAL) {
                EXPECT_EQ(e.enabled, c.reveal) << c.what;
            }
        }
        app.close_overlay();
    }
    // "Small files" and the like open no menu at all.
    auto aggregate = std::make_shared<FileNode>();
    aggregate->is_aggregate = true;
    app.open_tile_menu(aggregate, 10, 10);
    EXPECT_EQ(app.m_overlay, App::Overlay::None);
}

TEST_F(InputJourney, TheKeyboardAloneZoomsSelectsOpensMenusAndChangesSettings) {
    App app(recorder());
    scan(app, m_home);
    Frame frame;
    frame.draw(app);

    // Select with Tab, zoom with Enter, back with BackSpace.
    press(app, GDK_KEY_Tab);
    ASSERT_TRUE(app.m_selected);
    EXPECT_EQ(app.m_selected->name, "music") << "the largest comes first";
    press(app, GDK_KEY_Tab);
    EXPECT_EQ(app.m_selected->name, "docs");
    press(app, GDK_KEY_ISO_Left_Tab, 1, GDK_SHIFT_MASK);
    EXPECT_EQ(app.m_selected->name, "music");
    press(app, GDK_KEY_Return);
    ASSERT_EQ(app.m_path.size(), 1u);
    EXPECT_EQ(app.m_path[0]->name, "music");
    press(app, GDK_KEY_BackSpace);
    EXPECT_TRUE(app.m_path.empty());
    press(app, GDK_KEY_Down, 1, GDK_MOD1_MASK);
    EXPECT_EQ(app.m_path.size(), 1u) << "Alt+Down: into the largest";
    press(app, GDK_KEY_Up, 1, GDK_MOD1_MASK);
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
    press(app, GDK_KEY_BackSpace);
    frame.draw(app);

    // The places menu: Alt+Home, then the first entry scans the home folder.
    press(app, GDK_KEY_Home, 1, GDK_MOD1_MASK);
    ASSERT_EQ(app.m_overlay, App::Overlay::Menu);
    EXPECT_EQ(app.m_menu.at(0).id, App::CMD_QUICK_HOME);
    press(app, GDK_KEY_Down);
    press(app, GDK_KEY_Return);
    EXPECT_TRUE(app.m_scanning);
    ASSERT_TRUE(iterate_until([&] { return !app.m_scanning; }, 60000));
    EXPECT_EQ(app.m_scan_root, m_home);
    frame.draw(app);
    const double choose_en = find_target(app, App::Act::ChooseFolder)->rect.w;

    // Settings: Control+comma, Tab to a control, Enter acts on it.
    press(app, GDK_KEY_comma, 1, GDK_CONTROL_MASK);
    ASSERT_EQ(app.m_overlay, App::Overlay::Settings);
    frame.draw(app);
    std::vector<const App::HitTarget*> controls;
    for (const App::HitTarget& t : app.m_targets)
        if (t.act >= App::Act::SettingsTheme && t.act <= App::Act::SettingsOneFs)
            controls.push_back(&t);
    auto position_of = [&](App::Act act, int index) {
        for (std::size_t i = 0; i < controls.size(); ++i)
            if (controls[i]->act == act && controls[i]->index == index) return static_cast<int>(i);
        return -1;
    };
    const int dark = position_of(App::Act::SettingsTheme, App::CMD_THEME_DARK);
    ASSERT_GE(dark, 0);
    press(app, GDK_KEY_Tab, dark + 1);
    press(app, GDK_KEY_Return);
    EXPECT_EQ(SettingsStore::instance().get().theme, "dark");
    EXPECT_NE(settings_text().find("\"dark\""), std::string::npos) << "saved on disk at once";

    const std::vector<LanguageInfo> langs = I18n::available();
    const auto de = std::find_if(langs.begin(), langs.end(),
                                 [](const LanguageInfo& l) { return l.code == "de"; });
    ASSERT_NE(de, langs.end());
    const int de_id = App::CMD_LANG_FIRST + static_cast<int>(de - langs.begin());
    const int de_at = position_of(App::Act::SettingsLang, de_id);
    frame.draw(app);
    press(app, GDK_KEY_Tab, de_at - dark);
    press(app, GDK_KEY_space);
    EXPECT_EQ(I18n::instance().effective_language(), "de");
    EXPECT_NE(settings_text().find("\"de\""), std::string::npos);
    EXPECT_EQ(app.m_overlay, App::Overlay::Settings) << "the panel stays for more choices";
    press(app, GDK_KEY_Escape);
    frame.draw(app);
    const RectF choose_de = find_target(app, App::Act::ChooseFolder)->rect;
    EXPECT_NE(choose_de.w, choose_en) << "the next frame speaks German";
    EXPECT_NEAR(choose_de.w, app.measure_text(tr("Choose folder"), App::Font::Body) + 22, 1.0);
}

TEST_F(InputJourney, SearchFindsStepsAndCloses) {
    App app(recorder());
    scan(app, m_home);
    Frame frame;
    press(app, GDK_KEY_f, 1, GDK_CONTROL_MASK);
    ASSERT_TRUE(app.m_search_open);
    type(app, "TRACK");
    std::vector<std::string> names;
    for (const FileNodePtr& n : app.m_search_hits)
        names.push_back(n->name);
    EXPECT_EQ(names, (std::vector<std::string>{"track2.flac", "track1.flac", "Track list.txt"}))
        << "case-insensitive, depth first, largest first";
    frame.draw(app);
    ASSERT_TRUE(find_target(app, App::Act::SearchNext));
    press(app, GDK_KEY_Return);
    EXPECT_EQ(app.m_selected, app.m_search_hits[1]);
    const RectF next = find_target(app, App::Act::SearchNext)->rect;
    app.on_click(next.mid_x(), next.mid_y(), false);
    EXPECT_EQ(app.m_selected, app.m_search_hits[2]);
    press(app, GDK_KEY_Return);
    EXPECT_EQ(app.m_selected, app.m_search_hits[0]) << "wraps around";

    type(app, "1");
    ASSERT_EQ(app.m_search_hits.size(), 1u);
    EXPECT_NE(app.m_search_pulse_source, 0u) << "a single hit pulses";
    press(app, GDK_KEY_BackSpace);
    EXPECT_EQ(app.m_search_hits.size(), 3u);
    EXPECT_EQ(app.m_search_pulse_source, 0u);
    press(app, GDK_KEY_q, 1, GDK_CONTROL_MASK);
    EXPECT_EQ(app.m_search_query, "TRACK") << "shortcuts are not text";
    press(app, GDK_KEY_Escape);
    EXPECT_FALSE(app.m_search_open);
    EXPECT_TRUE(app.m_search_hits.empty());
}

TEST_F(InputJourney, EnterNeverDeletesForGoodAndClosingADialogForgetsItsOffer) {
    const std::string victim = m_tree.file("home/no-trash.bin", 4096);
    App app(recorder());
    scan(app, m_home);
    Frame frame;
    auto offer_permanent_deletion = [&] {
        app.m_no_trash = {victim};
        app.show_dialog(tr("Delete error"), "No trash folder is available for this location",
                        {{App::CMD_DLG_CANCEL, tr("Cancel"), false, true},
                         {App::CMD_DLG_DELETE_FOREVER, tr("Delete permanently"), true, false}});
        frame.draw(app);
    };

    // The stale sequence: the offer is open, Settings comes up over it, the
    // user presses Enter in the panel.
    offer_permanent_deletion();
    app.handle_menu_command(App::CMD_MENU_SETTINGS);
    EXPECT_EQ(app.m_overlay, App::Overlay::Settings);
    EXPECT_TRUE(app.m_dialog_buttons.empty()) << "no dialog lurks under the panel";
    EXPECT_TRUE(app.m_no_trash.empty()) << "leaving the dialog declines the offer";
    press(app, GDK_KEY_Return);
    EXPECT_TRUE(exists(victim));

    // Enter in the offer itself acknowledges nothing and deletes nothing.
    offer_permanent_deletion();
    press(app, GDK_KEY_Return);
    EXPECT_EQ(app.m_overlay, App::Overlay::Dialog);
    EXPECT_EQ(app.m_no_trash.size(), 1u);
    EXPECT_TRUE(exists(victim));

    // Every other way out forgets the offer.
    struct Exit {
        const char* how;
        void (*leave)(App&);
    };
    const Exit exits[] = {
        {"Escape", [](App& a) { a.on_key(GDK_KEY_Escape, kNoMods); }},
        {"Control+F", [](App& a) { a.on_key(GDK_KEY_f, GDK_CONTROL_MASK); }},
        {"click outside", [](App& a) { a.on_click(3, 3, false); }},
        {"menu command", [](App& a) { a.handle_menu_command(App::CMD_MENU_VIEW_TREE); }},
        {"About", [](App& a) { a.handle_menu_command(App::CMD_ABOUT); }},
    };
    for (const Exit& e : exits) {
        offer_permanent_deletion();
        e.leave(app);
        EXPECT_NE(app.m_overlay, App::Overlay::Dialog) << e.how;
        EXPECT_TRUE(app.m_no_trash.empty()) << e.how;
        app.close_overlay();
        app.close_search();
    }
    EXPECT_TRUE(exists(victim));

    // Enter still confirms the move to Trash; in the empty-list notice it
    // does nothing.
    app.confirm_delete_list();
    press(app, GDK_KEY_Return);
    EXPECT_EQ(app.m_overlay, App::Overlay::Dialog) << "OK is the dismissing button";
    press(app, GDK_KEY_Escape);
    app.m_basket = {app.m_root->children.at(0)};
    frame.draw(app);
    app.confirm_delete_list();
    ASSERT_EQ(app.m_dialog_buttons.size(), 2u);
    EXPECT_EQ(app.m_dialog_buttons[1].id, App::CMD_DLG_TRASH);
    press(app, GDK_KEY_Return);
    EXPECT_EQ(app.m_overlay, App::Overlay::None) << "Enter chose Move to Trash";
}

// A folder of 200,000 entries with a few hits scattered below it. The tree
// is built in memory: a scan would fold the many small files into a few
// "Small files" tiles, while the search must cope with every entry as a node.
namespace {

struct Builder {
    std::shared_ptr<FileNode> folder(const std::string& path) {
        auto n = std::make_shared<FileNode>();
        n->id = FileNode::next_id();
        n->path = path;
        n->name = path.substr(path.rfind('/') + 1);
        n->is_directory = true;
        return n;
    }
    // Creates the folders on the way; `size` > 0 adds a file at the end.
    void add(const std::shared_ptr<FileNode>& root, const std::string& rel, std::int64_t size) {
        std::shared_ptr<FileNode> at = root;
        std::size_t start = 0;
        while (true) {
            const std::size_t slash = rel.find('/', start);
            const std::string name = rel.substr(start, slash - start);
            const bool last = slash == std::string::npos;
            std::shared_ptr<FileNode> next;
            for (const FileNodePtr& c : at->children)
                if (c->name == name) next = std::const_pointer_cast<FileNode>(c);
            if (!next) {
                next = folder(at->path + "/" + name);
                next->is_directory = !(last && size > 0);
                next->size = size;
                at->children.push_back(next);
            }
            if (last) return;
            at = next;
            start = slash + 1;
        }
    }
};

} // namespace

TEST_F(InputJourney, TypingBelowAHugeFolderOpensExactlyTheWayToEachHit) {
    Builder b;
    const std::string big = "/data/big";
    auto root = b.folder(big);
    for (int d = 0; d < 200; ++d) {
        auto dir = b.folder(big + "/d" + std::to_string(d));
        for (int f = 0; f < 1000; ++f) {
            auto file = b.folder(dir->path + "/f" + std::to_string(f));
            file->is_directory = false;
            file->size = 4096;
            dir->children.push_back(file);
        }
        root->children.push_back(dir);
    }
    b.add(root, "d7/qz-a/inside", 10);
    b.add(root, "d150/sub/deeper/QZ.bin", 300000);
    b.add(root, "d3/a/b/c/d/qz-too-deep", 300000);

    App app(recorder());
    app.m_root = root;
    app.set_view_mode(ViewMode::Tree);
    app.m_expanded.clear();
    press(app, GDK_KEY_f, 1, GDK_CONTROL_MASK);
    type(app, "qz");

    std::vector<std::string> hits;
    for (const FileNodePtr& n : app.m_search_hits)
        hits.push_back(n->path);
    EXPECT_EQ(hits, (std::vector<std::string>{big + "/d7/qz-a", big + "/d150/sub/deeper/QZ.bin"}))
        << "in walk order; six levels down is out of reach";

    // The folders on the way to the hits, the shown one included, and no other.
    std::set<std::uint64_t> expected;
    const std::function<bool(const FileNodePtr&)> leads_to_hit = [&](const FileNodePtr& n) {
        bool any = false;
        for (const FileNodePtr& c : n->children) {
            const bool hit = std::count(app.m_search_hits.begin(), app.m_search_hits.end(), c) > 0;
            if (leads_to_hit(c) || hit) any = true;
        }
        if (any) expected.insert(n->id);
        return any;
    };
    leads_to_hit(app.m_root);
    EXPECT_EQ(expected.size(), 5u);
    EXPECT_EQ(app.m_expanded, expected);

    type(app, "-");
    ASSERT_EQ(app.m_search_hits.size(), 1u);
    EXPECT_EQ(app.m_search_hits[0]->name, "qz-a");
    press(app, GDK_KEY_Escape);
    EXPECT_EQ(app.m_expanded, expected) << "the opened folders stay open";
}
