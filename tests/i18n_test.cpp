// The translator: the compiled catalogue's invariants in every language,
// lookup, formatting with arguments, and choosing the language from the
// environment.
#include "i18n.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "i18n_data.h"
#include "temp_tree.h"

using testing_support::run_in_child;

namespace {

// Every printf conversion in a text, in order ("%%" is no conversion).
std::vector<std::string> conversions(const char* text) {
    std::vector<std::string> out;
    for (const char* p = text; *p; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        std::string conv = "%";
        while (p[1] && !std::isalpha(static_cast<unsigned char>(p[1])))
            conv += *++p;
        if (p[1]) conv += *++p;
        out.push_back(conv);
    }
    return out;
}

int count_char(const char* text, char c) {
    int n = 0;
    for (const char* p = text; *p; ++p)
        n += *p == c;
    return n;
}

bool is_paren_language(const std::string& code) {
    return code == "ar" || code == "he" || code == "ja" || code == "ko" || code == "zh";
}

std::string first_word(const char* text) {
    const char* space = std::strchr(text, ' ');
    return space ? std::string(text, space) : std::string(text);
}

int key_index(const char* key) {
    for (std::size_t i = 0; i < i18n_data::KEY_COUNT; ++i)
        if (std::strcmp(i18n_data::KEYS[i], key) == 0) return static_cast<int>(i);
    return -1;
}

const char* value_of(const i18n_data::LangEntry& lang, const char* key) {
    const int i = key_index(key);
    return i < 0 ? nullptr : lang.values[i];
}

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

TEST(Catalogue, KeysAreUniqueAndInStrcmpOrder) {
    ASSERT_EQ(i18n_data::KEY_COUNT, 162u);
    for (std::size_t i = 1; i < i18n_data::KEY_COUNT; ++i)
        EXPECT_LT(std::strcmp(i18n_data::KEYS[i - 1], i18n_data::KEYS[i]), 0)
            << "at " << i << ": " << i18n_data::KEYS[i];
}

TEST(Catalogue, LanguageTableInMenuOrder) {
    struct Row {
        const char* code;
        const char* native;
        bool rtl;
    };
    const Row expected[] = {
        {"ar", "العربية", true},  {"cs", "Čeština", false},   {"da", "Dansk", false},
        {"de", "Deutsch", false}, {"el", "Ελληνικά", false},  {"en", "English", false},
        {"es", "Español", false}, {"fi", "Suomi", false},     {"fr", "Français", false},
        {"he", "עברית", true},    {"hu", "Magyar", false},    {"it", "Italiano", false},
        {"ja", "日本語", false},  {"ko", "한국어", false},    {"nl", "Nederlands", false},
        {"pl", "Polski", false},  {"pt", "Português", false}, {"ro", "Română", false},
        {"ru", "Русский", false}, {"sv", "Svenska", false},   {"tr", "Türkçe", false},
        {"zh", "中文", false},
    };
    ASSERT_EQ(std::size(expected), i18n_data::LANG_COUNT);
    const std::vector<LanguageInfo> available = I18n::available();
    ASSERT_EQ(available.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_STREQ(i18n_data::LANGS[i].code, expected[i].code);
        EXPECT_STREQ(i18n_data::LANGS[i].native_name, expected[i].native);
        EXPECT_EQ(i18n_data::LANGS[i].rtl, expected[i].rtl);
        EXPECT_EQ(available[i].code, expected[i].code);
        EXPECT_EQ(available[i].native_name, expected[i].native);
        EXPECT_EQ(available[i].rtl, expected[i].rtl);
    }
}

TEST(Catalogue, EnglishValuesAreTheKeys) {
    const i18n_data::LangEntry& en = i18n_data::LANGS[5];
    for (std::size_t i = 0; i < i18n_data::KEY_COUNT; ++i)
        EXPECT_STREQ(en.values[i], i18n_data::KEYS[i]);
}

TEST(Catalogue, EveryTranslationKeepsPlaceholdersAndMnemonics) {
    for (const i18n_data::LangEntry& lang : i18n_data::LANGS) {
        const std::string code = lang.code;
        for (std::size_t i = 0; i < i18n_data::KEY_COUNT; ++i) {
            const char* key = i18n_data::KEYS[i];
            const char* value = lang.values[i];
            SCOPED_TRACE(code + ": " + key);
            ASSERT_NE(value, nullptr);
            EXPECT_GT(std::strlen(value), 0u);
            EXPECT_EQ(conversions(value), conversions(key));
            const int amps = count_char(key, '&');
            ASSERT_EQ(count_char(value, '&'), amps) << value;
            if (amps == 0) continue;
            const char* amp = std::strchr(value, '&');
            if (is_paren_language(code)) {
                const char english = static_cast<char>(
                    std::toupper(static_cast<unsigned char>(std::strchr(key, '&')[1])));
                const std::string tail = std::string("(&") + english + ")";
                const std::string v = value;
                EXPECT_TRUE(v.size() > tail.size() && v.ends_with(tail)) << value;
            } else {
                // On a letter of the word: ASCII, or the lead byte of a
                // multi-byte letter (Greek, Cyrillic, accented Latin).
                const unsigned char next = static_cast<unsigned char>(amp[1]);
                EXPECT_TRUE(std::isalpha(next) || next >= 0xC0) << value;
            }
        }
    }
}

TEST(Catalogue, TellingRowsInEveryLanguage) {
    struct Row {
        const char* code;
        const char* file;
        const char* s;
        const char* small_files;
    };
    const Row rows[] = {
        {"ar", "ملف(&F)", "ث", "ملفات صغيرة"},
        {"cs", "&Soubor", "s", "Malé soubory"},
        {"da", "&Filer", "s", "Små filer"},
        {"de", "&Datei", "s", "Kleine Dateien"},
        {"el", "&Αρχείο", "δ", "Μικρά αρχεία"},
        {"en", "&File", "s", "Small files"},
        {"es", "&Archivo", "s", "Archivos pequeños"},
        {"fi", "&Tiedosto", "s", "Pienet tiedostot"},
        {"fr", "&Fichier", "s", "Petits fichiers"},
        {"he", "קובץ(&F)", "שנ׳", "קבצים קטנים"},
        {"hu", "&Fájl", "mp", "Kis fájlok"},
        {"it", "&File", "s", "File piccoli"},
        {"ja", "ファイル(&F)", "秒", "小さいファイル"},
        {"ko", "파일(&F)", "초", "작은 파일"},
        {"nl", "&Bestand", "s", "Kleine bestanden"},
        {"pl", "&Plik", "s", "Małe pliki"},
        {"pt", "&Ficheiro", "s", "Ficheiros pequenos"},
        {"ro", "&Fișier", "s", "Fișiere mici"},
        {"ru", "&Файл", "с", "Мелкие файлы"},
        {"sv", "&Arkiv", "s", "Små filer"},
        {"tr", "&Dosya", "sn", "Küçük dosyalar"},
        {"zh", "文件(&F)", "秒", "小文件"},
    };
    ASSERT_EQ(std::size(rows), i18n_data::LANG_COUNT);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const i18n_data::LangEntry& lang = i18n_data::LANGS[i];
        SCOPED_TRACE(lang.code);
        ASSERT_STREQ(lang.code, rows[i].code);
        EXPECT_STREQ(value_of(lang, "&File"), rows[i].file);
        EXPECT_STREQ(value_of(lang, "s"), rows[i].s);
        EXPECT_STREQ(value_of(lang, "Small files"), rows[i].small_files);
    }
}

