#pragma once

#include <string>
#include <string_view>

// Float literals as the game's compilers read them. Neither compiler in use
// reads a literal correctly rounded: both go through it one digit at a time in
// single precision, so that "0.05" arrives one step below the float nearest
// 0.05, and about one logged float in five would arrive changed. A restore
// must bring every value across as it was logged, so a float field is written
// as a literal that this reading turns into the float nearest the logged text.

namespace tsry {

// The compilers' reading of a literal's digits and point, one character at a
// time: from v = 0, each digit before the point makes v = v * 10 + digit;
// after the point a factor f, from 1, becomes f / 10 and v = v + digit * f.
// Every operation is one in single precision, rounded to nearest.
class CompilerReading {
  public:
    // One digit, '0' to '9', or the point.
    void Take(char c) noexcept;
    [[nodiscard]] float value() const noexcept { return value_; }

  private:
    float value_ = 0;
    int fractionDigits_ = -1;  // the digits taken after the point; -1 before it
};

// Whether `text` is a decimal number: spaces, an optional sign ("-" or "+"),
// digits, an optional point and digits, with at least one digit in all.
[[nodiscard]] bool IsDecimalNumber(std::string_view text) noexcept;

// What the compilers make of `literal`, a decimal number: the spaces before
// it are skipped, CompilerReading takes its digits and point, and a leading
// "-" negates the result at the end.
[[nodiscard]] float ReadAsCompilers(std::string_view literal) noexcept;

// The literals written for float fields, chosen one field at a time.
class FloatLiterals {
  public:
    // The most digits after the point that a literal chosen here has.
    static constexpr int kMostFractionDigits = 20;

    // What to write for the float field logged as `text`. `text` itself when
    // it is not a decimal number, when it lies beyond the float range, or when
    // the compilers already read it as the float nearest to it (ties to even,
    // as strtof rounds), a whole number with ".0" added; otherwise the literal with the fewest
    // digits after the point, and always a point, that they read as that float, the smallest of
    // them when several have as few: "0.05" gives "0.050000002", "359.999999" gives "360.0" (and
    // "360" too, as above). Should no literal of at most kMostFractionDigits digits after the point
    // read so, which happens past about 10^8, where the reading skips floats, `text` as it stands.
    // The view lasts until the next call.
    std::string_view Exact(std::string_view text);

  private:
    std::string literal_;
};

}  // namespace tsry
