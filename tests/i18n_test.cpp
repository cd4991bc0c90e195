// The translator: lookup, formatting with arguments, and choosing the language
// from the environment. The catalogue's own invariants (key order, placeholders,
// mnemonics, every language complete) are enforced by scripts/gen_i18n.py.
#include "i18n.h"
#include "format.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "i18n_data.h"
#include "child_process.h"

using testing_support::run_in_child;
using V = std::vector<std::string>;

namespace {

// Each test owns the singleton's language for its duration.
class I18nTest : public ::testing::Test {
protected:
    I18n& t = I18n::instance();
    void TearDown() override { t.set_language("en"); }
};

} // namespace

TEST_F(I18nTest, TranslatesKnownKeysFormatsAndHandsBackUnknownOnes) {
    t.set_language("de");
    EXPECT_STREQ(t.tr("Zoom in"), "Hineinzoomen");
    // Keys at both ends of the sorted array are found too.
    const auto& de = i18n_data::LANGS[i18n_rules::index_of_code("de")];
    for (std::size_t i : {std::size_t{0}, i18n_data::KEY_COUNT - 1})
        EXPECT_EQ(t.tr(i18n_data::KEYS[i]), de.values[i]);
    // "!" sorts before every key, U+10FFFF after; a prefix of a key is not the key.
    for (const std::string unknown : {"zoom in", "!", "\xF4\x8F\xBF\xBF", "Zoom", ""})
        EXPECT_EQ(t.tr(unknown.c_str()), unknown.c_str()) << unknown;
    EXPECT_EQ(t.tr(nullptr), nullptr);

    t.set_language("he");
    EXPECT_EQ(t.effective_language(), "he");
    EXPECT_TRUE(t.is_rtl());
    EXPECT_STREQ(t.tr("&File"), "קובץ(&F)");
    for (const char* code : {"xx", "DE"}) { // codes are case-sensitive
        t.set_language(code);
        EXPECT_EQ(t.language(), code);
        EXPECT_EQ(t.effective_language(), "en");
        EXPECT_FALSE(t.is_rtl());
    }
    // The translated pattern is formatted; an unknown key is its own pattern.
    t.set_language("de");
    EXPECT_EQ(t.trf("%s files", "1.234"), "1.234 Dateien");
    t.set_language("en");
    EXPECT_EQ(t.trf("%s and %s", "a", "b"), "a and b");
}

TEST(LocaleNames, VariantsMostSpecificFirstAndTheFirstSetVariableWins) {
    EXPECT_EQ(i18n_rules::locale_variants("de_DE.UTF-8@euro"),
              (V{"de_DE.UTF-8@euro", "de_DE@euro", "de.UTF-8@euro", "de@euro", "de_DE.UTF-8",
                 "de_DE", "de.UTF-8", "de"}));
    EXPECT_EQ(i18n_rules::locale_variants("sr@latin"), (V{"sr@latin", "sr"}));
    EXPECT_EQ(i18n_rules::locale_variants("fr"), (V{"fr"}));
    EXPECT_EQ(i18n_rules::locale_names("", "", "", ""), (V{"C", "C"}));
    EXPECT_EQ(i18n_rules::locale_names("", "", "", "pt_BR"), (V{"pt_BR", "pt", "C"}));
    // LANGUAGE is a colon-separated preference list; empty pieces are skipped.
    EXPECT_EQ(i18n_rules::locale_names("ko::nl_BE", "fr_FR", "it_IT", "es_ES"),
              (V{"ko", "nl_BE", "nl", "C"}));
    EXPECT_EQ(i18n_rules::locale_names("", "fr_FR", "it_IT", "es_ES"), (V{"fr_FR", "fr", "C"}));
}

TEST(DetectSystemLanguage, AutoFollowsTheEnvironmentInAChild) {
    // LANGUAGE, LC_ALL, LANG, and the language chosen.
    const std::array<const char*, 4> cases[] = {
        {nullptr, nullptr, "de_DE.UTF-8", "de"},
        {nullptr, nullptr, nullptr, "en"},
        {nullptr, nullptr, "sr@latin", "en"},
        {nullptr, nullptr, "C.UTF-8", "en"},
        {"xx_YY:nb_NO:ja_JP.eucJP", nullptr, "de_DE.UTF-8", "ja"},
        {nullptr, "fi_FI.UTF-8", "de_DE.UTF-8", "fi"},
        {nullptr, nullptr, "zh_TW@variant", "zh"},
        {"", "", "ko_KR.UTF-8", "ko"},
    };
    // "" reads as "auto": the environment decides.
    for (const auto& c : cases) {
        const int rc = run_in_child([&c] {
            ::unsetenv("LC_MESSAGES");
            for (int i = 0; i < 3; ++i) {
                const char* name = i == 0 ? "LANGUAGE" : i == 1 ? "LC_ALL" : "LANG";
                c[i] ? ::setenv(name, c[i], 1) : ::unsetenv(name);
            }
            I18n& t = I18n::instance();
            t.set_language("");
            return t.language() == "auto" && t.effective_language() == c[3];
        });
        EXPECT_EQ(rc, 0) << (c[2] ? c[2] : "(no LANG)") << " expected " << c[3];
    }
}

// The scan thread labels and formats while the user switches languages on the
// interface thread: every result is whole, in one language or another
// (ThreadSanitizer checks the reads themselves).
TEST_F(I18nTest, TrAndNumbersFromAnotherThreadWhileTheLanguageChanges) {
    std::set<std::string> allowed;
    for (const LanguageInfo& info : I18n::available()) {
        t.set_language(info.code);
        allowed.insert(tr("Small files"));
        allowed.insert(fmt::count(1234567));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0}, read{0};
    std::thread reader([&] {
        for (; !stop.load() || read.load() == 0; read.fetch_add(1))
            if (!allowed.count(tr("Small files")) || !allowed.count(fmt::count(1234567)))
                bad.fetch_add(1);
    });
    for (int round = 0; round < 200; ++round)
        for (const LanguageInfo& info : I18n::available())
            t.set_language(info.code);
    stop.store(true);
    reader.join();
    EXPECT_EQ(bad.load(), 0);
}
