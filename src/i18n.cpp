#include "i18n.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "i18n_data.h"

namespace {

constexpr int kEnglish = 5;
static_assert(std::string_view(i18n_data::LANGS[kEnglish].code) == "en");

const char* env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

struct NumberRow {
    const char* code;
    I18n::NumberFormat format;
};

// U+202F NARROW NO-BREAK SPACE keeps grouped digits on one line.
constexpr const char* kNarrowSpace = "\xE2\x80\xAF";

constexpr NumberRow kNumberFormats[] = {
    {"de", {",", "."}}, {"en", {".", ","}},          {"fr", {",", kNarrowSpace}},
    {"es", {",", "."}}, {"it", {",", "."}},          {"pt", {",", ""}},
    {"nl", {",", "."}}, {"pl", {",", kNarrowSpace}}, {"cs", {",", kNarrowSpace}},
    {"hu", {",", "."}}, {"ro", {",", "."}},          {"sv", {",", kNarrowSpace}},
    {"da", {",", "."}}, {"fi", {",", kNarrowSpace}}, {"el", {",", "."}},
    {"tr", {",", "."}}, {"ru", {",", kNarrowSpace}}, {"ja", {".", ","}},
    {"zh", {".", ","}}, {"ko", {".", ","}},          {"ar", {".", ","}},
    {"he", {".", ","}},
};

struct DateRow {
    const char* code;
    const char* pattern;
};

constexpr DateRow kDateFormats[] = {
    {"de", "%d.%m.%y"}, {"pl", "%d.%m.%y"}, {"cs", "%d.%m.%y"}, {"ro", "%d.%m.%y"},
    {"fi", "%d.%m.%y"}, {"ru", "%d.%m.%y"}, {"en", "%m/%d/%y"}, {"fr", "%d/%m/%y"},
    {"es", "%d/%m/%y"}, {"it", "%d/%m/%y"}, {"pt", "%d/%m/%y"}, {"el", "%d/%m/%y"},
    {"he", "%d/%m/%y"}, {"ar", "%d/%m/%y"}, {"nl", "%d-%m-%y"}, {"da", "%d-%m-%y"},
    {"tr", "%d-%m-%y"}, {"hu", "%y-%m-%d"}, {"sv", "%y-%m-%d"}, {"ja", "%y/%m/%d"},
    {"zh", "%y/%m/%d"}, {"ko", "%y/%m/%d"},
};

} // namespace

namespace i18n_rules {

int index_of_code(std::string_view code) {
    for (std::size_t i = 0; i < i18n_data::LANG_COUNT; ++i)
        if (code == i18n_data::LANGS[i].code) return static_cast<int>(i);
    return -1;
}

std::vector<std::string> locale_variants(std::string_view name) {
    // name = language [_territory] [.codeset] [@modifier]
    const std::size_t uscore = name.find('_');
    const std::size_t dot = name.find('.', uscore == std::string_view::npos ? 0 : uscore);
    const std::size_t at = name.find(
        '@', dot != std::string_view::npos ? dot : (uscore != std::string_view::npos ? uscore : 0));
    const std::size_t end_mod = name.size();
    const std::size_t end_cs = at != std::string_view::npos ? at : end_mod;
    const std::size_t end_terr = dot != std::string_view::npos ? dot : end_cs;
    const std::size_t end_lang = uscore != std::string_view::npos ? uscore : end_terr;

    enum : unsigned { Codeset = 1, Territory = 2, Modifier = 4 };
    unsigned mask = 0;
    std::string_view modifier, codeset, territory;
    if (at != std::string_view::npos) {
        mask |= Modifier;
        modifier = name.substr(at);
    }
    if (dot != std::string_view::npos) {
        mask |= Codeset;
        codeset = name.substr(dot, end_cs - dot);
    }
    if (uscore != std::string_view::npos) {
        mask |= Territory;
        territory = name.substr(uscore, end_terr - uscore);
    }
    const std::string_view lang = name.substr(0, end_lang);

    // Most specific first: every subset of the present parts, in descending
    // bit order (modifier outranks territory outranks codeset).
    std::vector<std::string> out;
    for (unsigned j = 0; j <= mask; ++j) {
        const unsigned i = mask - j;
        if ((i & ~mask) != 0) continue;
        std::string v(lang);
        if (i & Territory) v += territory;
        if (i & Codeset) v += codeset;
        if (i & Modifier) v += modifier;
        out.push_back(std::move(v));
    }
    return out;
}

std::vector<std::string> locale_names(std::string_view language, std::string_view lc_all,
                                      std::string_view lc_messages, std::string_view lang) {
    std::string_view value = "C";
    for (std::string_view v : {language, lc_all, lc_messages, lang}) {
        if (!v.empty()) {
            value = v;
            break;
        }
    }
    std::vector<std::string> names;
    while (true) {
        const std::size_t colon = value.find(':');
        const std::string_view piece = value.substr(0, colon);
        if (!piece.empty())
            for (std::string& v : locale_variants(piece))
                names.push_back(std::move(v));
        if (colon == std::string_view::npos) break;
        value.remove_prefix(colon + 1);
    }
    names.emplace_back("C");
    return names;
}

std::string language_from_locale_names(const std::vector<std::string>& names) {
    for (const std::string& full : names) {
        if (full.empty() || full == "C") continue;
        std::string_view name = full;
        name = name.substr(0, name.find('.'));
        name = name.substr(0, name.find('@'));
        if (index_of_code(name) >= 0) return std::string(name);
        const std::size_t uscore = name.find('_');
        if (uscore != std::string_view::npos) {
            const std::string_view base = name.substr(0, uscore);
            if (index_of_code(base) >= 0) return std::string(base);
        }
    }
    return "en";
}

} // namespace i18n_rules

