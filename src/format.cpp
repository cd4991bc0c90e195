#include "format.h"

#include <cstdio>
#include <ctime>

#include "i18n.h"

namespace fmt {

namespace {

constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB"};

// The language's separators applied to a plain number text from snprintf
// (digits, at most one "." or "," as decimal mark, no sign).
std::string localize_number(const std::string& s) {
    const I18n::NumberFormat nf = I18n::instance().number_format();
    const std::size_t mark = s.find_first_of(".,");
    const std::string integer = s.substr(0, mark);
    const std::string fraction = mark == std::string::npos ? std::string() : s.substr(mark + 1);

    std::string out;
    const std::string group = nf.group;
    if (group.empty() || integer.size() < 4) {
        out = integer;
    } else {
        const std::size_t first = integer.size() % 3 == 0 ? 3 : integer.size() % 3;
        out.reserve(integer.size() + group.size() * (integer.size() / 3));
        for (std::size_t i = 0; i < integer.size(); ++i) {
            if (i >= first && (i - first) % 3 == 0) out += group;
            out += integer[i];
        }
    }
    if (!fraction.empty()) {
        out += nf.decimal;
        out += fraction;
    }
    return out;
}

std::string bytes_with(int64_t v, int decimals) {
    double value = v < 0 ? 0.0 : static_cast<double>(v);
    int unit = 0;
    while (value >= 1024.0 && unit < 5) {
        value *= 0.0009765625;
        ++unit;
    }
    // Picked before rounding and never re-normalised: 1023.999 KB is "1,024 KB".
    const int shown = unit < 2 ? 0 : decimals;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", shown, value);
    return localize_number(buf) + " " + kUnits[unit];
}

} // namespace

std::string bytes(int64_t v) {
    return bytes_with(v, 2);
}

std::string bytes_short(int64_t v) {
    return bytes_with(v, 1);
}

std::string count(int64_t n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n));
    std::string digits = buf;
    const bool negative = !digits.empty() && digits[0] == '-';
    if (negative) digits.erase(0, 1);
    std::string out = localize_number(digits);
    return negative ? "-" + out : out;
}

std::string files(int64_t n) {
    if (n == 1) return tr("1 file");
    return I18n::instance().trf("%s files", count(n).c_str());
}

std::string seconds(double s) {
    if (!(s >= 0.0)) s = 0.0; // negative, and NaN, count as nothing
    // Room for the widest double in "%.1f" (309 digits and ".0").
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.1f", s);
    return localize_number(buf) + " " + tr("s");
}

std::string date(int64_t t) {
    if (t == 0) return {};
    const std::time_t when = static_cast<std::time_t>(t);
    std::tm local{};
    if (!localtime_r(&when, &local)) return {};
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, I18n::instance().date_format(), &local);
    if (n == 0) return {};
    return std::string(buf, n);
}

} // namespace fmt
