// settings.json: the exact text written, what is accepted back, and the file
// on disk through the live store (in child processes with their own
// XDG_CONFIG_HOME, since the store is a process-wide singleton).
#include "settings.h"

#include <cstdlib>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
    Settings s;
    s.language = "ja";
    s.theme = "dark";
    s.color_mode = "category";
    s.view_mode = "tree";
    s.sort_field = "modified";
    s.sort_ascending = true;
    s.dedupe_hard_links = false;
    s.one_filesystem = true;
    return s;
}

// Names in a folder other than "." and "..".
int entries_in(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = ::readdir(d))
        n += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    ::closedir(d);
    return n;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

TEST(SettingsText, DefaultsAreWrittenExactly) {
    EXPECT_EQ(settings_io::to_text(Settings{}), kDefaultText);
}

TEST(SettingsText, EveryFieldSurvivesARoundTrip) {
    EXPECT_EQ(settings_io::from_text(settings_io::to_text(changed())), changed());
    for (const auto& code : {"auto", "ar", "de", "zh"}) {
        Settings s;
        s.language = code;
        EXPECT_EQ(settings_io::from_text(settings_io::to_text(s)).language, code);
    }
}

TEST(SettingsText, UnacceptedValuesKeepTheDefaultFieldByField) {
    struct Case {
        const char* name;
        std::string text;
        Settings expected;
    };
    Settings dark_only;
    dark_only.theme = "dark";
    Settings tree_no_dedupe;
    tree_no_dedupe.view_mode = "tree";
    tree_no_dedupe.dedupe_hard_links = false;
    Settings german;
    german.language = "de";
    const Case cases[] = {
        {"theme case matters", R"({"theme": "Dark"})", Settings{}},
        {"no one_filesystem", "{\n  \"language\": \"auto\",\n  \"dedupe_hard_links\": \"yes\"\n}\n",
         Settings{}},
        {"unknown language", R"({"language": "xx"})", Settings{}},
        {"language case", R"({"language": "DE"})", Settings{}},
        {"empty language", R"({"language": ""})", Settings{}},
        {"known language", R"({"language": "de"})", german},
        {"good and bad mixed",
         R"({"theme": "dark", "view_mode": "graph", "sort_field": "Size", "one_filesystem": "true"})",
         dark_only},
        {"flags only yes or no",
         R"({"view_mode": "tree", "dedupe_hard_links": "no",)"
         R"( "sort_ascending": "1"})",
         tree_no_dedupe},
        {"foreign json", R"({"theme": 5, "view_mode": null, "color_mode": ["heat"]})", Settings{}},
        {"empty file", "", Settings{}},
        {"binary around a valid pair", std::string("\0\xff\"theme\"\x01:\"dark\"", 17), dark_only},
        {"truncated", "{\n  \"language\": \"de\",\n  \"theme\": \"da", german},
        {"key without colon", R"({"theme" "dark"})", Settings{}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(settings_io::from_text(c.text), c.expected) << c.name;
}

TEST(SettingsText, ValueLookupRules) {
    // The first occurrence of the quoted key counts; no escape handling.
    EXPECT_EQ(settings_io::find_value(R"({"theme": "dark", "theme": "light"})", "theme"), "dark");
    EXPECT_EQ(settings_io::find_value(R"({"theme":"light"})", "theme"), "light");
    EXPECT_EQ(settings_io::find_value(R"({"theme": "li\"ght"})", "theme"), "li\\");
    EXPECT_EQ(settings_io::find_value(R"({"theme": "light)", "theme"), "");
    EXPECT_EQ(settings_io::find_value(R"({"xtheme": "dark"})", "theme"), "");
    EXPECT_EQ(settings_io::file_in("", "settings.json"), "");
    EXPECT_EQ(settings_io::file_in("relative/dir", "settings.json"), "");
    EXPECT_EQ(settings_io::file_in("/c/Spacemole", "settings.json"), "/c/Spacemole/settings.json");
}

TEST(SettingsStoreLive, SaveWritesTheFileAndLoadReadsItBack) {
    TempTree tree;
    const int rc = run_in_child([&tree] {
        ::setenv("XDG_CONFIG_HOME", tree.root().c_str(), 1);
        const std::string file = tree.root() + "/Spacemole/settings.json";
        SettingsStore& store = SettingsStore::instance();
        if (SettingsStore::path() != file) return false;
        store.load(); // no file yet: defaults
        if (store.get() != Settings{}) return false;
        store.save();
        if (read_file(file) != kDefaultText || exists(file + ".tmp")) return false;

        store.mutable_get() = changed();
        store.save();
        store.mutable_get() = Settings{};
        store.load();
        return store.get() == changed() && !exists(file + ".tmp");
    });
    EXPECT_EQ(rc, 0);
}

TEST(SettingsStoreLive, CorruptFileGivesDefaults) {
    TempTree tree;
    write_file(tree.root() + "/Spacemole/settings.json", "\x7f"
                                                         "ELF garbage {{{ \"theme\": ");
    const int rc = run_in_child([&tree] {
        ::setenv("XDG_CONFIG_HOME", tree.root().c_str(), 1);
        SettingsStore& store = SettingsStore::instance();
        store.mutable_get() = changed();
        store.load();
        return store.get() == Settings{};
    });
    EXPECT_EQ(rc, 0);
}

TEST(SettingsStoreLive, UnwritableFolderLeavesTheOldFileIntact) {
    TempTree tree;
    const std::string file = tree.root() + "/Spacemole/settings.json";
    const std::string old_text = settings_io::to_text(changed());
    write_file(file, old_text);
    tree.chmod("Spacemole", 0555);
    const int rc = run_unprivileged([&tree] {
        ::setenv("XDG_CONFIG_HOME", tree.root().c_str(), 1);
        SettingsStore& store = SettingsStore::instance();
        store.load();
        if (store.get() != changed()) return false;
        store.mutable_get().theme = "light";
        store.save();
        return store.get().theme == "light"; // kept in memory all the same
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(read_file(file), old_text);
    EXPECT_FALSE(exists(file + ".tmp"));
}

TEST(SettingsStoreLive, NoFolderKeepsSettingsInMemoryAndWritesNothing) {
    TempTree tree;
    const std::string cwd = tree.dir("cwd");
    const int rc = run_in_child([&cwd] {
        if (::chdir(cwd.c_str()) != 0) return false;
        SettingsStore& store = SettingsStore::instance();
        store.mutable_get() = changed();
        if (store.save_to("")) return false;
        store.load_from("");
        return store.get() == changed();
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(entries_in(cwd), 0);
    EXPECT_FALSE(exists("/settings.json.tmp"));
}

TEST(ReplaceFile, FailedRenameRemovesTheTemporaryFile) {
    TempTree tree;
    // A folder where the file should be: the rename cannot replace it.
    const std::string target = tree.dir("Spacemole/settings.json");
    tree.file("Spacemole/settings.json/keep", 3);
    EXPECT_FALSE(settings_io::replace_file(target, "text"));
    EXPECT_FALSE(exists(target + ".tmp"));
    EXPECT_EQ(read_file(target + "/keep"), "xxx");

    const std::string plain = tree.path("plain.json");
    write_file(plain, "old");
    EXPECT_TRUE(settings_io::replace_file(plain, "new text"));
    EXPECT_EQ(read_file(plain), "new text");
    EXPECT_FALSE(exists(plain + ".tmp"));
    EXPECT_FALSE(settings_io::replace_file("", "text"));
}
