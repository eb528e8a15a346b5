#include "conversion/script/float_literal.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace tsry {

void CompilerReading::Take(char c) noexcept {
    if (c == '.') {
        fraction_ = true;
        return;
    }
    const auto digit = static_cast<float>(c - '0');
    if (fraction_) {
        factor_ = factor_ / 10.0f;
        value_ = value_ + digit * factor_;
    } else {
        value_ = value_ * 10.0f + digit;
    }
}

namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// `text` without the spaces before it.
std::string_view WithoutSpaces(std::string_view text) noexcept {
    const std::size_t start = text.find_first_not_of(' ');
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// How far apart two floats are.
double Gap(float a, float b) noexcept {
    return std::fabs(static_cast<double>(a) - static_cast<double>(b));
}

bool SameFloat(float a, float b) noexcept {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// A literal being built, with the compilers' reading of it so far: at most 39
// digits before the point (the float range), the point and the digits after it.
struct Prefix {
    CompilerReading reading;
    std::array<char, 64> text{};
    std::size_t size = 0;

    void Add(char c) noexcept {
        reading.Take(c);
        text[size++] = c;
    }
    [[nodiscard]] std::string_view view() const noexcept { return {text.data(), size}; }
};

// Prefixes of one length kept at once: far more than the search ever keeps,
// which is a few.
constexpr std::size_t kMostPrefixes = 32;

// The number of digits before the point of a literal near `target`, 0 or more.
int IntegerDigits(float target) noexcept {
    int digits = 1;
    for (double power = 10; power <= static_cast<double>(target); power *= 10) ++digits;
    return digits;
}

// The lowest reading that `reading` can go on to: zeros for the digits left
// before the point; digits after it add nothing or more.
float Lowest(CompilerReading reading, int integerLeft) noexcept {
    for (int i = 0; i < integerLeft; ++i) reading.Take('0');
    return reading.value();
}

// The highest reading that `reading` can go on to: nines everywhere. Once a
// nine after the point adds nothing, no later digit can, as each one weighs a
// tenth of the one before.
float Highest(CompilerReading reading, int integerLeft, bool pointLeft, int fractionLeft) noexcept {
    for (int i = 0; i < integerLeft; ++i) reading.Take('9');
    if (pointLeft) reading.Take('.');
    for (int i = 0; i < fractionLeft; ++i) {
        const float before = reading.value();
        reading.Take('9');
        if (reading.value() == before) break;
    }
    return reading.value();
}

// The literal that the compilers read as `target`, a finite float of 0 or
// more, in `literal`; returns whether there is one, and if not leaves there
// the literal met that reads nearest to it, or nothing.
//
// A breadth-first walk over the literal's digits, from the first: the
// target's count of digits before the point, then up to kMostFractionDigits
// after it. Every step of the reading is monotonic in the value so far and in
// the digit, and none lowers the value, so a prefix whose continuation with
// zeros reads above the target, or with nines below it, leads nowhere and is
// dropped. Of the prefixes of one length that read the same, all go on alike,
// and only the smallest is kept. The first length after the point at which a
// prefix reads the target gives the literal, the smallest of that length.
bool SearchLiteral(float target, std::string& literal) {
    const int integerDigits = IntegerDigits(target);
    const int positions = integerDigits + FloatLiterals::kMostFractionDigits;
    std::array<std::array<Prefix, kMostPrefixes>, 2> levels;
    std::array<std::size_t, 2> sizes = {1, 0};
    double nearestGap = std::numeric_limits<double>::infinity();
    literal.clear();
    auto nearest = [&](const Prefix& candidate, bool pointLeft) {
        const double gap = Gap(candidate.reading.value(), target);
        if (gap >= nearestGap) return;
        nearestGap = gap;
        literal = candidate.view();
        if (pointLeft) literal += ".0";
    };
    for (int position = 0; position < positions; ++position) {
        const auto& current = levels[static_cast<std::size_t>(position % 2)];
        const std::size_t currentSize = sizes[static_cast<std::size_t>(position % 2)];
        auto& next = levels[static_cast<std::size_t>((position + 1) % 2)];
        std::size_t& nextSize = sizes[static_cast<std::size_t>((position + 1) % 2)];
        nextSize = 0;
        const bool fraction = position >= integerDigits;
        const int integerLeft = fraction ? 0 : integerDigits - position - 1;
        const int fractionLeft = fraction ? positions - position - 1 : positions - integerDigits;
        const char first = position == 0 && integerDigits > 1 ? '1' : '0';
        for (std::size_t p = 0; p < currentSize; ++p) {
            // The children that do not yet read above the target, in order.
            std::array<Prefix, 10> children;
            std::size_t count = 0;
            for (char digit = first; digit <= '9'; ++digit) {
                Prefix child = current[p];
                if (position == integerDigits) child.Add('.');
                child.Add(digit);
                if (integerLeft == 0) nearest(child, !fraction);
                if (Lowest(child.reading, integerLeft) > target) break;
                children[count++] = child;
            }
            // Of those, the ones whose nines reach the target: the highest few.
            std::size_t kept = count;
            while (kept > 0 && Highest(children[kept - 1].reading, integerLeft, !fraction,
                                       fractionLeft) >= target) {
                --kept;
            }
            for (std::size_t c = kept; c < count && nextSize < kMostPrefixes; ++c) {
                const float value = children[c].reading.value();
                bool seen = false;
                for (std::size_t k = 0; k < nextSize && !seen; ++k) {
                    seen = next[k].reading.value() == value;
                }
                if (!seen) next[nextSize++] = children[c];
            }
        }
        if (fraction) {
            for (std::size_t k = 0; k < nextSize; ++k) {
                if (next[k].reading.value() == target) {
                    literal = next[k].view();
                    return true;
                }
            }
        }
        if (nextSize == 0) break;
    }
    return false;
}

}  // namespace

bool IsDecimalNumber(std::string_view text) noexcept {
    text = WithoutSpaces(text);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    bool digits = false;
    bool point = false;
    for (const char c : text) {
        if (IsDigit(c)) {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

float ReadAsCompilers(std::string_view literal) noexcept {
    literal = WithoutSpaces(literal);
    const bool negative = !literal.empty() && literal.front() == '-';
    if (!literal.empty() && (literal.front() == '-' || literal.front() == '+')) {
        literal.remove_prefix(1);
    }
    CompilerReading reading;
    for (const char c : literal) reading.Take(c);
    return negative ? -reading.value() : reading.value();
}

std::string_view FloatLiterals::Exact(std::string_view text) {
    if (!IsDecimalNumber(text)) return text;
    std::string_view number = WithoutSpaces(text);
    const bool negative = number.front() == '-';
    if (number.front() == '-' || number.front() == '+') number.remove_prefix(1);
    float magnitude = 0;
    const char* const end = number.data() + number.size();
    const auto [stop, error] =
        std::from_chars(number.data(), end, magnitude, std::chars_format::fixed);
    if (error != std::errc() || stop != end) return text;  // beyond the float range
    const float read = ReadAsCompilers(text);
    const float wanted = negative ? -magnitude : magnitude;
    if (SameFloat(read, wanted)) return text;

    // Without a literal that reads the float, the nearest found, if it is
    // nearer than the text.
    if (!SearchLiteral(magnitude, literal_) &&
        (literal_.empty() || !(Gap(ReadAsCompilers(literal_), magnitude) < Gap(read, wanted)))) {
        return text;
    }
    if (negative) literal_.insert(literal_.begin(), '-');
    return literal_;
}

}  // namespace tsry
