// The translator: lookup, formatting with arguments, and choosing the language
// from the environment. The catalogue's own invariants (key order, placeholders,
// mnemonics, every language complete) are enforced by scripts/gen_i18n.py.
#include "i18n.h"

#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "i18n_data.h"
#include "child_process.h"
#include "temp_tree.h"

using testing_support::run_in_child;

namespace {

// The pattern with each "%s" replaced by the next argument.
std::string substitute(std::string pattern, const std::vector<std::string>& args) {
    std::size_t from = 0;
    for (const std::string& a : args) {
        const std::size_t at = pattern.find("%s", from);
        if (at == std::string::npos) break;
        pattern.replace(at, 2, a);
        from = at + a.size();
    }
    return pattern;
}

// Each test owns the singleton's language for its duration.
class I18nTest : public ::testing::Test {
protected:
    void TearDown() override { I18n::instance().set_language("en"); }
};

} // namespace

TEST_F(I18nTest, TrTranslatesKnownKeysAndHandsBackUnknownOnes) {
    I18n& t = I18n::instance();
    t.set_language("de");
    EXPECT_STREQ(t.tr("Zoom in"), "Hineinzoomen");
    EXPECT_STREQ(tr("E&xit"), "&Beenden");
    // Keys at both ends of the sorted array.
    EXPECT_STREQ(t.tr(i18n_data::KEYS[0]), i18n_data::LANGS[3].values[0]);
    EXPECT_STREQ(t.tr(i18n_data::KEYS[i18n_data::KEY_COUNT - 1]),
                 i18n_data::LANGS[3].values[i18n_data::KEY_COUNT - 1]);

    const char* unknown = "zoom in";
    EXPECT_EQ(t.tr(unknown), unknown);
    const std::string before_first = "!"; // sorts before every key
    EXPECT_EQ(t.tr(before_first.c_str()), before_first.c_str());
    const std::string after_last = "\xF4\x8F\xBF\xBF";
    EXPECT_EQ(t.tr(after_last.c_str()), after_last.c_str());
    const std::string prefix = "Zoom"; // a prefix of a key is not the key
    EXPECT_EQ(t.tr(prefix.c_str()), prefix.c_str());
    EXPECT_EQ(t.tr(nullptr), nullptr);
    const char* empty = "";
    EXPECT_EQ(t.tr(empty), empty);
}

TEST_F(I18nTest, SetLanguageSettingAndFallback) {
    I18n& t = I18n::instance();
    t.set_language("he");
    EXPECT_EQ(t.language(), "he");
    EXPECT_EQ(t.effective_language(), "he");
    EXPECT_TRUE(t.is_rtl());
    EXPECT_STREQ(t.tr("&File"), "קובץ(&F)");

    t.set_language("xx");
    EXPECT_EQ(t.language(), "xx");
    EXPECT_EQ(t.effective_language(), "en");
    EXPECT_FALSE(t.is_rtl());

    t.set_language("DE"); // codes are case-sensitive
    EXPECT_EQ(t.effective_language(), "en");
    EXPECT_EQ(i18n_rules::index_of_code("DE"), -1);
    EXPECT_EQ(i18n_rules::index_of_code("zh"), 21);
}

