// settings.json: the exact text written and what is accepted back; and both
// live stores (settings and window geometry) on disk, in child processes with
// their own XDG_CONFIG_HOME, since each store is a process-wide singleton.
#include "settings.h"
#include "window_manager.h"

#include <cstdlib>
#include <functional>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "temp_tree.h"

using namespace testing_support;

namespace {

const std::string kDefaultText = "{\n"
                                 "  \"language\": \"auto\",\n"
                                 "  \"theme\": \"auto\",\n"
                                 "  \"color_mode\": \"heat\",\n"
                                 "  \"view_mode\": \"map\",\n"
                                 "  \"sort_field\": \"size\",\n"
                                 "  \"sort_ascending\": \"no\",\n"
                                 "  \"dedupe_hard_links\": \"yes\",\n"
                                 "  \"one_filesystem\": \"no\"\n"
                                 "}\n";

Settings changed() {
    return {"ja", "dark", "category", "tree", "modified", true, false, true};
}

} // namespace

TEST(SettingsText, DefaultsAreWrittenExactly) {
    EXPECT_EQ(settings_io::to_text(Settings{}), kDefaultText);
}

TEST(SettingsText, UnacceptedValuesKeepTheDefaultFieldByField) {
    struct Case {
        const char* name;
        std::string text;
        Settings expected;
    };
    const Settings dark_only{.theme = "dark"};
    const Settings german{.language = "de"};
    const Case cases[] = {
        {"theme case matters", R"({"theme": "Dark"})", Settings{}},
        {"unknown language", R"({"language": "xx"})", Settings{}},
        {"known language", R"({"language": "de"})", german},
        {"good and bad mixed",
         R"({"theme": "dark", "view_mode": "graph", "sort_field": "Size", "one_filesystem": "true"})",
         dark_only},
        {"flags only yes or no",
         R"({"view_mode": "tree", "dedupe_hard_links": "no", "sort_ascending": "1"})",
         {.view_mode = "tree", .dedupe_hard_links = false}},
        {"foreign json", R"({"theme": 5, "view_mode": null, "color_mode": ["heat"]})", Settings{}},
        {"binary around a valid pair", std::string("\0\xff\"theme\"\x01:\"dark\"", 17), dark_only},
        {"truncated", "{\n  \"language\": \"de\",\n  \"theme\": \"da", german},
        {"key without colon", R"({"theme" "dark"})", Settings{}},
        {"every field", settings_io::to_text(changed()), changed()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(settings_io::from_text(c.text), c.expected) << c.name;
}

TEST(SettingsText, ValueLookupRules) {
    // The first occurrence of the quoted key counts; no escape handling.
    EXPECT_EQ(settings_io::find_value(R"({"theme": "dark", "theme": "light"})", "theme"), "dark");
    EXPECT_EQ(settings_io::find_value(R"({"theme": "li\"ght"})", "theme"), "li\\");
    EXPECT_EQ(settings_io::find_value(R"({"theme": "light)", "theme"), "");
    EXPECT_EQ(settings_io::find_value(R"({"xtheme": "dark"})", "theme"), "");
    EXPECT_EQ(settings_io::file_in("relative/dir", "settings.json"), "");
    EXPECT_EQ(settings_io::file_in("/c/Spacemole", "settings.json"), "/c/Spacemole/settings.json");
}

// The two live stores behave alike on disk; each row says how to drive one.
struct Store {
    const char* name;
    const char* file;
    std::string sample_text;          // a non-default value as written
    bool (*save)(bool sample);        // sets that value (or another one) and saves it
    bool (*loads)(bool sample);       // loads, and finds that value (or the defaults)
    bool (*keeps_sample_in_memory)(); // with no folder: saves nothing, keeps the value
};

const Store kStores[] = {
    {"settings", "settings.json", settings_io::to_text(changed()),
     [](bool sample) {
         SettingsStore::instance().mutable_get() = sample ? changed() : Settings{.theme = "light"};
         SettingsStore::instance().save();
         return true;
     },
     [](bool sample) {
         SettingsStore::instance().mutable_get() = sample ? Settings{} : changed();
         SettingsStore::instance().load();
         return SettingsStore::instance().get() == (sample ? changed() : Settings{});
     },
     [] {
         SettingsStore& store = SettingsStore::instance();
         store.mutable_get() = changed();
         if (store.save_to("")) return false;
         store.load_from("");
         return store.get() == changed();
     }},
    {"geometry", "geometry.json", geometry_io::to_text(1280, 800, false),
     [](bool sample) {
         WindowManager::instance().save(sample ? 1280 : 2000, sample ? 800 : 1200, !sample);
         return true;
     },
     [](bool sample) {
         const WindowGeometry g = WindowManager::instance().load();
         return g.valid && g.width == (sample ? 1280 : 1100) && g.height == (sample ? 800 : 720) &&
                !g.maximized;
     },
     [] {
         WindowManager& wm = WindowManager::instance();
         if (wm.save_to("", 1300, 850, false)) return false;
         const WindowGeometry g = wm.load_from("");
         return g.valid && g.width == 1300 && g.height == 850;
     }},
};

class StoreLive : public ::testing::TestWithParam<Store> {
protected:
    // Runs `body` in a child whose configuration folder is the temporary tree.
    int in_child(const std::function<bool()>& body, bool unprivileged = false) {
        const auto with_env = [this, &body] {
            ::setenv("XDG_CONFIG_HOME", tree.root().c_str(), 1);
            return body();
        };
        return unprivileged ? run_unprivileged(with_env) : run_in_child(with_env);
    }
    std::string file() const { return tree.root() + "/Spacemole/" + GetParam().file; }
    TempTree tree;
};

TEST_P(StoreLive, CorruptFileGivesDefaultsAndSavingReplacesItAtomically) {
    const Store& s = GetParam();
    write_file(file(), "\x7f"
                       "ELF garbage {{{ \"theme\": \"width\": \xff\xfe");
    EXPECT_EQ(in_child([&] { return s.loads(false) && s.save(true) && s.loads(true); }), 0);
    EXPECT_EQ(read_file(file()), s.sample_text);
    EXPECT_FALSE(exists(file() + ".tmp"));
}

TEST_P(StoreLive, UnwritableFolderLeavesTheOldFileIntact) {
    write_file(file(), GetParam().sample_text);
    tree.chmod("Spacemole", 0555);
    EXPECT_EQ(in_child([&] { return GetParam().save(false); }, true), 0);
    EXPECT_EQ(read_file(file()), GetParam().sample_text);
    EXPECT_FALSE(exists(file() + ".tmp"));
}

TEST_P(StoreLive, NoFolderKeepsTheValueInMemoryAndWritesNothing) {
    const std::string cwd = tree.dir("cwd");
    EXPECT_EQ(run_in_child(
                  [&] { return ::chdir(cwd.c_str()) == 0 && GetParam().keeps_sample_in_memory(); }),
              0);
    EXPECT_TRUE(list_dir(cwd).empty());
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreLive, ::testing::ValuesIn(kStores),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(ReplaceFile, FailedRenameRemovesTheTemporaryFile) {
    TempTree tree;
    // A folder where the file should be: the rename cannot replace it.
    const std::string target = tree.dir("Spacemole/settings.json");
    tree.file("Spacemole/settings.json/keep", 3);
    EXPECT_FALSE(settings_io::replace_file(target, "text"));
    EXPECT_FALSE(exists(target + ".tmp"));
    EXPECT_EQ(read_file(target + "/keep"), "xxx");

    EXPECT_FALSE(settings_io::replace_file("", "text"));
}
