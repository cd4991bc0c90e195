#include "tree_import.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "scanner.h"
#include "temp_tree.h"
#include "tree_export.h"

using testing_support::TempTree;

namespace {

constexpr const char* kHead = "[1,2,{\"progname\":\"t\",\"timestamp\":1700000000},";

// Prints a tree as the window would see it, children by size then name (the
// order of equal sizes is not fixed), ids left out.
std::string describe(const FileNode& n, int depth = 0) {
    std::string out = std::string(static_cast<std::size_t>(depth) * 2, ' ') + n.name +
                      " size=" + std::to_string(n.size) + " files=" + std::to_string(n.file_count) +
                      " cat=" + std::to_string(static_cast<int>(n.category)) +
                      (n.is_directory ? " dir" : "") + (n.is_aggregate ? " agg" : "") +
                      (n.is_junk ? " junk" : "") + (n.is_denied ? " denied" : "") +
                      (n.is_timeout ? " skipped" : "") + (n.path_repaired ? " repaired" : "") +
                      " reclaimable=" + std::to_string(n.reclaimable) + " path=" + n.path + "\n";
    auto kids = n.children;
    const auto larger = [](const FileNodePtr& a, const FileNodePtr& b) {
        return a->size > b->size;
    };
    EXPECT_TRUE(std::is_sorted(kids.begin(), kids.end(), larger)) << n.path;
    std::sort(kids.begin(), kids.end(), [&](const FileNodePtr& a, const FileNodePtr& b) {
        return larger(a, b) || (a->size == b->size && a->name < b->name);
    });
    for (const auto& c : kids)
        out += describe(*c, depth + 1);
    return out;
}

} // namespace

TEST(TreeImport, OurExportOpensAsTheSameTreeAsTheScan) {
    TempTree t;
    for (int i = 0; i < 30; ++i)
        t.file("src/file" + std::to_string(i) + ".c", 100 + i);
    t.file("src/one-big.iso", 400000);
    t.file("photos/a.jpg", 300000);
    t.file("photos/b.jpg", 5000);
    t.file("project/node_modules/pkg/index.js", 9000);
    t.file("project/node_modules/pkg/more.js", 9000);
    t.file("lonely/only.txt", 10);
    t.file("empty-file");
    t.symlink("link", "photos/a.jpg");
    t.hardlink("photos/z-again.jpg", "photos/a.jpg");
    t.hardlink("src/one-big-again.iso", "src/one-big.iso");
    t.dir("empty-folder");
    TempTree saved_in;
    const std::string file = saved_in.path("scan.json");
    for (const bool dedupe : {true, false}) {
        tree_export::Recorder recorder;
        ScanProgress progress;
        const auto scanned = scanner::scan(t.root(), progress, {dedupe, false, 0, &recorder});
        ASSERT_EQ(tree_export::save_export(file,
                                           [&](std::FILE* f) {
                                               return tree_export::write_export(
                                                   f, t.root(), recorder, 1700000000);
                                           }),
                  "");
        const tree_import::Result saved = tree_import::load_file(file, {dedupe});
        ASSERT_TRUE(saved.root) << saved.error;
        EXPECT_EQ(saved.timestamp, 1700000000);
        EXPECT_EQ(saved.program, "spacemole");
        EXPECT_EQ(describe(*saved.root), describe(*scanned)) << "dedupe " << dedupe;
        EXPECT_TRUE(saved.root->is_readonly && saved.root->children.front()->is_readonly);
    }
}

