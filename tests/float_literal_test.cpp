#include "conversion/script/float_literal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
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

// Whether some literal with `digits` digits after the point, within `steps`
// of its last digit from `target`, reads as `target`.
bool SomeLiteralReads(float target, std::size_t digits, int steps) {
    const double scale = std::pow(10.0, static_cast<double>(digits));
    EXPECT_LT(std::fabs(target) * scale, 1e18);
    const auto middle = static_cast<std::int64_t>(std::llround(std::fabs(target) * scale));
    for (std::int64_t m = std::max<std::int64_t>(0, middle - steps); m <= middle + steps; ++m) {
        std::string number = std::to_string(m);
        if (number.size() <= digits) number.insert(0, digits + 1 - number.size(), '0');
        const std::size_t point = number.size() - digits;
        std::string literal(target < 0 ? "-" : "");
        literal.append(number, 0, point);
        literal += '.';
        literal += digits == 0 ? std::string("0") : number.substr(point);
        if (Bits(ReadAsCompilers(literal)) == Bits(target)) return true;
    }
    return false;
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
    const struct {
        const char* logged;
        const char* written;
    } cases[] = {
        // Already read as logged: left as they are, spaces and all.
        {"       1.500000000", "       1.500000000"},
        {"90.0", "90.0"},
        {"+0.25", "+0.25"},
        {"0.1000000000000000000000000000000000000000001",
         "0.1000000000000000000000000000000000000000001"},
        // Read otherwise: the shortest literal that reads as the float
        // nearest the text, always with a point.
        {"0.05", "0.050000002"},
        {"       0.699999988", "0.7"},
        {"56.61", "56.610002"},
        {"0.000001", "0.0000010000001"},
        {"359.999999", "360.0"},
        {"    -0.050000000", "-0.050000002"},
        {"+0.05", "0.050000002"},
        {"40861073.20", "40861070.0"},  // past 2^24, the whole part digit by digit
        // Whole numbers: the game takes a float only with a point.
        {"0", "0.0"},
        {"-1", "-1.0"},
        {"   +7", "   +7.0"},
        {"360", "360.0"},
        {"16777217", "16777217.0"},
        // Not decimal numbers, or beyond the float range: as they stand.
        {"TRUE", "TRUE"},
        {"0x1F", "0x1F"},
        {"1e-5", "1e-5"},
        {"", ""},
        {"  ", "  "},
        {"-", "-"},
        {".", "."},
        {"1.2.3", "1.2.3"},
        {"0.05 ", "0.05 "},
        {"- 0.05", "- 0.05"},
        {"1000000000000000000000000000000000000000.0",
         "1000000000000000000000000000000000000000.0"},
        {"0.00000000000000000000000000000000000000000000000001",
         "0.00000000000000000000000000000000000000000000000001"},
    };
    FloatLiterals literals;
    for (const auto& c : cases) EXPECT_EQ(literals.Exact(c.logged), c.written) << c.logged;
}

TEST(FloatLiterals, KeepsTheTextOfAFloatThatNoLiteralReads) {
    // Past 10^8 the reading of the whole part skips floats: no literal reads
    // this one, and its text reads as the float next to it.
    const std::string text = GameText(349090976.0f);
    ASSERT_EQ(text, "349090976.000000000");
    EXPECT_EQ(Bits(ReadAsCompilers(text)), Bits(349090976.0f) - 1);
    FloatLiterals literals;
    EXPECT_EQ(literals.Exact(text), text);
}

// Every logged text of a set: the literal written reads as the float nearest
// the text (which the set knows), and is the text itself wherever that already
// reads so; a new literal has a point and no literal one digit shorter near
// the float reads it. Counts the texts that needed another literal.
class FloatProperty {
  public:
    void Check(const std::string& text, float nearest, bool checkShortest) {
        const std::string written(literals_.Exact(text));
        ASSERT_EQ(Bits(ReadAsCompilers(written)), Bits(nearest)) << text << " -> " << written;
        if (Bits(ReadAsCompilers(text)) == Bits(nearest)) {
            ASSERT_EQ(written, text);
            return;
        }
        ++changed;
        const std::size_t digits = FractionDigits(written);
        ASSERT_GE(digits, 1u) << text << " -> " << written;
        ASSERT_LE(digits, static_cast<std::size_t>(FloatLiterals::kMostFractionDigits));
        if (checkShortest) {
            ASSERT_FALSE(SomeLiteralReads(nearest, digits - 1, 40)) << text << " -> " << written;
        }
    }
    int changed = 0;

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

}  // namespace
}  // namespace tsry
