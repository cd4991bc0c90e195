// The saved-scan reader on arbitrary bytes: no crash, exactly one of a tree
// or a one-line error with its offset, and every tree obeys the tree's rules.

#include <vector>

#include "fuzz_check.h"
#include "tree_import.h"

namespace {

void check(std::string_view json) {
    const tree_import::Result r = tree_import::parse(json);
    if (!r.root) {
        require(!r.error.empty(), "a failure says why");
        require(r.error.find('\n') == std::string::npos, "the error is one line");
        require(r.error.find("(at byte ") != std::string::npos, "the error names the offset");
        return;
    }
    require(r.error.empty(), "a tree comes without an error");
    std::vector<const FileNode*> stack{r.root.get()};
    while (!stack.empty()) {
        const FileNode* n = stack.back();
        stack.pop_back();
        require(n->size >= 0 && n->file_count >= 0, "sizes and counts are not negative");
        require(n->is_readonly, "a saved scan is read-only");
        std::int64_t sum = 0;
        std::int64_t files = 0;
        for (std::size_t i = 0; i < n->children.size(); ++i) {
            const FileNode& c = *n->children[i];
            require(i == 0 || n->children[i - 1]->size >= c.size, "children largest first");
            sum += c.size;
            files += c.file_count;
            stack.push_back(&c);
        }
        if (n->is_directory) {
            require(sum <= n->size, "a folder holds at least its children");
            require(files == n->file_count, "a folder counts its children's files");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check(text);
    // Raw bytes rarely pass the header: also read them as the root item.
    check("[1,2,{\"timestamp\":1}," + std::string(text) + "]");
    return 0;
}