TEST(TreeImport, FormatCasesOfOtherWriters) {
    const struct {
        const char* what;
        std::string json;
        std::string tree; // describe() of the result
    } table[] = {
        {"minor version 0, no header keys, unknown keys and values ignored",
         "[1,0,{\"x\":[1,{\"y\":null}]},[{\"name\":\"/r\",\"dsize\":4096,\"uid\":0,\"extra\":{"
         "\"deep\":[[]]}},{\"name\":\"a.mkv\",\"asize\":5,\"dsize\":8192,\"custom\":true}]]",
         "r size=12288 files=1 cat=2 dir reclaimable=0 path=/r\n"
         "  a.mkv size=8192 files=1 cat=2 reclaimable=0 path=/r/a.mkv\n"},
        {"raw bytes that are not UTF-8 are repaired and flagged, down the tree",
         "[1,2,{},[{\"name\":\"/r\"},[{\"name\":\"b\xFF"
         "d\",\"dsize\":0},{\"name\":\"f\",\"dsize\":"
         "512}]]]",
         "r size=512 files=1 cat=9 dir reclaimable=0 path=/r\n"
         "  b\xEF\xBF\xBD"
         "d size=512 files=1 cat=9 dir repaired reclaimable=0 path=/r/b\xEF\xBF\xBD"
         "d\n"
         "    f size=512 files=1 cat=9 repaired reclaimable=0 path=/r/b\xEF\xBF\xBD"
         "d/f\n"},
        {"hard links once per device and inode, the device inherited from the folder",
         "[1,2,{},[{\"name\":\"/r\",\"dev\":7},{\"name\":\"a\",\"dsize\":300000,\"ino\":5,"
         "\"hlnkc\":true},[{\"name\":\"d\"},{\"name\":\"b\",\"dsize\":300000,\"ino\":5,\"hlnkc\":"
         "true}],[{\"name\":\"e\",\"dev\":8},{\"name\":\"c\",\"dsize\":300000,\"ino\":5,\"nlink\":"
         "2}]]]",
         "r size=600000 files=2 cat=9 dir reclaimable=0 path=/r\n"
         "  a size=300000 files=1 cat=9 reclaimable=0 path=/r/a\n"
         "  e size=300000 files=1 cat=9 dir reclaimable=0 path=/r/e\n"
         "    c size=300000 files=1 cat=9 reclaimable=0 path=/r/e/c\n"
         "  d size=0 files=0 cat=0 dir reclaimable=0 path=/r/d\n"},
        {"small files fold up to the byte limit, junk from names, read errors and exclusions "
         "flagged",
         "[1,2,{},[{\"name\":\"/\"},[{\"name\":\"cache\",\"read_error\":true},{\"name\":\"x\","
         "\"dsize\":262143},{\"name\":\"y\",\"dsize\":4096},{\"name\":\"w\",\"dsize\":262144}],"
         "{\"name\":\"proc\",\"excluded\":\"kernfs\"},{\"name\":\"z\",\"asize\":3,\"dsize\":0}]]",
         "/ size=528383 files=3 cat=9 dir reclaimable=528383 path=/\n"
         "  cache size=528383 files=3 cat=9 dir junk denied reclaimable=528383 path=/cache\n"
         "    Small files size=266239 files=2 cat=9 agg reclaimable=0 path=/cache\n"
         "    w size=262144 files=1 cat=9 reclaimable=0 path=/cache/w\n"
         "  proc size=0 files=0 cat=0 dir denied skipped reclaimable=0 path=/proc\n"},
        {"a saved scan of one file",
         "[1,1,{\"timestamp\":5},{\"name\":\"/data/x.pdf\",\"dsize\":4096}]",
         "x.pdf size=4096 files=1 cat=4 reclaimable=0 path=/data/x.pdf\n"},
    };
    for (const auto& row : table) {
        const tree_import::Result r = tree_import::parse(row.json);
        ASSERT_TRUE(r.root) << row.what << ": " << r.error;
        EXPECT_EQ(describe(*r.root), row.tree) << row.what;
    }
}

