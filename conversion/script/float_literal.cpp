#include "conversion/script/float_literal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>

namespace tsry {

namespace {

// The factor f after each count of digits after the point: from 1, divided by
// 10 for each digit, in single precision. It runs down to 0 before the end of
// the table, and stays there.
constexpr std::array<float, 48> kFactors = [] {
    std::array<float, 48> factors{};
    float factor = 1;
    for (float& f : factors) {
        f = factor;
        factor = factor / 10.0f;
    }
    return factors;
}();
static_assert(kFactors.back() == 0);

}  // namespace

void CompilerReading::Take(char c) noexcept {
    if (c == '.') {
        fractionDigits_ = 0;
        return;
    }
    const auto digit = static_cast<float>(c - '0');
    if (fractionDigits_ < 0) {
        value_ = value_ * 10.0f + digit;
        return;
    }
    if (fractionDigits_ + 1 < static_cast<int>(kFactors.size())) ++fractionDigits_;
    value_ = value_ + digit * kFactors[static_cast<std::size_t>(fractionDigits_)];
}

namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool SameFloat(float a, float b) noexcept {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// A literal being built, with the compilers' reading of it so far: at most 39
// digits before the point (the float range), the point and the digits after it.
struct Prefix {
    CompilerReading reading;
    std::array<char, 64> text;
    std::size_t size;

    [[nodiscard]] std::string_view view() const noexcept { return {text.data(), size}; }
};

// Prefixes of one length kept at once: far more than the search ever keeps,
// which is a few.
constexpr std::size_t kMostPrefixes = 32;

// Below this the compilers read every whole number exactly: 2^24.
constexpr float kWholesReadExactly = 16777216.0f;

// The number of digits before the point of a literal near `target`, 0 or more.
int IntegerDigits(float target) noexcept {
    int digits = 1;
    for (double power = 10; power <= static_cast<double>(target); power *= 10) ++digits;
    return digits;
}

// Whether `reading` can still go on to read no more than `target`: its lowest
// continuation has zeros for the digits left before the point, and digits
// after it add nothing or more.
bool StaysWithin(CompilerReading reading, int integerLeft, float target) noexcept {
    for (int i = 0; i < integerLeft; ++i) reading.Take('0');
    return reading.value() <= target;
}

// Whether `reading` can go on to read `target` or more: its highest
// continuation has nines everywhere. Once a nine after the point adds
// nothing, no later digit can, as each one weighs a tenth of the one before.
bool ReachesTarget(CompilerReading reading, int integerLeft, bool pointLeft, int fractionLeft,
                   float target) noexcept {
    for (int i = 0; i < integerLeft; ++i) reading.Take('9');
    if (pointLeft) reading.Take('.');
    for (int i = 0; i < fractionLeft && reading.value() < target; ++i) {
        const float before = reading.value();
        reading.Take('9');
        if (reading.value() == before) break;
    }
    return reading.value() >= target;
}

// The search of SearchLiteral, a breadth-first walk over a literal's digits:
// the prefixes of one length that can still read the target, in order, and
// how they grow by a digit.
//
// Every step of the reading is monotonic in the value so far and in the
// digit, and none lowers the value, so a prefix whose continuation with zeros
// reads above the target, or with nines below it, leads nowhere and is
// dropped. Of the prefixes of one length that read the same, all go on alike,
// and only the smallest is kept.
class Walk {
  public:
    explicit Walk(float target) noexcept : target_(target) {}

    // Starts from `text`, digits before the point with `wholeLeft` more to
    // come there, if it can reach the target.
    void Start(std::string_view text, int wholeLeft) noexcept {
        if (sizes_[current_] == kMostPrefixes) return;
        Prefix& prefix = levels_[current_][sizes_[current_]];
        prefix.reading = CompilerReading();
        for (const char c : text) prefix.reading.Take(c);
        if (!ReachesTarget(prefix.reading, wholeLeft, true, FloatLiterals::kMostFractionDigits,
                           target_)) {
            return;
        }
        std::copy(text.begin(), text.end(), prefix.text.begin());
        prefix.size = text.size();
        ++sizes_[current_];
    }

    // Every prefix grown by a digit from `first` to '9': one before the point
    // with `wholeLeft` more to come there, or, for a `wholeLeft` of -1, one
    // after it. `fractionLeft` digits may follow after the point.
    void Grow(char first, int wholeLeft, int fractionLeft) noexcept {
        const std::size_t next = 1 - current_;
        sizes_[next] = 0;
        const bool afterPoint = wholeLeft < 0;
        const bool point = afterPoint && !afterPoint_;
        const int integerLeft = afterPoint ? 0 : wholeLeft;
        for (std::size_t p = 0; p < sizes_[current_]; ++p) {
            const Prefix& parent = levels_[current_][p];
            CompilerReading start = parent.reading;
            if (point) start.Take('.');
            // The children that do not read above the target, in order...
            std::array<CompilerReading, 10> children;
            std::size_t count = 0;
            for (char digit = first; digit <= '9'; ++digit) {
                CompilerReading child = start;
                child.Take(digit);
                if (!StaysWithin(child, integerLeft, target_)) break;
                children[count++] = child;
            }
            // ...and of those, the highest few whose nines reach it.
            std::size_t kept = count;
            while (kept > 0 && ReachesTarget(children[kept - 1], integerLeft, !afterPoint,
                                             fractionLeft, target_)) {
                --kept;
            }
            for (std::size_t c = kept; c < count; ++c) {
                Add(parent, point, static_cast<char>(first + static_cast<char>(c)), children[c]);
            }
        }
        current_ = next;
        afterPoint_ = afterPoint;
    }

    [[nodiscard]] bool empty() const noexcept { return sizes_[current_] == 0; }

    // The first prefix that reads the target, or none.
    [[nodiscard]] const Prefix* Found() const noexcept {
        for (std::size_t k = 0; k < sizes_[current_]; ++k) {
            if (levels_[current_][k].reading.value() == target_) return &levels_[current_][k];
        }
        return nullptr;
    }

  private:
    // `parent` and `digit` (after the point, when `point`) to the next level,
    // unless a smaller prefix there reads the same.
    void Add(const Prefix& parent, bool point, char digit,
             const CompilerReading& reading) noexcept {
        const std::size_t next = 1 - current_;
        auto& level = levels_[next];
        std::size_t& size = sizes_[next];
        for (std::size_t k = 0; k < size; ++k) {
            if (level[k].reading.value() == reading.value()) return;
        }
        if (size == kMostPrefixes) return;
        Prefix& child = level[size++];
        child.reading = reading;
        std::copy_n(parent.text.begin(), parent.size, child.text.begin());
        child.size = parent.size;
        if (point) child.text[child.size++] = '.';
        child.text[child.size++] = digit;
    }

    float target_;
    std::array<std::array<Prefix, kMostPrefixes>, 2> levels_;
    std::array<std::size_t, 2> sizes_ = {0, 0};
    std::size_t current_ = 0;
    bool afterPoint_ = false;  // the prefixes have their point
};

// The literal that the compilers read as `target`, a finite float of 0 or
// more, in `literal`; returns whether there is one: the literal with the
// fewest digits after the point, at most kMostFractionDigits, and of those the
// smallest.
bool SearchLiteral(float target, std::string& literal) {
    Walk walk(target);
    if (target < kWholesReadExactly) {
        // Every whole part reads exactly, and the target's own and the one
        // below it are those to start from: "6425881.8" reads as 6425882.0,
        // but a whole part two below, with nines after it, reads at most
        // about one below the target's, as a float's step is at most 1 here.
        const auto whole = static_cast<std::uint32_t>(target);
        for (std::uint32_t start = whole == 0 ? 0 : whole - 1; start <= whole; ++start) {
            std::array<char, 16> digits;
            const auto [end, error] = std::to_chars(digits.begin(), digits.end(), start);
            walk.Start({digits.data(), static_cast<std::size_t>(end - digits.data())}, 0);
        }
    } else {
        // Digit by digit: the same count as the target's whole part.
        const int integerDigits = IntegerDigits(target);
        walk.Start({}, integerDigits);
        for (int position = 0; position < integerDigits && !walk.empty(); ++position) {
            walk.Grow(position == 0 ? '1' : '0', integerDigits - position - 1,
                      FloatLiterals::kMostFractionDigits);
        }
    }
    for (int digits = 1; digits <= FloatLiterals::kMostFractionDigits && !walk.empty(); ++digits) {
        walk.Grow('0', -1, FloatLiterals::kMostFractionDigits - digits);
        if (const Prefix* found = walk.Found()) {
            literal = found->view();
            return true;
        }
    }
    return false;
}

}  // namespace

namespace {

// Where the parts of a decimal number lie in its text.
struct NumberShape {
    bool negative = false;
    std::size_t sign = std::string_view::npos;  // where the sign stands, if any
    std::size_t tokenStart = 0;                 // the digits and the point
    std::size_t tokenEnd = 0;
    bool point = false;

