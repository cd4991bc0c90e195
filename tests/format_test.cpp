// Sizes, counts, durations and dates in the languages whose separators differ:
// English, German, French (U+202F groups), Portuguese (no groups).
#include "format.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "i18n.h"
#include "child_process.h"

using testing_support::run_in_child;

namespace {

const std::string NNBSP = "\xE2\x80\xAF"; // U+202F NARROW NO-BREAK SPACE

class FormatTest : public ::testing::Test {
protected:
    void use(const char* code) { I18n::instance().set_language(code); }
    void TearDown() override { use("en"); }
};

} // namespace

TEST_F(FormatTest, SizesCountsAndFilesPerLanguage) {
    constexpr int64_t PB = int64_t{1} << 50;
    const std::tuple<const char*, std::string (*)(int64_t), int64_t, std::string> cases[] = {
        {"en", fmt::bytes, 0, "0 B"},
        {"en", fmt::bytes, INT64_MIN, "0 B"},
        {"en", fmt::bytes, 1024, "1 KB"},
        {"en", fmt::bytes, 1536, "2 KB"},        // exact half rounds to even
        {"en", fmt::bytes, 1048575, "1,024 KB"}, // unit chosen before rounding
        {"en", fmt::bytes, 1572864, "1.50 MB"},
        {"en", fmt::bytes_short, 1572864, "1.5 MB"},
        {"en", fmt::bytes, 1024 * PB, "1,024.00 PB"}, // no unit past PB
        {"en", fmt::bytes, INT64_MAX, "8,192.00 PB"},
        {"en", fmt::count, 1234567, "1,234,567"},
        {"en", fmt::count, -1234, "-1,234"},
        {"en", fmt::count, INT64_MIN, "-9,223,372,036,854,775,808"},
        {"en", fmt::files, 1, "1 file"},
        {"en", fmt::files, 12345, "12,345 files"},
        {"de", fmt::bytes, 1572864, "1,50 MB"},
        {"de", fmt::bytes, 1024 * PB, "1.024,00 PB"},
        {"de", fmt::files, 12345, "12.345 Dateien"},
        {"fr", fmt::bytes, 1048575, "1" + NNBSP + "024 KB"},
        {"pt", fmt::bytes, 1048575, "1024 KB"},
        {"pt", fmt::files, 12345, "12345 ficheiros"},
    };
    for (const auto& [code, fn, value, expected] : cases) {
        use(code);
        EXPECT_EQ(fn(value), expected) << code << " " << value;
    }
}

TEST_F(FormatTest, SecondsKeepOneDecimalAndTheLocalUnit) {
    const std::tuple<const char*, double, std::string> rows[] = {
        {"en", -1.0, "0.0 s"},         {"en", 3.25, "3.2 s"},    // exact half, to even
        {"en", 3.75, "3.8 s"},         {"en", 125.0, "125.0 s"}, // never minutes
        {"en", 12345.6, "12,345.6 s"}, {"de", 3.25, "3,2 s"},
        {"de", 12345.6, "12.345,6 s"}, {"fr", 12345.6, "12" + NNBSP + "345,6 s"},
        {"pt", 12345.6, "12345,6 s"},  {"ru", 3.4, "3,4 с"},
        {"ja", 3.4, "3.4 秒"},         {"hu", 1.0, "1,0 mp"},
    };
    for (const auto& [code, value, expected] : rows) {
        use(code);
        EXPECT_EQ(fmt::seconds(value), expected) << code << " " << value;
    }
    use("en");
    EXPECT_EQ(fmt::seconds(std::nan("")), "0.0 s");
    // The widest double still comes out whole.
    const std::string huge = fmt::seconds(1e300);
    EXPECT_EQ(huge.size(), 301u + 100u + std::string(".0 s").size()) << huge;
    EXPECT_EQ(huge.substr(0, 8), "1,000,00");
}

TEST_F(FormatTest, DatesFollowTheLanguagePatternInLocalTime) {
    EXPECT_EQ(run_in_child([] {
                  ::setenv("TZ", "UTC", 1);
                  ::tzset();
                  const std::pair<const char*, const char*> rows[] = {
                      {"en", "12/24/25"}, {"de", "24.12.25"}, {"sv", "25-12-24"},
                      {"ja", "25/12/24"}, {"fr", "24/12/25"}, {"nl", "24-12-25"},
                  };
                  for (const auto& [code, expected] : rows) {
                      I18n::instance().set_language(code);
                      EXPECT_EQ(fmt::date(1766577600), expected) << code; // 2025-12-24 12:00 UTC
                  }
                  I18n::instance().set_language("en");
                  EXPECT_EQ(fmt::date(0), "");
                  EXPECT_EQ(fmt::date(-86400), "12/31/69"); // before the epoch is still a date
                  // The zone is applied: 23:30 UTC is the next day in Tokyo (a POSIX
                  // zone needs no time-zone database).
                  ::setenv("TZ", "JST-9", 1);
                  ::tzset();
                  EXPECT_EQ(fmt::date(1766619000), "12/25/25");
              }),
              0);
}