I18n::I18n() {
    set_language("auto");
}

I18n& I18n::instance() {
    static I18n translator;
    return translator;
}

void I18n::set_language(const std::string& setting) {
    m_setting = setting.empty() ? std::string("auto") : setting;
    const std::string candidate = m_setting == "auto" ? detect_system_language() : m_setting;
    int index = i18n_rules::index_of_code(candidate);
    if (index < 0) index = kEnglish;
    const i18n_data::LangEntry& row = i18n_data::LANGS[index];
    m_code = row.code;
    m_rtl = row.rtl;
    m_lang_index.store(index, std::memory_order_relaxed);
}

const char* I18n::tr(const char* key) const {
    if (!key || !*key) return key;
    const char* const* begin = i18n_data::KEYS;
    const char* const* end = begin + i18n_data::KEY_COUNT;
    const char* const* it = std::lower_bound(
        begin, end, key, [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
    if (it == end || std::strcmp(*it, key) != 0) return key;
    const int lang = m_lang_index.load(std::memory_order_relaxed);
    return i18n_data::LANGS[lang].values[it - begin];
}

std::string I18n::trf(const char* key, ...) const {
    const char* pattern = tr(key);
    if (!pattern) return {};
    va_list args;
    va_start(args, key);
    // The measuring pass consumes its own copy: a va_list may be walked once.
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, measure);
    va_end(measure);
    if (length < 0) {
        va_end(args);
        return pattern;
    }
    std::string out(static_cast<std::size_t>(length) + 1, '\0');
    const int written = std::vsnprintf(out.data(), out.size(), pattern, args);
    va_end(args);
    if (written < 0) return pattern;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// Both read the language through the atomic index, never m_code: the
// formatters run on the scan thread while the user may switch languages.
I18n::NumberFormat I18n::number_format() const {
    const std::string_view code =
        i18n_data::LANGS[m_lang_index.load(std::memory_order_relaxed)].code;
    for (const NumberRow& row : kNumberFormats)
        if (code == row.code) return row.format;
    return {".", ","};
}

const char* I18n::date_format() const {
    const std::string_view code =
        i18n_data::LANGS[m_lang_index.load(std::memory_order_relaxed)].code;
    for (const DateRow& row : kDateFormats)
        if (code == row.code) return row.pattern;
    return "%m/%d/%y";
}

std::vector<LanguageInfo> I18n::available() {
    std::vector<LanguageInfo> out;
    out.reserve(i18n_data::LANG_COUNT);
    for (const i18n_data::LangEntry& row : i18n_data::LANGS)
        out.push_back({row.code, row.native_name, row.rtl});
    return out;
}

std::string I18n::detect_system_language() {
    return i18n_rules::language_from_locale_names(
        i18n_rules::locale_names(env_or_empty("LANGUAGE"), env_or_empty("LC_ALL"),
                                 env_or_empty("LC_MESSAGES"), env_or_empty("LANG")));
}

const char* tr(const char* key) {
    return I18n::instance().tr(key);
}