TEST(Catalogue, DeleteKeyRowsStartWithTheLocalKeyName) {
    const std::set<std::string> key_names = {"Del", "Delete", "Entf", "Suppr", "Supr", "Canc"};
    for (const i18n_data::LangEntry& lang : i18n_data::LANGS) {
        SCOPED_TRACE(lang.code);
        const std::string mark = first_word(value_of(lang, "Del Mark for deletion"));
        const std::string unmark = first_word(value_of(lang, "Del Remove from delete list"));
        EXPECT_EQ(mark, unmark);
        EXPECT_TRUE(key_names.count(mark)) << mark;
    }
    struct Known {
        const char* code;
        const char* key;
    };
    for (const Known k : {Known{"de", "Entf"}, Known{"fr", "Suppr"}, Known{"ru", "Delete"},
                          Known{"ja", "Delete"}, Known{"en", "Del"}}) {
        const int i = i18n_rules::index_of_code(k.code);
        ASSERT_GE(i, 0);
        EXPECT_EQ(first_word(value_of(i18n_data::LANGS[i], "Del Mark for deletion")), k.key);
    }
}

TEST_F(I18nTest, TrTranslatesKnownKeysAndHandsBackUnknownOnes) {
    I18n& t = I18n::instance();
    t.set_language("de");
    EXPECT_STREQ(t.tr("Zoom in"), "Hineinzoomen");
    EXPECT_STREQ(tr("E&xit"), "&Beenden");
    // Keys at both ends of the sorted array.
    EXPECT_STREQ(t.tr("%s files"), "%s Dateien");
    EXPECT_STREQ(t.tr(i18n_data::KEYS[159]), i18n_data::LANGS[3].values[159]);

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
    const std::string long_name(10000, 'n');
    EXPECT_EQ(t.trf("“%s” is protected and cannot be moved to Trash.", long_name.c_str()),
              "“" + long_name + "” is protected and cannot be moved to Trash.");
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
        {"ru", ",", "\xE2\x80\xAF", "%d.%m.%y"},
        {"sv", ",", "\xE2\x80\xAF", "%y-%m-%d"},
        {"nl", ",", ".", "%d-%m-%y"},
        {"hu", ",", ".", "%y-%m-%d"},
        {"ja", ".", ",", "%y/%m/%d"},
        {"he", ".", ",", "%d/%m/%y"},
    };
    for (const Row& r : rows) {
        t.set_language(r.code);
        SCOPED_TRACE(r.code);
        EXPECT_STREQ(t.number_format().decimal, r.decimal);
        EXPECT_STREQ(t.number_format().group, r.group);
        EXPECT_STREQ(t.date_format(), r.date);
    }
    EXPECT_STREQ(t.ui_font_family(), "sans-serif");
    EXPECT_STREQ(I18n::mono_font_family(), "monospace");
}

