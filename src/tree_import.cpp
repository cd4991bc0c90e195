#include "tree_import.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <rapidjson/error/en.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "file_category.h"
#include "junk_patterns.h"
#include "scanner.h"
#include "strutil.h"

namespace tree_import {

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

enum class Ctx : std::uint8_t { Top, Header, Folder, FolderInfo, ItemInfo, Skip };

enum class Field : std::uint8_t {
    Other,
    Name,
    Asize,
    Dsize,
    Dev,
    Ino,
    Nlink,
    Hlnkc,
    ReadError,
    Excluded,
    Notreg,
    Mtime,
    Mode,
    Timestamp,
    Progname,
};

Field key_of(std::string_view k) {
    static constexpr std::pair<std::string_view, Field> kKeys[] = {
        {"name", Field::Name},         {"asize", Field::Asize},
        {"dsize", Field::Dsize},       {"dev", Field::Dev},
        {"ino", Field::Ino},           {"nlink", Field::Nlink},
        {"hlnkc", Field::Hlnkc},       {"read_error", Field::ReadError},
        {"excluded", Field::Excluded}, {"notreg", Field::Notreg},
        {"mtime", Field::Mtime},       {"mode", Field::Mode},
    };
    for (const auto& [name, key] : kKeys)
        if (name == k) return key;
    return Field::Other;
}

const char* key_name(Field k) {
    switch (k) {
    case Field::Name:
        return "name";
    case Field::Asize:
        return "asize";
    case Field::Dsize:
        return "dsize";
    case Field::Dev:
        return "dev";
    case Field::Ino:
        return "ino";
    case Field::Nlink:
        return "nlink";
    case Field::Hlnkc:
        return "hlnkc";
    case Field::ReadError:
        return "read_error";
    case Field::Excluded:
        return "excluded";
    case Field::Notreg:
        return "notreg";
    case Field::Mtime:
        return "mtime";
    case Field::Mode:
        return "mode";
    case Field::Timestamp:
        return "timestamp";
    case Field::Progname:
        return "progname";
    case Field::Other:
        break;
    }
    return "?";
}

// A JSON number as the reader delivered it.
struct Number {
    bool negative = false;
    std::uint64_t magnitude = 0;
    bool whole = true;      // false: has a fraction
    bool too_large = false; // beyond 64 bits
};

struct Info {
    std::string name;
    bool has_name = false;
    std::int64_t asize = -1;
    std::int64_t dsize = -1;
    bool has_dev = false;
    std::uint64_t dev = 0;
    bool has_ino = false;
    std::uint64_t ino = 0;
    std::uint64_t nlink = 0;
    bool hlnkc = false;
    bool read_error = false;
    bool excluded = false;
    bool notreg = false;
    std::int64_t mtime = 0;
    bool has_mode = false;
    std::uint32_t mode = 0;
};

struct Frame {
    Ctx ctx;
    bool info_seen = false; // Folder: its info object came
};

struct OpenFolder {
    std::string path; // display path
    std::uint64_t dev = 0;
    bool repaired = false;
};

class Handler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Handler> {
public:
    explicit Handler(const Options& options, Result& result)
        : m_result(result)
        , m_builder(options.dedupe_hard_links) {}

    const std::string& error() const { return m_error; }
    FileNodePtr finish() {
        return m_single ? FileNodePtr(std::move(m_single)) : m_builder.finish();
    }

    bool StartArray() { return open(true); }
    bool StartObject() { return open(false); }

    bool EndArray(rapidjson::SizeType) {
        const Ctx ctx = m_stack.back().ctx;
        if (ctx == Ctx::Folder) {
            if (!m_stack.back().info_seen) return fail("a folder's array holds no info object");
            m_builder.close_folder();
            m_folders.pop_back();
        } else if (ctx == Ctx::Top && m_top_index < 4) {
            return fail("the file ends before its root item");
        }
        return close();
    }

