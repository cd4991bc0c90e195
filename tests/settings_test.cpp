// settings.json: the exact text written and what is accepted back, and the
// live store on disk. The window geometry store writes through the same
// helpers; its own rules are tested in window_manager_test.cpp.
#include "settings.h"

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

// The live store in a child whose configuration folder is the temporary tree,
// since the store is a process-wide singleton.
class SettingsLive : public ::testing::Test {
protected:
    int in_child(const std::function<bool()>& body, bool unprivileged = false) {
        const auto with_env = [this, &body] {
            ::setenv("XDG_CONFIG_HOME", tree.root().c_str(), 1);
            return body();
        };
        return unprivileged ? run_unprivileged(with_env) : run_in_child(with_env);
    }
    // Saves `saved`, then loads into a store holding `held`: what it finds.
    static Settings round_trip(const Settings& saved, const Settings& held) {
        SettingsStore& store = SettingsStore::instance();
        store.mutable_get() = saved;
        store.save();
        store.mutable_get() = held;
        store.load();
        return store.get();
    }
    std::string file() const { return tree.root() + "/Spacemole/settings.json"; }
    TempTree tree;
};

TEST_F(SettingsLive, CorruptFileGivesDefaultsAndSavingReplacesItAtomically) {
    write_file(file(), "\x7f"
                       "ELF garbage {{{ \"theme\": \"width\": \xff\xfe");
    EXPECT_EQ(in_child([] {
                  SettingsStore::instance().mutable_get() = changed();
                  SettingsStore::instance().load();
                  return SettingsStore::instance().get() == Settings{} &&
                         round_trip(changed(), Settings{}) == changed();
              }),
              0);
    EXPECT_EQ(read_file(file()), settings_io::to_text(changed()));
    EXPECT_FALSE(exists(file() + ".tmp"));
}

TEST_F(SettingsLive, UnwritableFolderLeavesTheOldFileIntact) {
    write_file(file(), settings_io::to_text(changed()));
    tree.chmod("Spacemole", 0555);
    EXPECT_EQ(in_child([] { return round_trip(Settings{}, Settings{}) == changed(); }, true), 0);
    EXPECT_EQ(read_file(file()), settings_io::to_text(changed()));
    EXPECT_FALSE(exists(file() + ".tmp"));
}

TEST_F(SettingsLive, NoFolderKeepsTheValueInMemoryAndWritesNothing) {
    const std::string cwd = tree.dir("cwd");
    EXPECT_EQ(run_in_child([&] {
                  SettingsStore& store = SettingsStore::instance();
                  store.mutable_get() = changed();
                  if (::chdir(cwd.c_str()) != 0 || store.save_to("")) return false;
                  store.load_from("");
                  return store.get() == changed();
              }),
              0);
    EXPECT_TRUE(list_dir(cwd).empty());
}

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
