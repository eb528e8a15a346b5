#include "conversion/script/float_literal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tsry {
namespace {

std::uint32_t Bits(float value) { return std::bit_cast<std::uint32_t>(value); }

// `value` as the game writes a float: nine decimals, padded with spaces to 18
// characters.
std::string GameText(float value) {
    char digits[64];
    const auto [end, error] = std::to_chars(
        digits, digits + sizeof digits, static_cast<double>(value), std::chars_format::fixed, 9);
    const std::string text(digits, end);
    return std::string(text.size() < 18 ? 18 - text.size() : 0, ' ') + text;
}

// The digits after the point.
std::size_t FractionDigits(const std::string& literal) {
    const std::size_t point = literal.find('.');
    return point == std::string::npos ? 0 : literal.size() - point - 1;
}

// What the game makes of what is written for a float field: a literal, read
// as the compilers read it, or an expression "(a * b / c ...)" of literals,
// worked out from left to right in single precision.
float Arrives(const std::string& written) {
    if (written.empty() || written.front() != '(') return ReadAsCompilers(written);
    EXPECT_EQ(written.back(), ')') << written;
    const std::string inside = written.substr(1, written.size() - 2);
    std::size_t at = inside.find(' ');
    float value = ReadAsCompilers(inside.substr(0, at));
    while (at != std::string::npos) {
        const char operation = inside[at + 1];
        const std::size_t next = inside.find(' ', at + 3);
        const float factor = ReadAsCompilers(inside.substr(at + 3, next - (at + 3)));
        EXPECT_TRUE(operation == '*' || operation == '/') << written;
        value = operation == '*' ? value * factor : value / factor;
        at = next;
    }
    return value;
}

// The literal of `m` units of the `digits`-th decimal place, with a "-" for a
// negative `sign`.
std::string LiteralOf(std::int64_t m, std::size_t digits, float sign) {
    std::string number = std::to_string(m);
    if (number.size() <= digits) number.insert(0, digits + 1 - number.size(), '0');
    const std::size_t point = number.size() - digits;
    std::string literal(sign < 0 ? "-" : "");
    literal.append(number, 0, point);
    literal += '.';
    literal += digits == 0 ? std::string("0") : number.substr(point);
    return literal;
}

// Whether some literal with `digits` digits after the point, within `steps`
// of its last digit from `target`, reads as `target`.
bool SomeLiteralReads(float target, std::size_t digits, int steps) {
    const double scale = std::pow(10.0, static_cast<double>(digits));
    EXPECT_LT(std::fabs(target) * scale, 1e18);
    const auto middle = static_cast<std::int64_t>(std::llround(std::fabs(target) * scale));
    for (std::int64_t m = std::max<std::int64_t>(0, middle - steps); m <= middle + steps; ++m) {
        if (Bits(ReadAsCompilers(LiteralOf(m, digits, target))) == Bits(target)) return true;
    }
    return false;
}

// Whether the literal one step below `literal` in its last digit reads as
// `target` too, which makes `literal` not the smallest of its length.
bool OneBelowReads(const std::string& literal, float target) {
    std::string digits;
    for (const char c : literal) {
        if (c >= '0' && c <= '9') digits += c;
    }
    if (digits.size() > 18) return false;
    const std::int64_t m = std::stoll(digits);
    return m > 0 &&
           Bits(ReadAsCompilers(LiteralOf(m - 1, FractionDigits(literal), target))) == Bits(target);
}

TEST(CompilerReading, ReadsDigitByDigitInSinglePrecision) {
    // Bit patterns measured with both compilers, and others that follow from
    // rounding every operation on its own.
    const struct {
        const char* literal;
        std::uint32_t bits;
    } cases[] = {
        {"0.05", 0x3D4CCCCC},                // 5 * (0.1f / 10) is a tie, to even
        {"       0.699999988", 0x3F333332},  // how the game writes 0.7f
        {"0.7", 0x3F333333},
        {"0.050000002", 0x3D4CCCCD},
        {"56.61", 0x426270A3},
        {"0.000001", 0x358637BC},
        {"0.0000010000001", 0x358637BD},
        {"0.45", 0x3EE66666},      // a product rounded before the sum, not fused
        {"1.9", 0x3FF33334},       // likewise
        {"16777217", 0x4B800000},  // past 2^24, v * 10 + digit rounds to even
        {"16777219.0", 0x4B800002},
        {"359.999999", 0x43B3FFFF},
        {"-0.05", 0xBD4CCCCC},  // negated at the end
        {"  +1.25", 0x3FA00000},
        {"-0", 0x80000000},
        {"5.", 0x40A00000},
        {".5", 0x3F000000},
        {"000012.50", 0x41480000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Bits(ReadAsCompilers(c.literal)), c.bits) << c.literal;
    }
    CompilerReading reading;
    for (const char c : std::string_view("0.05")) reading.Take(c);
    EXPECT_EQ(Bits(reading.value()), 0x3D4CCCCCu);
}

TEST(FloatLiterals, WritesWhatTheCompilersReadAsTheNearestFloat) {
    const std::string longest = std::string(FloatLiterals::kLongestToken - 3, '0');
    const struct {
        std::string logged;
        std::string written;
    } cases[] = {
        // Already read as logged: left as they are, spaces and all.
        {"       1.500000000", "       1.500000000"},
        {"90.0", "90.0"},
        {"- 0.5 ", "- 0.5 "},
        {"1.0000000000000000000", "1.0000000000000000000"},  // 20 digits: past 64 bits
        {"0.1000000000000000000000000000000000000000001",
         "0.1000000000000000000000000000000000000000001"},
        // Past the 48 factors of the reading, and rounded to zero.
        {"0.10000000000000000000000000000000000000000000000000000001",
         "0.10000000000000000000000000000000000000000000000000000001"},
        {"-0.00000000000000000000000000000000000000000000000001",
         "-0.00000000000000000000000000000000000000000000000001"},
        // Read otherwise: the shortest literal that reads as the float
        // nearest the text, always with a point, the smallest if several.
        {"0.05", "0.050000002"},
        {"       0.699999988", "0.7"},
        {"56.61", "56.610002"},
        {"0.000001", "0.0000010000001"},
        {"359.999999", "360.0"},
        {"6425881.78", "6425881.8"},  // as short as 6425882.0, and smaller
        {"    -0.050000000", "-0.050000002"},
        {"- 0.05", "-0.050000002"},  // spaces that the compilers skip
        {"0.05 ", "0.050000002"},
        {"+0.05", "0.050000002"},
        {"40861073.20", "40861070.0"},  // past 2^24, the whole part digit by digit
        {"0.000000000000184522156668892601", "0.00000000000018452218"},  // 20 digits
        // A hair above the midpoint of 0.5 and the float after it, so close
        // that the double nearest it is the midpoint: the nearest float is
        // the one after.
        {"0.5000000298023224", "0.50000003"},
        // Whole numbers: the game takes a float only with a point.
        {"0", "0.0"},
        {"-1", "-1.0"},
        {"-0", "-0.0"},
        {"360", "360.0"},
        {"16777217", "16777217.0"},
        {"10000000500", "10000000000.0"},  // "10000000500.0" reads a float off
        // No "+", which the older compiler refuses.
        {"+0.25", "0.25"},
        {"   +7 ", "   7.0 "},
        {"+.5", ".5"},
        // No number token longer than the older compiler takes.
        {"1.5" + longest, "1.5" + longest},
        {"1.5" + longest + "0", "1.5"},
        {"0.0" + longest + "1", "0.0"},
        // No literal reaches the float: a whole number below 2^24 and powers of
        // two, all read exactly, that the game multiplies or divides.
        {"349090976.000000000", "(10909093.0 * 32.0)"},
        {"3355541504", "(102403.0 * 32768.0)"},
        {"-376204361728.0", "(-5740423.0 * 65536.0)"},
        {"70000000000000000000000000000000000000.0",
         "(6902533.0 * 16777216.0 * 16777216.0 * 16777216.0 * 16777216.0 * 128.0)"},
        {"0.00000000000001", "(2951479.0 / 16777216.0 / 16777216.0 / 1048576.0)"},
        // Not a number (CheckRecord refuses them but a name): as they stand.
        {"PI", "PI"},
        {"1e-5", "1e-5"},
        {"1000000000000000000000000000000000000000.0",
         "1000000000000000000000000000000000000000.0"},
    };
    FloatLiterals literals;
    for (const auto& c : cases) {
        EXPECT_EQ(literals.Exact(c.logged), c.written) << c.logged;
        if (ClassifyFloatField(c.logged) != FloatField::kNumber) continue;
        std::string number = c.logged;
        number.erase(std::remove(number.begin(), number.end(), ' '), number.end());
        const float nearest = std::strtof(number.c_str(), nullptr);
        EXPECT_EQ(Bits(Arrives(c.written)), Bits(nearest)) << c.logged;
    }
}

TEST(FloatLiterals, TellsNumbersAndNamesFromWhatNoCompilerTakes) {
    const struct {
        const char* text;
        FloatField field;
    } cases[] = {
        {"  -1.5 ", FloatField::kNumber},
        {"- .5", FloatField::kNumber},
        {"5.", FloatField::kNumber},
        {"340282356779733661637539395458142568447", FloatField::kNumber},  // FLT_MAX
        {"0000000000000000000000000000000000000000001", FloatField::kNumber},
        {"340282356779733661637539395458142568448", FloatField::kBeyondRange},  // to infinity
        {"  0340282356779733661637539395458142568447.999 ", FloatField::kNumber},
        {"340282356779733661637539395458142568448.000", FloatField::kBeyondRange},
        {"-340282356779733661637539395458142568449", FloatField::kBeyondRange},
        {"999999999999999999999999999999999999999", FloatField::kBeyondRange},
        {"-1000000000000000000000000000000000000000.0", FloatField::kBeyondRange},
        {"PI", FloatField::kName},
        {" _x1 ", FloatField::kName},
        {"", FloatField::kNotANumber},
        {"  ", FloatField::kNotANumber},
        {".", FloatField::kNotANumber},
        {"-", FloatField::kNotANumber},
        {"+-1", FloatField::kNotANumber},
        {"1e5", FloatField::kNotANumber},
        {"0x1F", FloatField::kNotANumber},
        {"1_000", FloatField::kNotANumber},
        {"1.2.3", FloatField::kNotANumber},
        {"1 2", FloatField::kNotANumber},
        {"-PI", FloatField::kNotANumber},
        {"9abc", FloatField::kNotANumber},
    };
    for (const auto& c : cases) EXPECT_EQ(ClassifyFloatField(c.text), c.field) << c.text;
}

// Every logged text of a set: the literal written reads as the float nearest
// the text (which the set knows), and is the text itself (with ".0" after a
// whole number) wherever that already reads so; a new literal has a point, no
// literal one digit shorter near the float reads it, nor the one a step below
// in its last digit. Counts the texts that needed something else.
class FloatProperty {
  public:
    void Check(const std::string& text, float nearest, bool checkShortest) {
        const std::string written(literals_.Exact(text));
        ASSERT_EQ(Bits(Arrives(written)), Bits(nearest)) << text << " -> " << written;
        const std::string asItStands = text.find('.') == std::string::npos ? text + ".0" : text;
        if (Bits(ReadAsCompilers(asItStands)) == Bits(nearest)) {
            ASSERT_EQ(written, asItStands);
            return;
        }
        ++changed;
        if (written.front() == '(') {
            ++scaled;
            return;
        }
        const std::size_t digits = FractionDigits(written);
        ASSERT_GE(digits, 1u) << text << " -> " << written;
        ASSERT_LE(digits, static_cast<std::size_t>(FloatLiterals::kMostFractionDigits));
        ASSERT_FALSE(OneBelowReads(written, nearest)) << text << " -> " << written;
        if (checkShortest && std::fabs(nearest) < 1e8f) {
            ASSERT_FALSE(SomeLiteralReads(nearest, digits - 1, 40)) << text << " -> " << written;
        }
    }
    int changed = 0;
    int scaled = 0;  // written as an expression