    bool EndObject(rapidjson::SizeType) {
        const Ctx ctx = m_stack.back().ctx;
        if (ctx == Ctx::FolderInfo || ctx == Ctx::ItemInfo) {
            if (!m_info.has_name) return fail("an item has no \"name\"");
            ++m_result.entries;
            if (!(ctx == Ctx::FolderInfo ? begin_folder() : add_item())) return false;
        }
        return close();
    }

    bool Key(const char* s, rapidjson::SizeType len, bool) {
        const std::string_view k(s, len);
        const Ctx ctx = m_stack.back().ctx;
        if (ctx == Ctx::Header)
            m_key = k == "timestamp"  ? Field::Timestamp
                    : k == "progname" ? Field::Progname
                                      : Field::Other;
        else if (ctx != Ctx::Skip)
            m_key = key_of(k);
        return true;
    }

    bool String(const char* s, rapidjson::SizeType len, bool) {
        if (!scalar("a string")) return false;
        if (m_stack.back().ctx == Ctx::Skip) return true;
        const std::string_view v(s, len);
        if (m_key == Field::Name) {
            m_info.name.assign(v);
            m_info.has_name = true;
        } else if (m_key == Field::Excluded) {
            m_info.excluded = true;
        } else if (m_key == Field::Progname) {
            m_result.program = su::sanitize_utf8(v);
        } else if (m_key != Field::Other) {
            return wrong_type();
        }
        return true;
    }

    bool Bool(bool b) {
        if (!scalar("true or false")) return false;
        if (m_stack.back().ctx == Ctx::Skip) return true;
        switch (m_key) {
        case Field::Hlnkc:
            m_info.hlnkc = b;
            break;
        case Field::ReadError:
            m_info.read_error = b;
            break;
        case Field::Notreg:
            m_info.notreg = b;
            break;
        case Field::Excluded:
            m_info.excluded = b;
            break;
        case Field::Other:
        case Field::Progname:
            break;
        default:
            return wrong_type();
        }
        return true;
    }

    bool Null() {
        if (!scalar("null")) return false;
        if (m_stack.back().ctx == Ctx::Skip) return true;
        return m_key == Field::Other || m_key == Field::Progname || m_key == Field::Timestamp ||
               wrong_type();
    }

    bool Int(int i) { return number(signed_number(i)); }
    bool Uint(unsigned u) { return number(Number{false, u, true, false}); }
    bool Int64(std::int64_t i) { return number(signed_number(i)); }
    bool Uint64(std::uint64_t u) { return number(Number{false, u, true, false}); }
    bool Double(double d) {
        Number n;
        n.negative = d < 0;
        const double a = std::fabs(d);
        n.whole = std::floor(a) == a;
        n.too_large = !(a < 18446744073709551616.0);
        if (n.whole && !n.too_large) n.magnitude = static_cast<std::uint64_t>(a);
        return number(n);
    }

private:
    static Number signed_number(std::int64_t i) {
        Number n;
        n.negative = i < 0;
        n.magnitude = i < 0 ? 0 - static_cast<std::uint64_t>(i) : static_cast<std::uint64_t>(i);
        return n;
    }

    bool fail(std::string message) {
        if (m_error.empty()) m_error = std::move(message);
        return false;
    }

    bool wrong_type() {
        const Field k = m_key;
        const char* want = k == Field::Name || k == Field::Excluded ? "a string"
                           : k == Field::Hlnkc || k == Field::ReadError || k == Field::Notreg
                               ? "true or false"
                               : "a whole number";
        return fail(std::string("\"") + key_name(k) + "\" must be " + want);
    }

    // A scalar arrived; false when it is not allowed where it stands.
    bool scalar(const char* what) {
        if (m_stack.empty()) return fail("not a saved scan: the file is not a JSON array");
        const Ctx ctx = m_stack.back().ctx;
        if (ctx == Ctx::Folder)
            return fail(std::string("a folder holds ") + what +
                        " where an item (an object or an array) belongs");
        if (ctx == Ctx::Top) {
            if (m_top_index >= 2)
                return fail(m_top_index == 2   ? "the header object is missing"
                            : m_top_index == 3 ? "the root item must be an object or an array"
                                               : "the file goes on after its root item");
            // Major and minor version: handled by number(); nothing else fits.
            if (std::strcmp(what, "a number") != 0)
                return fail("not a saved scan: expected the format version number");
        }
        return true;
    }

