#include "tree_import.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "scanner.h"
#include "temp_tree.h"
#include "tree_export.h"
#include "tree_text.h"

using testing_support::describe;
using testing_support::TempTree;

namespace {

constexpr const char* kHead = "[1,2,{\"progname\":\"t\",\"timestamp\":1700000000},";

// A folder `depth` levels deep with one file at the bottom.
std::string nested(int depth) {
    std::string json = "[1,2,{},";
    for (int i = 0; i < depth; ++i)
        json += R"([{"name":"d","dsize":512},)";
    return json + R"({"name":"f","dsize":4096})" + std::string(depth, ']') + "]";
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
    t.dir("empty-folder");
    TempTree saved_in;
    const std::string file = saved_in.path("scan.json");
    for (const bool dedupe : {true, false}) {
        tree_export::Recorder recorder;
        ScanProgress progress;
        const auto scanned = scanner::scan(t.root(), progress, {dedupe, false, 0, &recorder});
        const auto write = [&](std::FILE* f) {
            return tree_export::write_export(f, t.root(), recorder, 1700000000);
        };
        ASSERT_EQ(tree_export::save_export(file, write), "");
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
         R"([1,0,{"x":[1,{"y":null}]},[{"name":"/r","dsize":4096,"uid":0,"extra":{"deep":[[]]}},)"
         R"({"name":"a.mkv","asize":5,"dsize":8192,"custom":true}]])",
         "r size=12288 files=1 cat=2 dir reclaimable=0 path=/r\n"
         "  a.mkv size=8192 files=1 cat=2 reclaimable=0 path=/r/a.mkv\n"},
        {"raw bytes that are not UTF-8 are repaired and flagged, down the tree",
         "[1,2,{},[{\"name\":\"/r\"},[{\"name\":\"b\xFF"
         R"(d","dsize":0},{"name":"f","dsize":512}]]])",
         "r size=512 files=1 cat=9 dir reclaimable=0 path=/r\n"
         "  b\uFFFDd size=512 files=1 cat=9 dir repaired reclaimable=0 path=/r/b\uFFFDd\n"
         "    f size=512 files=1 cat=9 repaired reclaimable=0 path=/r/b\uFFFDd/f\n"},
        {"hard links once per device and inode, the device inherited from the folder",
         R"([1,2,{},[{"name":"/r","dev":7},{"name":"a","dsize":300000,"ino":5,"hlnkc":true},)"
         R"([{"name":"d"},{"name":"b","dsize":300000,"ino":5,"hlnkc":true}],)"
         R"([{"name":"e","dev":8},{"name":"c","dsize":300000,"ino":5,"nlink":2}]]])",
         "r size=600000 files=2 cat=9 dir reclaimable=0 path=/r\n"
         "  a size=300000 files=1 cat=9 reclaimable=0 path=/r/a\n"
         "  e size=300000 files=1 cat=9 dir reclaimable=0 path=/r/e\n"
         "    c size=300000 files=1 cat=9 reclaimable=0 path=/r/e/c\n"
         "  d size=0 files=0 cat=0 dir reclaimable=0 path=/r/d\n"},
        {"small files fold up to the byte limit, junk from names, read errors, exclusions",
         R"([1,2,{},[{"name":"/"},[{"name":"cache","read_error":true},{"name":"x","dsize":262143},)"
         R"({"name":"y","dsize":4096},{"name":"w","dsize":262144}],)"
         R"({"name":"proc","excluded":"kernfs"},{"name":"z","asize":3,"dsize":0}]])",
         "/ size=528383 files=3 cat=9 dir reclaimable=528383 path=/\n"
         "  cache size=528383 files=3 cat=9 dir junk denied reclaimable=528383 path=/cache\n"
         "    Small files size=266239 files=2 cat=9 agg reclaimable=0 path=/cache\n"
         "    w size=262144 files=1 cat=9 reclaimable=0 path=/cache/w\n"
         "  proc size=0 files=0 cat=0 dir denied skipped reclaimable=0 path=/proc\n"},
        {"a saved scan of one file", R"([1,1,{"timestamp":5},{"name":"/data/x.pdf","dsize":4096}])",
         "x.pdf size=4096 files=1 cat=4 reclaimable=0 path=/data/x.pdf\n"},
    };
    for (const auto& row : table) {
        const tree_import::Result r = tree_import::parse(row.json);
        ASSERT_TRUE(r.root) << row.what << ": " << r.error;
        EXPECT_EQ(describe(*r.root), row.tree) << row.what;
    }
    const tree_import::Result deep = tree_import::parse(nested(4000));
    ASSERT_TRUE(deep.root) << deep.error;
    EXPECT_EQ(deep.root->size, 4000 * 512 + 4096);
    EXPECT_EQ(deep.entries, 4001);
}

