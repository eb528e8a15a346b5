#include "conversion/script/float_literal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
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

// `text` without the spaces before it.
std::string_view WithoutSpaces(std::string_view text) noexcept {
    const std::size_t start = text.find_first_not_of(' ');
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

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
        // Every whole part reads exactly, and the target's own is the one to
        // start from: a smaller one with nines after it reads at most about
        // the target's whole part, which that reaches with ".0".
        std::array<char, 16> digits;
        const auto [end, error] =
            std::to_chars(digits.begin(), digits.end(), static_cast<std::uint32_t>(target));
        walk.Start({digits.data(), static_cast<std::size_t>(end - digits.data())}, 0);
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
    const float wanted = negative ? -magnitude : magnitude;
    if (number.find('.') == std::string_view::npos) {
        // A whole number stands where the game wants a float only with a
        // point: the same digits with one, where they read so.
        literal_.assign(text).append(".0");
        if (SameFloat(ReadAsCompilers(literal_), wanted)) return literal_;
    } else if (SameFloat(ReadAsCompilers(text), wanted)) {
        return text;
    }

    // Past about 10^8 the reading skips floats: one that no literal reaches
    // is written as it stands.
    if (!SearchLiteral(magnitude, literal_)) return text;
    if (negative) literal_.insert(literal_.begin(), '-');
    return literal_;
}

}  // namespace tsry