    bool number(const Number& n) {
        if (!scalar("a number")) return false;
        const Ctx ctx = m_stack.back().ctx;
        if (ctx == Ctx::Top) {
            if (!n.whole || n.negative || n.too_large)
                return fail("not a saved scan: the version is not a whole number");
            if (m_top_index == 0 && n.magnitude != 1)
                return fail("unsupported format version " + std::to_string(n.magnitude) +
                            " (this program reads version 1)");
            ++m_top_index;
            return true;
        }
        if (ctx == Ctx::Skip || m_key == Field::Other || m_key == Field::Progname) return true;
        if (!n.whole || n.too_large) {
            if (!n.whole) return wrong_type();
            return fail(std::string("\"") + key_name(m_key) + "\" is too large");
        }
        const bool fits_signed = n.magnitude <= static_cast<std::uint64_t>(kInt64Max);
        const auto as_signed = [&] {
            return n.negative ? -static_cast<std::int64_t>(n.magnitude)
                              : static_cast<std::int64_t>(n.magnitude);
        };
        switch (m_key) {
        case Field::Asize:
        case Field::Dsize:
            if (n.negative && n.magnitude != 0)
                return fail(std::string("\"") + key_name(m_key) + "\" is negative");
            if (!fits_signed) return fail(std::string("\"") + key_name(m_key) + "\" is too large");
            (m_key == Field::Asize ? m_info.asize : m_info.dsize) = as_signed();
            return true;
        case Field::Mtime:
        case Field::Timestamp:
            if (!fits_signed) return fail(std::string("\"") + key_name(m_key) + "\" is too large");
            (m_key == Field::Mtime ? m_info.mtime : m_result.timestamp) = as_signed();
            return true;
        case Field::Dev:
        case Field::Ino:
        case Field::Nlink:
        case Field::Mode:
            if (n.negative && n.magnitude != 0)
                return fail(std::string("\"") + key_name(m_key) + "\" is negative");
            if (m_key == Field::Dev) {
                m_info.dev = n.magnitude;
                m_info.has_dev = true;
            } else if (m_key == Field::Ino) {
                m_info.ino = n.magnitude;
                m_info.has_ino = true;
            } else if (m_key == Field::Nlink) {
                m_info.nlink = n.magnitude;
            } else {
                m_info.mode = static_cast<std::uint32_t>(n.magnitude);
                m_info.has_mode = true;
            }
            return true;
        default:
            return wrong_type();
        }
    }

    bool open(bool array) {
        if (m_stack.size() >= kMaxDepth)
            return fail("nesting deeper than " + std::to_string(kMaxDepth) + " levels");
        if (m_stack.empty()) {
            if (!array) return fail("not a saved scan: the file is not a JSON array");
            m_stack.push_back({Ctx::Top});
            return true;
        }
        Frame& top = m_stack.back();
        Ctx next = Ctx::Skip;
        switch (top.ctx) {
        case Ctx::Top:
            if (m_top_index < 2)
                return fail("not a saved scan: expected the format version number");
            if (m_top_index == 2) {
                if (array) return fail("the header must be an object");
                next = Ctx::Header;
            } else if (m_top_index == 3) {
                next = array ? Ctx::Folder : Ctx::ItemInfo;
            } else {
                return fail("the file goes on after its root item");
            }
            break;
        case Ctx::Folder:
            if (!top.info_seen) {
                if (array) return fail("a folder's array must begin with its info object");
                next = Ctx::FolderInfo;
                top.info_seen = true;
            } else {
                next = array ? Ctx::Folder : Ctx::ItemInfo;
            }
            break;
        case Ctx::FolderInfo:
        case Ctx::ItemInfo:
        case Ctx::Header:
            if (m_key != Field::Other && m_key != Field::Progname && m_key != Field::Timestamp)
                return wrong_type();
            next = Ctx::Skip;
            break;
        case Ctx::Skip:
            break;
        }
        if (next == Ctx::FolderInfo || next == Ctx::ItemInfo) {
            m_info = Info{};
            m_key = Field::Other;
        }
        m_stack.push_back({next});
        return true;
    }

