#include "tree_export.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<FileNode> node(const std::string& name, std::int64_t size, bool dir = false) {
    auto n = std::make_shared<FileNode>();
    n->id = FileNode::next_id();
    n->name = name;
    n->path = "/data/" + name;
    n->size = size;
    n->is_directory = dir;
    n->modified = 1700000000;
    return n;
}

std::string export_of(const FileNode& root, const scanner::ScanDetails* details = nullptr) {
    char* data = nullptr;
    std::size_t len = 0;
    std::FILE* f = open_memstream(&data, &len);
    EXPECT_NE(f, nullptr);
    EXPECT_TRUE(tree_export::write_export(f, root, details, 1234));
    std::fclose(f);
    std::string out(data, len);
    std::free(data);
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

TEST(TreeExport, FoldersAreArraysAndLeavesObjectsWithTheirFlags) {
    auto root = node("root", 0, true);
    root->path = "/data/with \"quote\"";
    auto big = node("big.bin", 8192);
    auto linked = node("linked.bin", 4096);
    auto device = node("link", 4096);
    auto small = node("Small files", 12288);
    small->is_aggregate = true;
    auto denied = node("secret", 4096, true);
    denied->is_denied = true;
    auto mount = node("usb", 0, true);
    mount->is_denied = true;
    mount->is_timeout = true;
    auto sub = node("sub", 4096 + 8192, true);
    auto inner = node("inner.bin", 8192);
    sub->children = {inner};
    root->children = {sub, small, big, linked, device, denied, mount};
    root->size =
        4096 + sub->size + small->size + big->size + linked->size + device->size + denied->size;

    scanner::ScanDetails details;
    details.leaves[linked->id] = {77, 99, true, false};
    details.leaves[device->id] = {0, 0, false, true};

    const std::string out = export_of(*root, &details);
    EXPECT_EQ(out.rfind("[1,2,{\"progname\":\"spacemole\",\"progver\":\"" SPACEMOLE_VERSION "\","
                        "\"timestamp\":1234},\n",
                        0),
              0u)
        << out;
    EXPECT_NE(out.find("[{\"name\":\"/data/with \\\"quote\\\"\",\"asize\":"), std::string::npos)
        << "the root is named by its full path";
    EXPECT_NE(out.find(",\n[{\"name\":\"sub\",\"asize\":4096,\"dsize\":4096,\"mtime\":1700000000},"
                       "\n{\"name\":\"inner.bin\",\"asize\":8192,\"dsize\":8192,\"mtime\":"
                       "1700000000}]"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("{\"name\":\"Small files\",\"asize\":12288,\"dsize\":12288,\"mtime\""),
              std::string::npos);
    EXPECT_NE(out.find("{\"name\":\"linked.bin\",\"asize\":4096,\"dsize\":4096,\"dev\":77,"
                       "\"ino\":99,\"hlnkc\":true,"),
              std::string::npos);
    EXPECT_NE(out.find("{\"name\":\"link\",\"asize\":4096,\"dsize\":4096,\"notreg\":true,"),
              std::string::npos);
    EXPECT_NE(out.find("[{\"name\":\"secret\",\"asize\":4096,\"dsize\":4096,\"read_error\":true,"),
              std::string::npos);
    EXPECT_NE(out.find("{\"name\":\"usb\",\"asize\":0,\"dsize\":0,\"excluded\":\"otherfs\","),
              std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 3), "]]\n");
}

TEST(TreeExport, DeepTreesAndLeafRoots) {
    auto root = node("r", 0, true);
    std::shared_ptr<FileNode> cur = root;
    for (int i = 0; i < 20000; ++i) {
        auto next = node("d", 0, true);
        cur->children = {next};
        cur = next;
    }
    const std::string out = export_of(*root);
    EXPECT_EQ(std::count(out.begin(), out.end(), '['), 20001 + 1);
    EXPECT_EQ(std::count(out.begin(), out.end(), ']'), 20001 + 1);
    // Release iteratively: a 20000-deep chain of shared pointers would
    // otherwise be destroyed recursively.
    while (!root->children.empty()) {
        auto next = std::const_pointer_cast<FileNode>(root->children.front());
        root->children.clear();
        root = next;
    }

    const auto leaf = node("file.txt", 4096);
    EXPECT_EQ(
        export_of(*leaf).substr(export_of(*leaf).find("},\n") + 3),
        "{\"name\":\"/data/file.txt\",\"asize\":4096,\"dsize\":4096,\"mtime\":1700000000}]\n");
}

TEST(TreeExport, WriteErrorsAreReported) {
    std::FILE* full = std::fopen("/dev/full", "w");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    const auto root = node("r", 4096, true);
    EXPECT_FALSE(tree_export::write_export(full, *root, nullptr, 0));
    std::fclose(full);
}