  private:
    FloatLiterals literals_;
};

TEST(FloatLiterals, EveryTwoDecimalValueArrivesExactly) {
    FloatProperty property;
    for (int i = 0; i < 10000; ++i) {
        const std::string text =
            std::to_string(i / 100) + "." + std::to_string(i % 100 / 10) + std::to_string(i % 10);
        // i / 100 lies far from every float's midpoint: one rounding to
        // double, then one to float, is the nearest float.
        property.Check(text, static_cast<float>(i / 100.0), true);
    }
    EXPECT_EQ(property.changed, 2230);
}

TEST(FloatLiterals, EveryAngleAsTheGameWritesItArrivesExactly) {
    FloatProperty property;
    for (int i = 0; i < 3600; ++i) {
        const auto angle = static_cast<float>(i / 10.0);
        property.Check(GameText(angle), angle, true);
    }
    EXPECT_EQ(property.changed, 242);
}

TEST(FloatLiterals, AMillionRandomFloatsArriveExactly) {
    // Positions, angles and rates as the game writes them: nine decimals
    // name a float in +-100000 exactly.
    FloatProperty property;
    std::uint64_t state = 24;
    for (int i = 0; i < 1000000; ++i) {
        // splitmix64: the same numbers on every system.
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        const auto value =
            static_cast<float>(static_cast<double>(z >> 11) * 0x1.0p-53 * 200000.0 - 100000.0);
        property.Check(GameText(value), value, i % 64 == 0);
    }
    ::testing::Test::RecordProperty("changed", property.changed);
    std::printf("%d of a million random floats needed another literal\n", property.changed);
}

TEST(FloatLiterals, FloatsOfEveryMagnitudeArriveExactly) {
    // Random bit patterns, every finite float alike, past 10^8 and below
    // 10^-13 too, where some need the expression: each as its shortest text
    // and as its exact decimal expansion, which may run to 150 digits.
    FloatProperty property;
    std::uint64_t state = 29;
    for (int i = 0; i < 1 << 13; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const auto value = std::bit_cast<float>(static_cast<std::uint32_t>(state >> 32));
        if (!std::isfinite(value)) continue;
        char text[256];
        const auto shortest =
            std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
        property.Check(std::string(text, shortest.ptr), value, false);
        const auto expansion = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                             std::chars_format::fixed, 160);
        property.Check(std::string(text, expansion.ptr), value, false);
    }
    EXPECT_GT(property.scaled, 1000);
}