    bool close() {
        const Ctx ctx = m_stack.back().ctx;
        m_stack.pop_back();
        if (!m_stack.empty() && m_stack.back().ctx == Ctx::Top) ++m_top_index;
        if (ctx == Ctx::Skip || ctx == Ctx::Header) m_key = Field::Other;
        return true;
    }

    // Adds `bytes` to the file's running total; false past what int64 holds.
    bool count(std::int64_t bytes) {
        if (bytes > kInt64Max - m_total) return fail("sizes add up to more than 8 EiB");
        m_total += bytes;
        return true;
    }

    // Occupied bytes; writers leave "dsize" out when it is 0.
    std::int64_t occupied() const { return std::max<std::int64_t>(0, m_info.dsize); }

    // Display name, path and repair flag of the item in m_info.
    void place(std::string& name, std::string& path, bool& repaired) const {
        const bool valid = su::is_valid_utf8(m_info.name);
        if (m_folders.empty()) {
            const std::string root = scanner::normalize_root(su::sanitize_utf8(m_info.name));
            path = root;
            name = root == "/" ? "/" : su::basename_of(root);
            repaired = !valid;
            return;
        }
        name = valid ? m_info.name : su::sanitize_utf8(m_info.name);
        path = su::join_path(m_folders.back().path, name);
        repaired = m_folders.back().repaired || !valid;
    }

    std::uint64_t dev_of_item() const {
        if (m_info.has_dev) return m_info.dev;
        return m_folders.empty() ? 0 : m_folders.back().dev;
    }

    bool begin_folder() {
        scanner::TreeBuilder::Folder f;
        bool repaired = false;
        place(f.name, f.path, repaired);
        f.own_size = occupied();
        f.modified = m_info.mtime;
        f.is_junk = junk::is_junk(f.name, f.path);
        f.denied = m_info.read_error;
        f.skipped = m_info.excluded;
        f.read_only = true;
        f.repaired = repaired;
        if (!f.skipped && !count(f.own_size)) return false;
        if (f.denied) ++m_result.denied;
        if (f.skipped) ++m_result.skipped;
        m_folders.push_back({f.path, dev_of_item(), repaired});
        m_builder.open_folder(std::move(f));
        return true;
    }

    bool add_item() {
        if (m_info.excluded) {
            // Not entered when saved: an empty folder flagged as not entered,
            // as the scan shows a mount it skipped.
            if (!begin_folder()) return false;
            m_builder.close_folder();
            m_folders.pop_back();
            return true;
        }
        std::string name;
        std::string path;
        bool repaired = false;
        place(name, path, repaired);
        const std::int64_t size = occupied();
        if (!count(size)) return false;
        if (m_folders.empty()) {
            // The saved scan is of one file: a root folder would misstate it.
            m_single = std::make_shared<FileNode>();
            m_single->id = FileNode::next_id();
            m_single->name = name;
            m_single->path = path;
            m_single->size = size;
            m_single->file_count = 1;
            m_single->modified = m_info.mtime;
            m_single->category = category::classify_file(name, mode());
            m_single->is_readonly = true;
            m_single->path_repaired = repaired;
            m_single->seal();
            return true;
        }
        scanner::TreeBuilder::Leaf leaf;
        leaf.name = name;
        leaf.size = size;
        leaf.modified = m_info.mtime;
        leaf.category = category::classify_file(name, mode());
        leaf.is_junk = junk::is_junk(name, path);
        leaf.repaired = repaired;
        leaf.linked = m_info.has_ino && (m_info.hlnkc || m_info.nlink > 1);
        leaf.dev = dev_of_item();
        leaf.ino = m_info.ino;
        m_builder.add_leaf(leaf);
        return true;
    }

