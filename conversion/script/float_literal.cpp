#include "conversion/script/float_literal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>
#include <type_traits>

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

// A float has at most 39 digits before the point.
constexpr std::size_t kMostWholeDigits = 39;

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

// Non-negative floats in order, as their bit patterns are.
std::uint32_t OrderOf(float value) noexcept { return std::bit_cast<std::uint32_t>(value); }
float FloatAt(std::uint32_t order) noexcept { return std::bit_cast<float>(order); }

// The least float of 0 or more for which `holds`, a predicate that is false
// up to some float and true from there on, is true, given that it is true at
// `high` and a `guess` near the answer: a gallop from the guess, then halving.
template <typename Predicate>
float Least(const Predicate& holds, float guess, float high) noexcept {
    const std::uint32_t top = OrderOf(high);
    std::uint32_t start = std::isnan(guess) || guess <= 0 ? 0 : OrderOf(guess);
    start = std::min(start, top);
    // Mostly the guess or the float above it: both looked at at once.
    if (start > 0 && start < top) {
        const bool below = holds(FloatAt(start - 1));
        const bool at = holds(FloatAt(start));
        const bool above = holds(FloatAt(start + 1));
        // Which of the two, without a branch that guesses wrong half the time.
        if (!below && above) return FloatAt(start + (at ? 0U : 1U));
    }
    // `no` fails (or lies below 0, as -1), `yes` holds.
    std::int64_t no = -1;
    std::int64_t yes = top;
    if (holds(FloatAt(start))) {
        yes = start;
        for (std::int64_t step = 1; yes > no + 1; step *= 2) {
            const std::int64_t probe = yes - step;
            if (probe < 0) break;
            if (!holds(FloatAt(static_cast<std::uint32_t>(probe)))) {
                no = probe;
                break;
            }
            yes = probe;
        }
    } else {
        no = start;
        for (std::int64_t step = 1; yes > no + 1; step *= 2) {
            const std::int64_t probe = no + step;
            if (probe >= top) break;
            if (holds(FloatAt(static_cast<std::uint32_t>(probe)))) {
                yes = probe;
                break;
            }
            no = probe;
        }
    }
    while (yes > no + 1) {
        const std::int64_t middle = no + (yes - no) / 2;
        if (holds(FloatAt(static_cast<std::uint32_t>(middle)))) {
            yes = middle;
        } else {
            no = middle;
        }
    }
    return FloatAt(static_cast<std::uint32_t>(yes));
}

// What StaysWithin and ReachesTarget answer, from bounds worked out once
// per target. Each step of the reading is monotonic in the value so far, so
// whether the continuation with zeros stays at or below the target holds for
// every value up to some float and for none above, and whether the one with
// nines reaches it holds from some float on; and each bound follows from the
// one a digit later through one step: the least value whose step with a nine
// reaches the next bound, the greatest whose step with a zero stays within
// it. The walk then compares each prefix's reading with a bound instead of
// reading up to 59 more digits.
class ReadingBounds {
  public:
    // `integerLevels`: the most digits left before the point that the walk
    // asks about.
    ReadingBounds(float target, int integerLevels) noexcept {
        constexpr std::size_t kLast = FloatLiterals::kMostFractionDigits;
        // After the point: the nines of positions taken + 1 to the last.
        // Above 2^24 they add nothing to a value below the target: from 2^24
        // on a float's step is 2 or more, and below it they reach 2^24 at
        // most.
        fractionLeast_.fill(target);
        for (std::size_t taken = kLast; target <= kWholesReadExactly && taken-- > 0;) {
            const float next = fractionLeast_[taken + 1];
            const float nine = 9.0f * kFactors[taken + 1];
            fractionLeast_[taken] =
                Least([&](float v) { return v + nine >= next; }, next - nine, next);
        }
        // Before the point: the nines left there, then the point and every
        // nine after it.
        integerLeast_[0] = fractionLeast_[0];
        integerMost_[0] = target;
        const auto levels = static_cast<std::size_t>(integerLevels);
        for (std::size_t left = 1; left <= levels; ++left) {
            const float least = integerLeast_[left - 1];
            integerLeast_[left] = Least([&](float v) { return v * 10.0f + 9.0f >= least; },
                                        (least - 9.0f) / 10.0f, least);
            const float most = integerMost_[left - 1];
            const float above = Least([&](float v) { return v * 10.0f > most; }, most / 10.0f,
                                      std::numeric_limits<float>::infinity());
            integerMost_[left] = above == 0 ? -1.0f : FloatAt(OrderOf(above) - 1);
        }
    }