TEST(LocaleNames, VariantsMostSpecificFirst) {
    using V = std::vector<std::string>;
    EXPECT_EQ(i18n_rules::locale_variants("de_DE.UTF-8@euro"),
              (V{"de_DE.UTF-8@euro", "de_DE@euro", "de.UTF-8@euro", "de@euro", "de_DE.UTF-8",
                 "de_DE", "de.UTF-8", "de"}));
    EXPECT_EQ(i18n_rules::locale_variants("pt_BR.UTF-8"),
              (V{"pt_BR.UTF-8", "pt_BR", "pt.UTF-8", "pt"}));
    EXPECT_EQ(i18n_rules::locale_variants("sr@latin"), (V{"sr@latin", "sr"}));
    EXPECT_EQ(i18n_rules::locale_variants("C.UTF-8"), (V{"C.UTF-8", "C"}));
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
    EXPECT_EQ(i18n_rules::locale_names("", "", "it_IT", "es_ES"), (V{"it_IT", "it", "C"}));
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
        {{"pt_BR"}, "pt"},
        {{"sr@latin", "C"}, "en"},
        {{"C.UTF-8", "C"}, "en"},
        {{"", "C", "xx_YY", "nb_NO", "ja_JP.eucJP"}, "ja"},
        {{"zh_TW@variant"}, "zh"},
        {{"DE_de"}, "en"},
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
        {nullptr, nullptr, "pt_BR.UTF-8", "pt"},
        {nullptr, nullptr, "sr@latin", "en"},
        {nullptr, nullptr, "C.UTF-8", "en"},
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
    for (const i18n_data::LangEntry& lang : i18n_data::LANGS)
        allowed.insert(value_of(lang, "Small files"));
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
