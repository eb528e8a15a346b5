#pragma once

#include <cstddef>
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

// Whether `text` is a decimal number: spaces, an optional sign ("-" or "+")
// and spaces, digits with an optional point among or after them (at least one
// digit in all), then spaces. Both compilers take that, spaces and all.
[[nodiscard]] bool IsDecimalNumber(std::string_view text) noexcept;

// What the compilers make of `literal`, a decimal number: the spaces are
// skipped, CompilerReading takes its digits and point, and a leading "-"
// negates the result at the end.
[[nodiscard]] float ReadAsCompilers(std::string_view literal) noexcept;

// What a float field (the Value of a FLT record, a coordinate or the facing
// of a location) holds, as far as a script can take it.
enum class FloatField {
    kNumber,       // a decimal number within the float range
    kName,         // spaces, a letter or "_" then letters, digits and "_", spaces:
                   // a float constant of the module, perhaps
    kBeyondRange,  // a decimal number whose nearest float is infinite
    kNotANumber,   // anything else, which no compiler takes where it wants a float
};
[[nodiscard]] FloatField ClassifyFloatField(std::string_view text) noexcept;

// The literals written for float fields, chosen one field at a time.
class FloatLiterals {
  public:
    // The most digits after the point that a literal chosen here has.
    static constexpr int kMostFractionDigits = 20;
    // The longest number token that every compiler in use takes: the older
    // one stops at 8191 characters.
    static constexpr std::size_t kLongestToken = 8191;

    // What to write for the float field logged as `text`, a decimal number
    // within the float range: something that the game turns into exactly the
    // float nearest the text (ties to even, as strtof rounds; a text that
    // rounds to zero gives 0 with its sign). The first of these that does:
    // - `text` itself, without a leading "+" and with ".0" after the digits
    //   of a whole number, provided its digits and point are no longer than
    //   kLongestToken: what the game logs, "       1.500000000", and most
    //   other values;
    // - the literal, always with a point, with the fewest digits after it (at
    //   most kMostFractionDigits) and of those the smallest, with a "-" for a
    //   negative float: "0.05" gives "0.050000002", "6425881.78" gives
    //   "6425881.8";
    // - past about 10^8, where the compilers' reading skips floats, and below
    //   about 10^-13, where it needs more digits: an expression that the game
    //   computes exactly, m * 2^e as a whole number m below 2^24 multiplied
    //   (e > 0) or divided (e < 0) by whole powers of two of at most 2^24, all
    //   of which the compilers read exactly: "(12543287.0 * 32768.0)".
    // Any other text (a name, or what CheckRecord refuses) is returned as it
    // stands. The view lasts until the next call.
    std::string_view Exact(std::string_view text);

    // The literal of the second kind above for `value`, a finite float, with
    // a "-" when its sign is set; empty when no literal of at most
    // kMostFractionDigits digits after the point reaches it. The view lasts
    // until the next call. Found by the full search's walk over the
    // literal's digits, step for step, with the reading written out for
    // plain floats and, from 2^24 on, bounds worked out once for `value`
    // that tell which prefixes can still read it: a microsecond or so,
    // whatever the float.
    std::string_view Shortest(float value);
    // The same, by the full search that reads out the continuations of every
    // prefix it tries: the reference that Shortest is checked against, up to
    // some tens of microseconds a float.
    std::string_view ShortestByFullSearch(float value);

  private:
    std::string_view Search(float value, bool fullSearch);

    std::string literal_;
};

}  // namespace tsry