    // The greatest reading, with `left` digits to come before the point,
    // whose continuation with zeros stays at or below the target.
    [[nodiscard]] float MostBefore(std::size_t left) const noexcept { return integerMost_[left]; }
    // The least reading, with `left` digits to come before the point, whose
    // continuation with nines, then the point and nines up to the last
    // place, reaches the target.
    [[nodiscard]] float LeastBefore(std::size_t left) const noexcept { return integerLeast_[left]; }
    // The least reading, with `taken` digits after the point, whose
    // continuation with nines up to the last place reaches the target.
    [[nodiscard]] float LeastAfter(std::size_t taken) const noexcept {
        return fractionLeast_[taken];
    }

  private:
    std::array<float, FloatLiterals::kMostFractionDigits + 1> fractionLeast_;
    std::array<float, 40> integerLeast_;
    std::array<float, 40> integerMost_;
};

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
// smallest. The reference for the searches below, which find the same
// literal sooner.
bool SearchLiteral(float target, std::string& literal) {
    const bool wholesExact = target < kWholesReadExactly;
    const int integerDigits = wholesExact ? 0 : IntegerDigits(target);
    Walk walk(target);
    if (wholesExact) {
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

// Each digit's product with the factor of each place after the point, as
// the reading takes it: kPlaceValues[k][d] is d * f after k digits.
constexpr auto kPlaceValues = [] {
    std::array<std::array<float, 10>, FloatLiterals::kMostFractionDigits + 1> values{};
    for (std::size_t k = 1; k < values.size(); ++k) {
        for (std::size_t d = 0; d < 10; ++d) values[k][d] = static_cast<float>(d) * kFactors[k];
    }
    return values;
}();

// SearchLiteral for a target below 2^24, step for step,
// with the reading written out for what it meets there: a whole part that
// reads exactly, then digits after the point, each adding its place value.
// The same prefixes in the same order, the same checks and the same choice,
// in a fraction of the time, as most floats written lie here.
bool SearchBelowWholes(float target, std::string& literal) {
    constexpr std::size_t kLast = FloatLiterals::kMostFractionDigits;
    struct Small {
        float value;
        std::uint32_t whole;
        std::array<char, kLast> digits;
    };
    std::array<std::array<Small, kMostPrefixes>, 2> levels;
    std::array<std::size_t, 2> sizes = {0, 0};
    std::size_t current = 0;
    // ReachesTarget after `taken` digits after the point.
    auto reaches = [target](float value, std::size_t taken) {
        for (std::size_t k = taken + 1; k <= kLast && value < target; ++k) {
            const float before = value;
            value = value + kPlaceValues[k][9];
            if (value == before) break;
        }
        return value >= target;
    };
    const auto whole = static_cast<std::uint32_t>(target);
    for (std::uint32_t start = whole == 0 ? 0 : whole - 1; start <= whole; ++start) {
        const auto value = static_cast<float>(start);
        if (reaches(value, 0)) levels[current][sizes[current]++] = Small{value, start, {}};
    }
    for (std::size_t taken = 1; taken <= kLast && sizes[current] != 0; ++taken) {
        const std::size_t next = 1 - current;
        auto& level = levels[next];
        std::size_t& size = sizes[next];
        size = 0;
        for (std::size_t p = 0; p < sizes[current]; ++p) {
            const Small& parent = levels[current][p];
            std::array<float, 10> children;
            std::size_t count = 0;
            for (; count < 10; ++count) {
                const float child = parent.value + kPlaceValues[taken][count];
                if (!(child <= target)) break;
                children[count] = child;
            }
            std::size_t kept = count;
            while (kept > 0 && reaches(children[kept - 1], taken)) --kept;
            for (std::size_t c = kept; c < count; ++c) {
                // Most often a child reads as its elder sibling, which went
                // where this one would.
                if (c > kept && children[c] == children[c - 1]) continue;
                bool seen = false;
                for (std::size_t k = 0; k < size && !seen; ++k)
                    seen = level[k].value == children[c];
                if (seen || size == kMostPrefixes) continue;
                Small& child = level[size++];
                child = parent;
                child.value = children[c];
                child.digits[taken - 1] = static_cast<char>('0' + c);
            }
        }
        current = next;
        for (std::size_t k = 0; k < size; ++k) {
            if (level[k].value != target) continue;
            std::array<char, 16> digits;
            const auto end = std::to_chars(digits.begin(), digits.end(), level[k].whole).ptr;
            literal.assign(digits.data(), end);
            literal += '.';
            literal.append(level[k].digits.data(), taken);
            return true;
        }
    }
    return false;
}

// SearchLiteral for a target of 2^24 or more, step for step, with the
// reading written out and ReadingBounds for StaysWithin and ReachesTarget:
// the same prefixes in the same order and the same choice, without reading
// up to 59 more digits for every child of every prefix.
bool SearchAboveWholes(float target, std::string& literal) {
    constexpr std::size_t kLast = FloatLiterals::kMostFractionDigits;
    const int integerDigits = IntegerDigits(target);
    const auto wholeDigits = static_cast<std::size_t>(integerDigits);
    const ReadingBounds bounds(target, integerDigits);
    struct Wide {
        float value;
        std::array<char, kMostWholeDigits + kLast> digits;
    };
    std::array<std::array<Wide, kMostPrefixes>, 2> levels;
    std::array<std::size_t, 2> sizes = {0, 0};
    std::size_t current = 0;
    if (0.0f >= bounds.LeastBefore(wholeDigits)) levels[current][sizes[current]++] = Wide{0, {}};
    // `parent` with `digit` at `at` to the next level, unless a smaller
    // prefix there reads the same.
    auto add = [&](const Wide& parent, std::size_t at, std::size_t digit, float value) {
        auto& level = levels[1 - current];
        std::size_t& size = sizes[1 - current];
        for (std::size_t k = 0; k < size; ++k) {
            if (level[k].value == value) return;
        }
        if (size == kMostPrefixes) return;
        Wide& child = level[size++];
        child = parent;
        child.value = value;
        child.digits[at] = static_cast<char>('0' + digit);
    };
    // Grows every prefix by the digit at `at`: the children from `first` up
    // that stay at or below `most`, and of those the highest that reach
    // `least`, unless a smaller prefix of the new level reads the same.
    auto grow = [&](std::size_t at, std::size_t first, auto step, float most, float least) {
        const std::size_t next = 1 - current;
        sizes[next] = 0;
        for (std::size_t p = 0; p < sizes[current]; ++p) {
            const Wide& parent = levels[current][p];
            std::array<float, 10> children;
            std::size_t count = 0;
            // Far past 2^24 every digit mostly gives one reading, as the
            // reading is monotonic in the digit: then the first child alone
            // may go on, as the others read as it does.
            const float lowest = step(parent.value, first);
            if (lowest == step(parent.value, 9)) {
                if (lowest <= most && lowest >= least) add(parent, at, first, lowest);
                continue;
            }
            for (std::size_t digit = first; digit < 10; ++digit, ++count) {
                const float child = step(parent.value, digit);
                if (!(child <= most)) break;
                children[count] = child;
            }
            std::size_t kept = count;
            while (kept > 0 && children[kept - 1] >= least) --kept;
            for (std::size_t c = kept; c < count; ++c) {
                // Most often a child reads as its elder sibling, which went
                // where this one would.
                if (c > kept && children[c] == children[c - 1]) continue;
                add(parent, at, first + c, children[c]);
            }
        }
        current = next;
    };
    for (std::size_t at = 0; at < wholeDigits && sizes[current] != 0; ++at) {
        const std::size_t left = wholeDigits - at - 1;
        grow(
            at, at == 0 ? 1 : 0,
            [](float value, std::size_t digit) {
                return value * 10.0f + static_cast<float>(digit);
            },
            bounds.MostBefore(left), bounds.LeastBefore(left));
    }
    for (std::size_t taken = 1; taken <= kLast && sizes[current] != 0; ++taken) {
        grow(
            wholeDigits + taken - 1, 0,
            [taken](float value, std::size_t digit) { return value + kPlaceValues[taken][digit]; },
            target, bounds.LeastAfter(taken));
        for (std::size_t k = 0; k < sizes[current]; ++k) {
            const Wide& found = levels[current][k];
            if (found.value != target) continue;
            literal.assign(found.digits.data(), wholeDigits);
            literal += '.';
            literal.append(found.digits.data() + wholeDigits, taken);
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

// The shape of `text` if it is a decimal number (IsDecimalNumber). `take` is
// called with each digit and point of its token, in order, so that one pass
// over the text can read it as well.
template <typename Take>
std::optional<NumberShape> ShapeOf(std::string_view text, Take&& take) noexcept {
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
        take(text[at]);
    }
    shape.tokenEnd = at;
    if (!digits || SkipSpaces(text, at) != text.size()) return std::nullopt;
    return shape;
}

std::optional<NumberShape> ShapeOf(std::string_view text) noexcept {
    return ShapeOf(text, [](char) {});
}

// The digits of a number's token taken one at a time, as a whole number
// without the point, while it has at most 19 digits past its leading zeros,
// and the count of digits after the point.
class DecimalDigits {
  public:
    void Take(char c) noexcept {
        if (c == '.') {
            point_ = true;
            return;
        }
        afterPoint_ += point_ ? 1 : 0;
        // Leading zeros leave the whole number at 0; past 19 digits it stays
        // as it is, far above what Nearest takes.
        if (whole_ < kWholeDigitsEnd) whole_ = whole_ * 10 + static_cast<std::uint64_t>(c - '0');
    }

    // The float nearest the number, when doubles settle it without reading
    // the token again: a whole number of at most 2^53 and at most 22 digits
    // after the point, so that the whole number and the power of ten are
    // doubles exactly and their quotient is the double nearest the number.
    // Rounding that double to a float gives the float nearest the number,
    // unless the double lies halfway between two floats: then the number
    // may lie to either side of it.
    [[nodiscard]] std::optional<float> Nearest() const noexcept {
        if (whole_ > (std::uint64_t{1} << 53) || afterPoint_ > 22) {
            return std::nullopt;
        }
        const double quotient =
            static_cast<double>(whole_) / kPowersOfTen[static_cast<std::size_t>(afterPoint_)];
        // Within the float range, well away from its smallest floats, a
        // double has 29 bits more than a float: halfway when they are
        // 1 then 28 zeros.
        constexpr std::uint64_t kBelowFloat = (std::uint64_t{1} << 29) - 1;
        if ((std::bit_cast<std::uint64_t>(quotient) & kBelowFloat) == kBelowFloat / 2 + 1) {
            return std::nullopt;
        }
        return static_cast<float>(quotient);
    }

  private:
    static constexpr std::array<double, 23> kPowersOfTen = [] {
        std::array<double, 23> powers{};
        double power = 1;
        for (double& p : powers) {
            p = power;
            power *= 10;
        }
        return powers;
    }();

    // A whole number that has 19 digits.
    static constexpr std::uint64_t kWholeDigitsEnd = 1'000'000'000'000'000'000;

    std::uint64_t whole_ = 0;
    int afterPoint_ = 0;
    bool point_ = false;
};

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
        // Fewer characters than the digits of the float range's whole part:
        // within it, as most numbers are.
        if (text.size() < kMostWholeDigits) return FloatField::kNumber;
        const std::string_view token = shape->Token(text);
        const std::size_t first = token.find_first_not_of('0');
        const std::size_t wholeDigits =
            first == std::string_view::npos ? 0 : std::min(token.size(), token.find('.')) - first;
        // The halfway point between the greatest float and 2^128, where the
        // nearest float becomes infinity (a tie rounds to the even 2^128):
        // a whole part of its 39 digits compares as the number does.
        constexpr std::string_view kInfinityFrom = "340282356779733661637539395458142568448";
        static_assert(kInfinityFrom.size() == kMostWholeDigits);
        if (wholeDigits > kMostWholeDigits || (wholeDigits == kMostWholeDigits &&
                                               token.substr(first, wholeDigits) >= kInfinityFrom)) {
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

std::string_view FloatLiterals::Shortest(float value) { return Search(value, false); }

std::string_view FloatLiterals::ShortestByFullSearch(float value) { return Search(value, true); }

std::string_view FloatLiterals::Search(float value, bool fullSearch) {
    const float magnitude = std::fabs(value);
    // Below 2^24 the continuations are short, as most of a literal lies
    // after the point, where a nine soon adds nothing: reading them out costs
    // less than working out the bounds. Above it, the whole part alone may
    // have 39 digits to read out for every child.
    const bool found = fullSearch                       ? SearchLiteral(magnitude, literal_)
                       : magnitude < kWholesReadExactly ? SearchBelowWholes(magnitude, literal_)
                                                        : SearchAboveWholes(magnitude, literal_);
    if (!found) return {};
    if (std::signbit(value)) literal_.insert(literal_.begin(), '-');
    return literal_;
}

std::string_view FloatLiterals::Exact(std::string_view text) {
    // One pass over the text finds its shape, reads it as the compilers do
    // and, for the short numbers that the game logs, finds the nearest float.
    CompilerReading reading;
    DecimalDigits digits;
    const std::optional<NumberShape> shape = ShapeOf(text, [&](char c) {
        reading.Take(c);
        digits.Take(c);
    });
    if (!shape) return text;
    const std::string_view token = shape->Token(text);
    float magnitude = 0;
    if (const std::optional<float> nearest = digits.Nearest()) {
        magnitude = *nearest;
    } else if (!NearestFloat(token, magnitude)) {
        return text;
    }
    const float wanted = shape->negative ? -magnitude : magnitude;
    const bool plus = shape->sign != std::string_view::npos && !shape->negative;
    if (token.size() <= kLongestToken) {
        // The text as it stands, but without a "+" (which the older compiler
        // refuses) and with a point: what the game logs most often reads so.
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
    if (!Shortest(wanted).empty()) return literal_;
    WriteScaled(wanted, literal_);
    return literal_;
}

}  // namespace tsry