TEST(TreeImport, BadFilesGiveOneLineWithTheOffset) {
    const struct {
        std::string json;
        std::string error;
    } table[] = {
        {"", "the file is empty (at byte 0)"},
        {"hello", "not valid JSON: Invalid value (at byte 0)"},
        {"{\"a\":1}", "not a saved scan: the file is not a JSON array (at byte 0)"},
        {"[2,0,{},{\"name\":\"x\"}]",
         "unsupported format version 2 (this program reads version 1) (at byte 1)"},
        {"[\"1\"]", "not a saved scan: expected the format version number (at byte 4)"},
        {std::string(kHead) + "[{\"name\":\"/r\"},{\"name\":\"a\",\"dsize\":10",
         "the file ends too early"},
        {std::string(kHead) + "[{\"name\":\"/r\"},7]]", "a folder holds a number where an item"},
        {std::string(kHead) + "[[{\"name\":\"/r\"}]]]",
         "a folder's array must begin with its info object"},
        {std::string(kHead) + "[{\"name\":\"/r\"},{\"name\":\"a\",\"dsize\":-1}]]",
         "\"dsize\" is negative (at byte 80)"},
        {std::string(kHead) + "{\"name\":\"a\",\"asize\":9223372036854775808}]",
         "\"asize\" is too large"},
        {std::string(kHead) + "{\"name\":\"a\",\"dsize\":1.5}]",
         "\"dsize\" must be a whole number"},
        {std::string(kHead) +
             "[{\"name\":\"/"
             "r\"},{\"name\":\"a\",\"dsize\":9223372036854775807},{\"name\":\"b\",\"dsize\":1}]]",
         "sizes add up to more than 8 EiB"},
        {std::string(kHead) + "{\"name\":7}]", "\"name\" must be a string"},
        {std::string(kHead) + "{\"dsize\":7}]", "an item has no \"name\""},
        {std::string(kHead) + "{\"name\":\"a\",\"hlnkc\":\"yes\"}]",
         "\"hlnkc\" must be true or false"},
        {"[1,2,[],{\"name\":\"x\"}]", "the header must be an object"},
        {"[1,2,{}]", "the file ends before its root item"},
        {"[1,2,{},{\"name\":\"x\"},{\"name\":\"y\"}]", "the file goes on after its root item"},
        {"\x1F\x8B\x08\x00", "the file is gzip-compressed; decompress it first (at byte 0)"},
    };
    for (const auto& row : table) {
        const tree_import::Result r = tree_import::parse(row.json);
        EXPECT_FALSE(r.root) << row.json.substr(0, 80);
        EXPECT_NE(r.error.find(row.error), std::string::npos) << row.error << " / got: " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos);
        EXPECT_NE(r.error.find("(at byte "), std::string::npos) << r.error;
    }
}

TEST(TreeImport, NestingOpensUpToItsLimit) {
    for (const int depth : {4000, 5000}) {
        std::string json = "[1,2,{},";
        for (int i = 0; i < depth; ++i)
            json += "[{\"name\":\"d\",\"dsize\":512},";
        json += "{\"name\":\"f\",\"dsize\":4096}" + std::string(depth, ']') + "]";
        const tree_import::Result r = tree_import::parse(json);
        if (depth > 4096) {
            EXPECT_NE(r.error.find("nesting deeper than 4096 levels"), std::string::npos)
                << r.error;
            continue;
        }
        ASSERT_TRUE(r.root) << r.error;
        EXPECT_EQ(r.root->size, depth * 512 + 4096);
        EXPECT_EQ(r.entries, depth + 1);
    }
}

TEST(TreeImport, FilesThatCannotBeReadSayWhy) {
    TempTree t;
    const tree_import::Result missing = tree_import::load_file(t.path("nope.json"));
    EXPECT_EQ(missing.error, "cannot open " + t.path("nope.json") + ": No such file or directory");
    const tree_import::Result folder = tree_import::load_file(t.root());
    EXPECT_EQ(folder.error, t.root() + " is a folder, not a saved scan");
    const std::string cut = t.file("cut.json", 0);
    testing_support::write_file(cut, "[1,2,{},[{\"name\":\"/r\"},{\"name\":\"a\"");
    const tree_import::Result truncated = tree_import::load_file(cut);
    EXPECT_EQ(truncated.error,
              "the file ends too early (cut off while it was written?) (at byte 34)");
}