    mode_t mode() const {
        if (m_info.has_mode) return static_cast<mode_t>(m_info.mode);
        return m_info.notreg ? 0 : (S_IFREG | 0644);
    }

    Result& m_result;
    scanner::TreeBuilder m_builder;
    std::vector<Frame> m_stack;
    std::vector<OpenFolder> m_folders;
    std::size_t m_top_index = 0; // elements of the top array seen
    Field m_key = Field::Other;
    Info m_info;
    std::shared_ptr<FileNode> m_single; // a saved scan of one file
    std::int64_t m_total = 0;
    std::string m_error;
};

// A clearer word than "invalid value" for files that are compressed.
const char* compressed_kind(std::string_view head) {
    if (head.size() >= 4 && head.substr(0, 4) == "\x28\xB5\x2F\xFD") return "zstd";
    if (head.size() >= 2 && head.substr(0, 2) == "\x1F\x8B") return "gzip";
    return nullptr;
}

template <class Stream>
Result run(Stream& stream, std::size_t length, std::string_view head, const Options& options) {
    Result result;
    if (const char* kind = compressed_kind(head)) {
        result.error =
            std::string("the file is ") + kind + "-compressed; decompress it first (at byte 0)";
        return result;
    }
    Handler handler(options, result);
    rapidjson::Reader reader;
    const rapidjson::ParseResult ok = reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler);
    if (ok) {
        result.root = handler.finish();
        if (!result.root)
            result.error = "the file holds no root item (at byte " + std::to_string(length) + ")";
        return result;
    }
    const std::size_t at = ok.Offset();
    std::string what;
    if (ok.Code() == rapidjson::kParseErrorTermination)
        what = handler.error();
    else if (ok.Code() == rapidjson::kParseErrorDocumentEmpty)
        what = "the file is empty";
    else if (at >= length ||
             (length == std::numeric_limits<std::size_t>::max() && stream.Peek() == '\0'))
        what = "the file ends too early (cut off while it was written?)";
    else
        what = std::string("not valid JSON: ") + rapidjson::GetParseError_En(ok.Code());
    if (!what.empty() && what.back() == '.') what.pop_back();
    result.error = what + " (at byte " + std::to_string(at) + ")";
    return result;
}

} // namespace

Result parse(std::string_view json, Options options) {
    rapidjson::MemoryStream stream(json.data(), json.size());
    return run(stream, json.size(), json.substr(0, 4), options);
}

Result load_file(const std::string& path, Options options) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    // "-" reads standard input: a saved scan piped from another machine.
    const bool from_stdin = path == "-";
    const std::unique_ptr<std::FILE, Closer> file(from_stdin ? ::fdopen(::dup(STDIN_FILENO), "rb")
                                                             : std::fopen(path.c_str(), "rbe"));
    Result failed;
    if (!file) {
        failed.error = "cannot open " + path + ": " + std::strerror(errno);
        return failed;
    }
    struct stat st {};
    if (::fstat(::fileno(file.get()), &st) != 0 || S_ISDIR(st.st_mode)) {
        failed.error = path + " is a folder, not a saved scan";
        return failed;
    }
    std::vector<char> buffer(1 << 16);
    rapidjson::FileReadStream stream(file.get(), buffer.data(), buffer.size());
    const char* first = stream.Peek4(); // without consuming: pipes cannot rewind
    const std::string_view head =
        first != nullptr ? std::string_view(first, 4) : std::string_view();
    const std::size_t length = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size)
                                                   : std::numeric_limits<std::size_t>::max();
    Result result = run(stream, length, head, options);
    if (std::ferror(file.get())) {
        result.root.reset();
        result.error = "cannot read " + path + ": " + std::strerror(errno);
    }
    return result;
}

} // namespace tree_import