TEST(TreeImport, BadFilesGiveOneLineWithTheOffset) {
    const std::string h = kHead;
    const std::pair<std::string, std::string> table[] = {
        {"", "the file is empty (at byte 0)"},
        {"hello", "not valid JSON: Invalid value (at byte 0)"},
        {R"({"a":1})", "not a saved scan: the file is not a JSON array (at byte 0)"},
        {R"([2,0,{},{"name":"x"}])", "version 2 (this program reads version 1) (at byte 1)"},
        {R"(["1"])", "not a saved scan: expected the format version number (at byte 4)"},
        {h + R"([{"name":"/r"},7]])", "a folder holds a number where an item"},
        {h + R"([[{"name":"/r"}]]])", "a folder's array must begin with its info object"},
        {h + R"([{"name":"/r"},{"name":"a","dsize":-1}]])", "\"dsize\" is negative (at byte 80)"},
        {h + R"({"name":"a","asize":9223372036854775808}])", "\"asize\" is too large"},
        {h + R"({"name":"a","dsize":1.5}])", "\"dsize\" must be a whole number"},
        {h + R"([{"name":"/r"},{"name":"a","dsize":9223372036854775807},{"name":"b","dsize":1}]])",
         "sizes add up to more than 8 EiB"},
        {h + R"({"name":7}])", "\"name\" must be a string"},
        {h + R"({"dsize":7}])", "an item has no \"name\""},
        {h + R"({"name":"a","hlnkc":"yes"}])", "\"hlnkc\" must be true or false"},
        {R"([1,2,[],{"name":"x"}])", "the header must be an object"},
        {R"([1,2,{}])", "the file ends before its root item"},
        {R"([1,2,{},{"name":"x"},{"name":"y"}])", "the file goes on after its root item"},
        {"\x1F\x8B\x08\x00", "the file is gzip-compressed; decompress it first (at byte 0)"},
        {nested(5000), "nesting deeper than 4096 levels"},
    };
    for (const auto& [json, error] : table) {
        const tree_import::Result r = tree_import::parse(json);
        EXPECT_FALSE(r.root) << json.substr(0, 80);
        EXPECT_NE(r.error.find(error), std::string::npos) << error << " / got: " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos);
        EXPECT_NE(r.error.find("(at byte "), std::string::npos) << r.error;
    }
}

TEST(TreeImport, FilesThatCannotBeReadSayWhy) {
    TempTree t;
    const std::string cut = t.file("cut.json", 0);
    testing_support::write_file(cut, R"([1,2,{},[{"name":"/r"},{"name":"a")");
    const std::pair<std::string, std::string> table[] = {
        {t.path("nope.json"), "cannot open " + t.path("nope.json") + ": No such file or directory"},
        {t.root(), t.root() + " is a folder, not a saved scan"},
        {cut, "the file ends too early (cut off while it was written?) (at byte 34)"},
    };
    for (const auto& [path, error] : table)
        EXPECT_EQ(tree_import::load_file(path).error, error);
}
