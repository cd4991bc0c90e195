// The process-wide translator and the language table.
//
// Every user-visible text is an English catalogue key passed through tr() or
// trf(). The catalogue (i18n_data.h) is constant and never freed, so the
// pointers tr() returns stay valid for the life of the program; for a key that
// is not in the catalogue tr() hands back the caller's own pointer.
//
// Threads: set_language() runs on the user-interface thread only. tr() may be
// called from any thread at any time (the scan thread labels "Small files"
// while the user may be switching languages): it reads nothing but the
// language index, which is one atomic value; so do number_format() and
// date_format(), which the fmt formatters use from any thread. The other
// getters read fields that set_language() writes and belong to the
// user-interface thread.
//
// The system language comes from LANGUAGE, LC_ALL, LC_MESSAGES and LANG,
// expanded into an ordered list of locale names the way GLib does; no GLib or
// GTK is needed here.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct LanguageInfo {
    std::string code;
    std::string native_name;
    bool rtl = false;
};

class I18n {
public:
    // Both point into constant storage; `group` may be "" (no grouping).
    struct NumberFormat {
        const char* decimal;
        const char* group;
    };

    // Created on first use with the system language in force.
    static I18n& instance();

    // "auto" (or "") follows the system; an unknown code falls back to English
    // while language() keeps what was asked for.
    void set_language(const std::string& setting);

    const std::string& language() const { return m_setting; }
    const std::string& effective_language() const { return m_code; }
    bool is_rtl() const { return m_rtl; }

    // The translation, or `key` itself (same pointer) when it is null, empty
    // or unknown. Allocates nothing.
    const char* tr(const char* key) const;

    // tr(key) used as a printf pattern over `const char*` arguments, one per
    // "%s". When formatting fails the translated pattern comes back as is.
    std::string trf(const char* key, ...) const __attribute__((format(printf, 2, 3)));

    const char* ui_font_family() const { return "sans-serif"; }
    static const char* mono_font_family() { return "monospace"; }

    NumberFormat number_format() const;
    // strftime pattern of a short date with a two-digit year.
    const char* date_format() const;

    // The languages in menu order (the order of the stored index).
    static std::vector<LanguageInfo> available();

    // The first supported language in the environment's locale list, else "en".
    static std::string detect_system_language();

    I18n(const I18n&) = delete;
    I18n& operator=(const I18n&) = delete;

private:
    I18n();

    std::string m_setting = "auto";
    std::string m_code = "en";
    bool m_rtl = false;
    // Read by tr() from any thread; written as a whole by set_language().
    std::atomic<int32_t> m_lang_index{0};
};

// Shorthand for I18n::instance().tr(key).
const char* tr(const char* key);

// The pure rules behind detect_system_language(), with the environment passed in.
namespace i18n_rules {

// The ordered list of locale names GLib derives from the environment: the
// first non-empty of LANGUAGE, LC_ALL, LC_MESSAGES and LANG, split at ":",
// each name "ll_CC.codeset@mod" followed by its reductions (ll_CC@mod,
// ll.codeset@mod, ll@mod, ll_CC.codeset, ll_CC, ll.codeset, ll), and finally
// "C".
std::vector<std::string> locale_names(std::string_view language, std::string_view lc_all,
                                      std::string_view lc_messages, std::string_view lang);

// All reductions of one locale name, most specific first.
std::vector<std::string> locale_variants(std::string_view name);

// The first name whose language part ("de_DE.UTF-8" -> "de_DE", then "de") is
// a supported code; "en" when none is.
std::string language_from_locale_names(const std::vector<std::string>& names);

// Index of `code` in the language table (exact, case-sensitive), or -1.
int index_of_code(std::string_view code);

} // namespace i18n_rules