    [[nodiscard]] std::string_view Token(std::string_view text) const noexcept {
        return text.substr(tokenStart, tokenEnd - tokenStart);
    }
};

std::size_t SkipSpaces(std::string_view text, std::size_t at) noexcept {
    while (at < text.size() && text[at] == ' ') ++at;
    return at;
}

// The shape of `text` if it is a decimal number (IsDecimalNumber).
std::optional<NumberShape> ShapeOf(std::string_view text) noexcept {
    NumberShape shape;
    std::size_t at = SkipSpaces(text, 0);
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        shape.negative = text[at] == '-';
        shape.sign = at;
        at = SkipSpaces(text, at + 1);
    }
    shape.tokenStart = at;
    bool digits = false;
    for (; at < text.size(); ++at) {
        if (IsDigit(text[at])) {
            digits = true;
        } else if (text[at] == '.' && !shape.point) {
            shape.point = true;
        } else {
            break;
        }
    }
    shape.tokenEnd = at;
    if (!digits || SkipSpaces(text, at) != text.size()) return std::nullopt;
    return shape;
}

// The float nearest the number `token` (digits and a point), 0 for one that
// rounds to zero; returns false for one that rounds to infinity.
bool NearestFloat(std::string_view token, float& nearest) noexcept {
    const char* const end = token.data() + token.size();
    const auto [stop, error] =
        std::from_chars(token.data(), end, nearest, std::chars_format::fixed);
    if (error == std::errc()) return true;
    // Out of range: rounded to zero unless a digit before the point counts.
    const std::string_view whole = token.substr(0, token.find('.'));
    nearest = 0;
    return whole.find_first_not_of('0') == std::string_view::npos;
}

// A float has at most 39 digits before the point.
constexpr std::size_t kMostWholeDigits = 39;

// `value`, a finite float other than 0 that no literal reaches, as an
// expression computed exactly at run time: value = m * 2^e with m odd, so
// below 2^24, and every factor a whole power of two of at most 2^24; the
// compilers read all of them exactly, and each step of the product or
// quotient is exact as its result lies between m and `value`.
void WriteScaled(float value, std::string& out) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const auto biased = static_cast<int>((bits >> 23) & 0xFFU);
    std::uint32_t m = bits & 0x7FFFFFU;
    int e = -149;
    if (biased != 0) {
        m |= 0x800000U;
        e = biased - 150;
    }
    for (; m != 0 && (m & 1U) == 0; m >>= 1) ++e;
    auto append = [&out](std::uint32_t whole) {
        std::array<char, 16> digits;
        const auto [end, error] = std::to_chars(digits.begin(), digits.end(), whole);
        out.append(digits.data(), end);
        out += ".0";
    };
    out = (bits >> 31) != 0 ? "(-" : "(";
    append(m);
    const std::string_view operation = e > 0 ? " * " : " / ";
    for (int left = e > 0 ? e : -e; left > 0; left -= 24) {
        out += operation;
        append(std::uint32_t{1} << std::min(left, 24));
    }
    out += ')';
}

