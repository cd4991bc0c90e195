#include "tree_export.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "mount_namespace.h"
#include "temp_tree.h"
#include "unique_fd.h"

using testing_support::TempTree;

namespace {

// Scans `root` with a recorder and returns the export.
std::string export_scan(const std::string& root, bool one_filesystem = false) {
    tree_export::Recorder recorder;
    ScanProgress progress;
    scanner::Options options;
    options.entry_sink = &recorder;
    options.one_filesystem = one_filesystem;
    scanner::scan(root, progress, options);
    char* data = nullptr;
    std::size_t len = 0;
    std::FILE* f = open_memstream(&data, &len);
    EXPECT_NE(f, nullptr);
    EXPECT_TRUE(tree_export::write_export(f, root, recorder, 1234));
    std::fclose(f);
    std::string out(data, len);
    std::free(data);
    return out;
}

// The info object written for the entry called `name` (first match).
std::string info_of(const std::string& out, const std::string& name) {
    const std::size_t at = out.find("{\"name\":\"" + name + "\",");
    if (at == std::string::npos) return "(missing)";
    return out.substr(at, out.find('}', at) - at + 1);
}

std::string read_file(const std::string& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            out.append(buf, n);
        std::fclose(f);
    }
    return out;
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
        {"bad\xFF", "\"bad\xEF\xBF\xBD\""},
        // Strict UTF-8 readers reject surrogates, overlong forms and values
        // above U+10FFFF: every byte of such a sequence becomes U+FFFD.
        {"s\xED\xA0\x80", "\"s\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"o\xC0\xAF", "\"o\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"o\xE0\x80\xAF", "\"o\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"h\xF4\x90\x80\x80", "\"h\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"h\xF5\x80\x80\x80", "\"h\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xED\x9F\xBF\xEE\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
         "\"\xED\x9F\xBF\xEE\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\""},
        {"", "\"\""},
    };
    for (const auto& [in, out] : table)
        EXPECT_EQ(tree_export::json_string(in), out) << in;
}

TEST(TreeExport, EveryEntryAppearsUnderItsRealNameWithItsOwnSizes) {
    TempTree t;
    t.file("two.txt", 2);
    t.file("empty");
    t.file("Small files", 10);
    ASSERT_EQ(::mkfifo(t.path("fifo").c_str(), 0644), 0);
    t.symlink("link", "two.txt");
    t.sparse("sparse", 1 << 20);
    t.file("sub/big.bin", 300000);
    t.hardlink("other/big-again.bin", "sub/big.bin");
    for (int i = 0; i < 50; ++i)
        t.file("many/f" + std::to_string(i), 100);
    const std::string out = export_scan(t.root());

    EXPECT_EQ(out.rfind("[1,2,{\"progname\":\"spacemole\",\"progver\":\"" SPACEMOLE_VERSION "\","
                        "\"timestamp\":1234},\n[{\"name\":" +
                            tree_export::json_string(t.root()),
                        0),
              0u)
        << "the root is named by its path";
    const std::string dsize =
        ",\"dsize\":" + std::to_string(TempTree::allocated(t.path("two.txt")));
    const struct {
        const char* name;
        std::vector<std::string> has;
    } table[] = {
        {"two.txt", {"\"asize\":2" + dsize}},
        {"empty", {"\"asize\":0,\"dsize\":0"}},
        {"Small files", {"\"asize\":10"}},
        {"fifo", {"\"notreg\":true"}},
        {"link", {"\"asize\":7,", "\"notreg\":true"}},
        {"sparse", {"\"asize\":1048576,\"dsize\":0"}},
        {"big.bin", {"\"asize\":300000,", "\"hlnkc\":true,\"nlink\":2"}},
        {"big-again.bin", {"\"asize\":300000,", "\"hlnkc\":true,\"nlink\":2"}},
        {"f49", {"\"asize\":100,"}},
        {"f0", {"\"asize\":100,"}},
    };
    for (const auto& row : table)
        for (const auto& part : row.has)
            EXPECT_NE(info_of(out, row.name).find(part), std::string::npos)
                << row.name << ": " << info_of(out, row.name);
    struct stat st {};
    ASSERT_EQ(::stat(t.path("sub/big.bin").c_str(), &st), 0);
    const std::string ino = "\"ino\":" + std::to_string(st.st_ino);
    EXPECT_NE(info_of(out, "big.bin").find(ino), std::string::npos);
    EXPECT_NE(info_of(out, "big-again.bin").find(ino), std::string::npos);
    EXPECT_NE(out.find("[{\"name\":\"many\","), std::string::npos) << "folders are arrays";
    EXPECT_EQ(out.substr(out.size() - 3), "]]\n");
}

TEST(TreeExport, MountsNotEnteredAreMarkedExcluded) {
    TempTree t;
    t.file("mnt/hidden", 10);
    t.file("kept", 10);
    const std::string root = t.root();
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(testing_support::mount_tmpfs(root + "/mnt"));
        const std::string out = export_scan(root, true);
        EXPECT_NE(info_of(out, "mnt").find("\"excluded\":\"otherfs\""), std::string::npos) << out;
        EXPECT_NE(info_of(out, "kept"), "(missing)");
    });
}

TEST(TreeExport, SavingReplacesTheFileOnlyAfterACompleteWrite) {
    TempTree t;
    const std::string dir = t.dir("disk");
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(testing_support::mount_tmpfs(dir, "size=64k"));
        const std::string target = dir + "/scan.json";
        std::FILE* old = std::fopen(target.c_str(), "w");
        ASSERT_NE(old, nullptr);
        std::fputs("[1,2,{},{\"name\":\"old\"}]", old);
        std::fclose(old);

        const std::string big(1 << 20, 'x');
        const std::string error = tree_export::save_export(target, [&](std::FILE* f) {
            return std::fwrite(big.data(), 1, big.size(), f) == big.size();
        });
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
        EXPECT_EQ(read_file(target), "[1,2,{},{\"name\":\"old\"}]") << "the old file survives";
        const DirPtr listing(::opendir(dir.c_str()));
        int names = 0;
        while (const dirent* e = ::readdir(listing.get()))
            names += e->d_name[0] != '.';
        EXPECT_EQ(names, 1) << "no temporary file is left behind";

        EXPECT_EQ(tree_export::save_export(target,
                                           [](std::FILE* f) { return std::fputs("new", f) >= 0; }),
                  "");
        EXPECT_EQ(read_file(target), "new");
    });
}

TEST(TreeExport, WriteErrorsAreReported) {
    std::FILE* full = std::fopen("/dev/full", "w");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    TempTree t;
    t.file("a", 10);
    tree_export::Recorder recorder;
    ScanProgress progress;
    scanner::Options options;
    options.entry_sink = &recorder;
    scanner::scan(t.root(), progress, options);
    EXPECT_FALSE(tree_export::write_export(full, t.root(), recorder, 0));
    std::fclose(full);
}