TEST_F(I18nTest, AutoAndEmptyFollowTheEnvironment) {
    const int rc = run_in_child([] {
        ::setenv("LANGUAGE", "sv_SE", 1);
        I18n& t = I18n::instance();
        t.set_language("");
        if (t.language() != "auto" || t.effective_language() != "sv") return false;
        ::setenv("LANGUAGE", "ar", 1);
        t.set_language("auto");
        return t.language() == "auto" && t.effective_language() == "ar" && t.is_rtl();
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(I18nTest, TrfFormatsTheTranslatedPattern) {
    I18n& t = I18n::instance();
    t.set_language("de");
    EXPECT_EQ(t.trf("%s files", "1.234"), "1.234 Dateien");
    t.set_language("en");
    EXPECT_EQ(t.trf("%s used · %s free of %s", "1 GB", "2 GB", "3 GB"),
              "1 GB used · 2 GB free of 3 GB");
    // An unknown key is its own pattern.
    EXPECT_EQ(t.trf("%s and %s", "a", "b"), "a and b");
    // Every language fills the placeholders in order, whatever the words around them.
    for (const LanguageInfo& info : I18n::available()) {
        t.set_language(info.code);
        const char* key = "%s problem(s) · %s expected, skipped";
        EXPECT_EQ(t.trf(key, "3", "4"), substitute(t.tr(key), {"3", "4"})) << info.code;
    }
}

TEST_F(I18nTest, NumberSeparatorsAndDatePatterns) {
    I18n& t = I18n::instance();
    struct Row {
        const char* code;
        const char* decimal;
        const char* group;
        const char* date;
    };
    const Row rows[] = {
        {"en", ".", ",", "%m/%d/%y"},
        {"de", ",", ".", "%d.%m.%y"},
        {"fr", ",", "\xE2\x80\xAF", "%d/%m/%y"},
        {"pt", ",", "", "%d/%m/%y"},
        {"sv", ",", "\xE2\x80\xAF", "%y-%m-%d"},
    };
    for (const Row& r : rows) {
        t.set_language(r.code);
        SCOPED_TRACE(r.code);
        EXPECT_STREQ(t.number_format().decimal, r.decimal);
        EXPECT_STREQ(t.number_format().group, r.group);
        EXPECT_STREQ(t.date_format(), r.date);
    }
}

TEST(LocaleNames, VariantsMostSpecificFirst) {
    using V = std::vector<std::string>;
    EXPECT_EQ(i18n_rules::locale_variants("de_DE.UTF-8@euro"),
              (V{"de_DE.UTF-8@euro", "de_DE@euro", "de.UTF-8@euro", "de@euro", "de_DE.UTF-8",
                 "de_DE", "de.UTF-8", "de"}));
    EXPECT_EQ(i18n_rules::locale_variants("pt_BR.UTF-8"),
              (V{"pt_BR.UTF-8", "pt_BR", "pt.UTF-8", "pt"}));
    EXPECT_EQ(i18n_rules::locale_variants("sr@latin"), (V{"sr@latin", "sr"}));
    EXPECT_EQ(i18n_rules::locale_variants("fr"), (V{"fr"}));
}

TEST(LocaleNames, FirstSetVariableWinsAndCEndsTheList) {
    using V = std::vector<std::string>;
    EXPECT_EQ(i18n_rules::locale_names("", "", "", ""), (V{"C", "C"}));
    EXPECT_EQ(i18n_rules::locale_names("", "", "", "de_DE.UTF-8"),
              (V{"de_DE.UTF-8", "de_DE", "de.UTF-8", "de", "C"}));
    // LANGUAGE is a colon-separated preference list; empty pieces are skipped.
    EXPECT_EQ(i18n_rules::locale_names("ko::nl_BE", "fr_FR", "it_IT", "es_ES"),
              (V{"ko", "nl_BE", "nl", "C"}));
    EXPECT_EQ(i18n_rules::locale_names("", "fr_FR", "it_IT", "es_ES"), (V{"fr_FR", "fr", "C"}));
}

TEST(LocaleNames, LanguageFromTheList) {
    using V = std::vector<std::string>;
    struct Case {
        V names;
        const char* expected;
    };
    const Case cases[] = {
        {{"de_DE.UTF-8", "de_DE", "de", "C"}, "de"},
        {{"pt_BR.UTF-8", "pt_BR", "pt", "C"}, "pt"},
        {{"sr@latin", "C"}, "en"},
        {{"C.UTF-8", "C"}, "en"},
        {{"", "C", "xx_YY", "nb_NO", "ja_JP.eucJP"}, "ja"},
        {{"zh_TW@variant"}, "zh"},
        {{}, "en"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(i18n_rules::language_from_locale_names(c.names), c.expected)
            << (c.names.empty() ? "(empty)" : c.names.front());
}

TEST(DetectSystemLanguage, FromTheEnvironmentInAChild) {
    struct Case {
        const char* language;
        const char* lc_all;
        const char* lang;
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "de_DE.UTF-8", "de"},
        {nullptr, nullptr, "sr@latin", "en"},
        {nullptr, nullptr, nullptr, "en"},
        {nullptr, "fi_FI.UTF-8", "de_DE.UTF-8", "fi"},
        {"nb_NO:tr_TR", "fi_FI.UTF-8", "de_DE.UTF-8", "tr"},
        {"", "", "ko_KR.UTF-8", "ko"},
    };
    for (const Case& c : cases) {
        const int rc = run_in_child([&c] {
            for (const char* v : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
                ::unsetenv(v);
            if (c.language) ::setenv("LANGUAGE", c.language, 1);
            if (c.lc_all) ::setenv("LC_ALL", c.lc_all, 1);
            if (c.lang) ::setenv("LANG", c.lang, 1);
            return I18n::detect_system_language() == c.expected;
        });
        EXPECT_EQ(rc, 0) << (c.lang ? c.lang : "(no LANG)") << " expected " << c.expected;
    }
}

TEST_F(I18nTest, TrFromAnotherThreadWhileTheLanguageChanges) {
    std::set<std::string> allowed;
    for (const LanguageInfo& info : I18n::available()) {
        I18n::instance().set_language(info.code);
        allowed.insert(tr("Small files"));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop.load()) {
            if (!allowed.count(tr("Small files"))) bad.fetch_add(1);
        }
    });
    I18n& t = I18n::instance();
    for (int round = 0; round < 200; ++round)
        for (const LanguageInfo& info : I18n::available())
            t.set_language(info.code);
    stop.store(true);
    reader.join();
    EXPECT_EQ(bad.load(), 0);
}