bool IsNameStart(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

}  // namespace

bool IsDecimalNumber(std::string_view text) noexcept { return ShapeOf(text).has_value(); }

float ReadAsCompilers(std::string_view literal) noexcept {
    const std::optional<NumberShape> shape = ShapeOf(literal);
    if (!shape) return std::numeric_limits<float>::quiet_NaN();
    CompilerReading reading;
    for (const char c : shape->Token(literal)) reading.Take(c);
    return shape->negative ? -reading.value() : reading.value();
}

FloatField ClassifyFloatField(std::string_view text) noexcept {
    if (const std::optional<NumberShape> shape = ShapeOf(text)) {
        const std::string_view token = shape->Token(text);
        const std::size_t first = token.find_first_not_of('0');
        const std::size_t wholeDigits =
            first == std::string_view::npos ? 0 : std::min(token.size(), token.find('.')) - first;
        float nearest = 0;
        if (wholeDigits >= kMostWholeDigits && !NearestFloat(token, nearest)) {
            return FloatField::kBeyondRange;
        }
        return FloatField::kNumber;
    }
    const std::size_t start = SkipSpaces(text, 0);
    if (start == text.size() || !IsNameStart(text[start])) return FloatField::kNotANumber;
    std::size_t at = start + 1;
    while (at < text.size() && (IsNameStart(text[at]) || IsDigit(text[at]))) ++at;
    return SkipSpaces(text, at) == text.size() ? FloatField::kName : FloatField::kNotANumber;
}

std::string_view FloatLiterals::Exact(std::string_view text) {
    const std::optional<NumberShape> shape = ShapeOf(text);
    if (!shape) return text;
    const std::string_view token = shape->Token(text);
    float magnitude = 0;
    if (!NearestFloat(token, magnitude)) return text;
    const float wanted = shape->negative ? -magnitude : magnitude;
    const bool plus = shape->sign != std::string_view::npos && !shape->negative;
    if (token.size() <= kLongestToken) {
        // The text as it stands, but without a "+" (which the older compiler
        // refuses) and with a point: what the game logs most often reads so.
        CompilerReading reading;
        for (const char c : token) reading.Take(c);
        if (!shape->point) {
            reading.Take('.');
            reading.Take('0');
        }
        if (SameFloat(shape->negative ? -reading.value() : reading.value(), wanted)) {
            if (shape->point && !plus) return text;
            literal_.assign(text, 0, shape->tokenEnd);
            if (plus) literal_.erase(shape->sign, 1);
            if (!shape->point) literal_ += ".0";
            literal_.append(text.substr(shape->tokenEnd));
            return literal_;
        }
    }
    if (SearchLiteral(magnitude, literal_)) {
        if (shape->negative) literal_.insert(literal_.begin(), '-');
        return literal_;
    }
    WriteScaled(wanted, literal_);
    return literal_;
}

}  // namespace tsry