// Shortest, whose walk tells from bounds which prefixes can still read the
// float, chooses what the full search chooses, which reads every continuation
// out: for random bit patterns, every finite float alike (huge ones whose
// whole part is walked through 39 digits, tiny ones that need 20 digits or
// the expression), and for every two-decimal value from 0.00 to 10000.00
// (positions in an area, facings, rates; the search works on the magnitude,
// so the negative ones are the same search). An emulated build (qemu, Wine)
// checks every 16th, as the full search is slow there.
TEST(FloatLiterals, ShortestIsTheFullSearchsChoice) {
#ifdef TSRY_EMULATED_TESTS
    constexpr int kEvery = 16;
#else
    constexpr int kEvery = 1;
#endif
    FloatLiterals fast;
    FloatLiterals full;
    int differ = 0;
    int none = 0;
    auto check = [&](float value) {
        const std::string chosen(fast.Shortest(value));
        if (chosen.empty()) ++none;
        if (chosen != full.ShortestByFullSearch(value) && ++differ <= 10) {
            ADD_FAILURE() << std::hexfloat << value << ": " << chosen << " and "
                          << full.ShortestByFullSearch(value);
        }
    };
    std::uint64_t state = 31;
    for (int i = 0; i < 1000000; i += kEvery) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const auto value = std::bit_cast<float>(static_cast<std::uint32_t>(state >> 32));
        if (std::isfinite(value)) check(value);
    }
    EXPECT_GT(none, 100000 / kEvery);  // past 10^8 and below 10^-13
    for (int i = 0; i <= 1000000; i += kEvery) check(static_cast<float>(i / 100.0));
    EXPECT_EQ(differ, 0);
}

}  // namespace
}  // namespace tsry
