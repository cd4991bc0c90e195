#include "tree_export.h"

#include <cstdio>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "mount_namespace.h"
#include "temp_tree.h"

using testing_support::TempTree;

namespace {

// The export of `root` as `recorder` saw it, saved to a file.
std::string written(const std::string& root, tree_export::Recorder& recorder) {
    TempTree out;
    const std::string file = out.path("scan.json");
    EXPECT_EQ(
        tree_export::save_export(
            file, [&](std::FILE* f) { return tree_export::write_export(f, root, recorder, 1234); }),
        "");
    return testing_support::read_file(file);
}

// Scans `root` with a recorder and returns the export.
std::string export_scan(const std::string& root, bool one_filesystem = false) {
    tree_export::Recorder recorder;
    ScanProgress progress;
    scanner::scan(root, progress, {true, one_filesystem, 0, &recorder});
    return written(root, recorder);
}

// The info object written for the entry called `name` (first match).
std::string info_of(const std::string& out, const std::string& name) {
    const std::size_t at = out.find("{\"name\":\"" + name + "\",");
    if (at == std::string::npos) return "(missing)";
    return out.substr(at, out.find('}', at) - at + 1);
}

} // namespace

TEST(JsonString, EscapesWhatJsonRequires) {
    const std::pair<std::string, std::string> table[] = {
        {"plain", "\"plain\""},
        {"a\"b", "\"a\\\"b\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"new\nline\ttab\rret", "\"new\\nline\\ttab\\rret\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"\x01\x1f\x7f", "\"\\u0001\\u001f\x7f\""},
        {"\b\f", "\"\\b\\f\""},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
        // Names that are not strict UTF-8 (here an overlong "/") are repaired.
        {"bad\xFF", "\"bad\xEF\xBF\xBD\""},
        {"o\xC0\xAF", "\"o\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"", "\"\""},
    };
    for (const auto& [in, out] : table)
        EXPECT_EQ(tree_export::json_string(in), out) << in;
}

TEST(TreeExport, EveryEntryAppearsUnderItsRealNameWithItsOwnSizes) {
    TempTree t;
    t.file("two.txt", 2);
    ASSERT_EQ(::mkfifo(t.path("fifo").c_str(), 0644), 0);
    t.sparse("sparse", 1 << 20);
    t.file("sub/big.bin", 300000);
    t.hardlink("other/big-again.bin", "sub/big.bin");
    for (int i = 0; i < 50; ++i)
        t.file("many/f" + std::to_string(i), 100);
    const std::string out = export_scan(t.root());

    const std::string dsize =
        R"(,"dsize":)" + std::to_string(TempTree::allocated(t.path("two.txt")));
    struct stat st {};
    ASSERT_EQ(::stat(t.path("sub/big.bin").c_str(), &st), 0);
    const std::string linked =
        R"("ino":)" + std::to_string(st.st_ino) + R"(,"hlnkc":true,"nlink":2)";
    const std::pair<const char*, std::vector<std::string>> table[] = {
        {"two.txt", {"\"asize\":2" + dsize}},
        {"fifo", {"\"notreg\":true"}},
        {"sparse", {"\"asize\":1048576,\"dsize\":0"}},
        {"big.bin", {"\"asize\":300000,", linked}},
        {"big-again.bin", {"\"asize\":300000,", linked}},
        {"f49", {"\"asize\":100,"}},
    };
    for (const auto& [name, parts] : table)
        for (const auto& part : parts)
            EXPECT_NE(info_of(out, name).find(part), std::string::npos) << info_of(out, name);
    EXPECT_EQ(out.substr(out.size() - 3), "]]\n");
}

// A mount is not entered with one file system: marked so. Saving onto a full
// disk keeps the old file and leaves no temporary one.
TEST(TreeExport, MountsNotEnteredAndSavingOnlyAfterACompleteWrite) {
    TempTree t;
    const std::string dir = t.dir("disk");
    t.file("kept", 10);
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(testing_support::mount_tmpfs(dir, "size=64k"));
        const std::string target = dir + "/scan.json";
        testing_support::write_file(target, "old");
        const std::string out = export_scan(t.root(), true);
        EXPECT_NE(info_of(out, "disk").find("\"excluded\":\"otherfs\""), std::string::npos) << out;
        EXPECT_NE(info_of(out, "kept"), "(missing)");

        const std::string big(1 << 20, 'x');
        const std::string error = tree_export::save_export(target, [&](std::FILE* f) {
            return std::fwrite(big.data(), 1, big.size(), f) == big.size();
        });
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
        EXPECT_EQ(testing_support::read_file(target), "old");
        EXPECT_EQ(testing_support::list_dir(dir).size(), 1u);
        EXPECT_EQ(tree_export::save_export(target,
                                           [](std::FILE* f) { return std::fputs("new", f) >= 0; }),
                  "");
        EXPECT_EQ(testing_support::read_file(target), "new");
    });
}

TEST(TreeExport, UnlistedRootsAndWriteErrorsAreReported) {
    TempTree t;
    t.file("a", 10);
    tree_export::Recorder nothing;
    EXPECT_NE(info_of(written(t.root(), nothing), t.root()).find("\"read_error\":true"),
              std::string::npos)
        << "a folder the walk could not open";
    std::FILE* full = std::fopen("/dev/full", "w");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    EXPECT_FALSE(tree_export::write_export(full, t.root(), nothing, 0));
    std::fclose(full);
}
