#include "bench/log_generator.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "conversion/script/float_literal.h"

namespace tsry::bench {

namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::uint64_t Below(std::uint64_t n) { return Next() % n; }
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

  private:
    std::uint64_t state_;
};

constexpr std::array<std::string_view, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kChatter = {
    "Autosave: characters saved.",
    "Player Mirel (CD-KEY QWX7R2PK) connected from 10.0.0.23",
    "Kael Thornwood : [Party] anyone for the crypt?",
    "Kael Thornwood killed a Ghoul Lord (CR 9)",
    "Player Mirel disconnected.",
    "Loading area: ar_harbour_01",
    "Script warning: OnHeartbeat took 12 ms in ar_crypt_entry",
    "Sora [DM] : the gates close at midnight <server time>",
    "Persistence: export begins",
    "Ingrid Vale : [Shout] Selling potions of healing, 40 gold each!",
    "Module heartbeat: 18 creatures, 4 players, 2 DMs",
    "Encounter spawned: en_wolves_03 (4 creatures)",
};
constexpr std::array<std::string_view, 4> kKinds = {"INT", "STR", "FLT", "LOC"};
constexpr std::array<std::string_view, 6> kOddKinds = {"OBJ", "int", "INT ", "", "Str", "LOC2"};

void AppendNumber(std::string& out, std::uint64_t value) {
    char digits[24];
    const int n =
        std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(value));
    out.append(digits, static_cast<std::size_t>(n));
}

void AppendTimestamp(std::string& out, std::uint64_t second) {
    char stamp[40];
    const int n = std::snprintf(stamp, sizeof stamp, "[%s Nov %2llu %02llu:%02llu:%02llu] ",
                                kDays[(second / 86400) % 7].data(),
                                static_cast<unsigned long long>(1 + (second / 86400) % 28),
                                static_cast<unsigned long long>((second / 3600) % 24),
                                static_cast<unsigned long long>((second / 60) % 60),
                                static_cast<unsigned long long>(second % 60));
    out.append(stamp, static_cast<std::size_t>(n));
}

void AppendName(std::string& out, std::uint64_t index) {
    out += "PW_VAR_";
    AppendNumber(out, index);
}

void AppendValue(std::string& out, std::string_view kind, Random& random, bool tricky) {
    if (kind == "INT") {
        AppendNumber(out, random.Below(100000));
    } else if (kind == "FLT") {
        AppendNumber(out, random.Below(1000));
        out += '.';
        AppendNumber(out, random.Below(100));
    } else if (kind == "LOC") {
        out += "ar_area_";
        AppendNumber(out, random.Below(200));
        for (int k = 0; k < 4; ++k) {
            out += '*';
            AppendNumber(out, random.Below(500));
            out += ".5";
        }
        out += '*';
    } else {
        static constexpr std::array<std::string_view, 5> kTexts = {
            "Warden of the North Gate", "Crypt Delver", "quest_step_4", "C:\\pw\\rules.txt",
            "the \"Isles\""};
        out += kTexts[random.Below(tricky ? kTexts.size() : 3)];
    }
}

// A float as the game writes one: a random one in [0, `range`), nine decimals,
// padded to 18 characters.
void AppendGameFloat(std::string& out, Random& random, double range) {
    char text[64];
    const auto value = static_cast<float>(random.Unit() * range);
    const int n = std::snprintf(text, sizeof text, "%18.9f", static_cast<double>(value));
    out.append(text, static_cast<std::size_t>(n));
}

// The Value of a record of `kind`, FLT or LOC, made of game floats: a rate, or
// a place in an area and a facing.
void AppendFloatValue(std::string& out, std::string_view kind, Random& random) {
    if (kind == "FLT") {
        AppendGameFloat(out, random, 1000.0);
        return;
    }
    out += "ar_area_";
    AppendNumber(out, random.Below(200));
    for (const double range : {320.0, 320.0, 20.0, 360.0}) {
        out += '*';
        AppendGameFloat(out, random, range);
    }
    out += '*';
}

// A number that needs one of the slowest literals, as logged, and the float
// it names: near the top of the float range with nine decimals (a whole part
// of 39 digits), or for a FLT value a small one that needs 9 to 20 digits
// after the point, written with as few digits as name it. Drawn again until
// the compilers would read the text otherwise.
std::string SlowFloatText(Random& random, bool location) {
    for (;;) {
        char text[96];
        if (location) {
            const auto bits = static_cast<std::uint32_t>(0x7E800000U + random.Below(0x00FFFFFFU));
            const auto value = std::bit_cast<float>(bits);
            std::snprintf(text, sizeof text, "%18.9f", static_cast<double>(value));
            if (std::bit_cast<std::uint32_t>(ReadAsCompilers(text)) != bits) return text;
        } else {
            const auto value = static_cast<float>(std::pow(10.0, -2.0 - 10.0 * random.Unit()));
            const auto end =
                std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
            const std::string literal(text, end.ptr);
            if (ReadAsCompilers(literal) != value) return literal;
        }
    }
}

// The Value of a record of `kind`, FLT or LOC, made of slow floats from
// `slow`, or of plain halves from `random` in their place.
void AppendSlowFloatValue(std::string& out, std::string_view kind, Random& random, Random& slow,
                          bool halves, std::uint64_t& skipped) {
    auto number = [&](bool location) {
        const std::string text = SlowFloatText(slow, location);
        if (!halves) {
            out += text;
            return;
        }
        const std::size_t before = out.size();
        AppendNumber(out, 1 + text.size() % 9);  // no longer than the slow text
        out += ".5";
        skipped += text.size() - (out.size() - before);
    };
    if (kind == "FLT") {
        number(false);
        return;
    }
    out += "ar_area_";
    AppendNumber(out, random.Below(200));
    for (int k = 0; k < 4; ++k) {
        out += '*';
        number(true);
    }
    out += '*';
}

}  // namespace

std::uint64_t ParseSize(std::string_view text) {
    if (text.empty()) return 0;
    std::uint64_t unit = 1;
    switch (text.back()) {
        case 'K':
        case 'k':
            unit = 1ULL << 10;
            break;
        case 'M':
        case 'm':
            unit = 1ULL << 20;
            break;
        case 'G':
        case 'g':
            unit = 1ULL << 30;
            break;
        default:
            break;
    }
    if (unit != 1) text.remove_suffix(1);
    if (text.empty()) return 0;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value * unit;
}

void GenerateLongLine(std::uint64_t bytes, bool hugeValue, std::ostream& out) {
    const std::string chatter = "Script warning: OnHeartbeat took 12 ms in ar_crypt_entry. ";
    auto pad = [&](std::uint64_t n) {
        std::string block;
        while (block.size() < (1 << 20)) block += chatter;
        for (; n >= block.size(); n -= block.size()) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        out.write(block.data(), static_cast<std::streamsize>(n));
    };
    const std::uint64_t half = bytes / 2;
    out << "[Sat Nov 14 18:00:05] ";
    if (hugeValue) {
        out << "<TS_RY>STR#PW_BIG#";
        pad(bytes > 64 ? bytes - 64 : 0);
        out << "#0#0#0#\r\n";
    } else {
        pad(half);
        out << "<TS_RY>STR#PW_TITLE_Aldren#Warden of the North Gate#0#0#0#";
        pad(bytes > half + 128 ? bytes - half - 128 : 0);
        out << "\r\n";
    }
}

std::uint64_t GenerateLog(const LogShape& shape, std::ostream& out) {
    Random random(shape.seed);
    std::string buffer;
    buffer.reserve(1 << 20);
    std::uint64_t written = 0;
    std::uint64_t lines = 0;
    std::uint64_t second = 18 * 3600;
    const std::uint64_t names = shape.names == 0 ? 1 : shape.names;
    // The slow floats come from a stream of their own, so that the halves'
    // log draws the same records; `skipped` counts the bytes by which its
    // numbers are shorter.
    Random slow(shape.seed ^ 0x51077F10A75ULL);
    std::uint64_t skipped = 0;
    const bool floatsOnly = shape.floats || shape.slowFloats;

    while (written + skipped + buffer.size() < shape.bytes) {
        second += random.Below(3);
        const std::size_t lineStart = buffer.size();
        AppendTimestamp(buffer, second);
        if (random.Unit() < shape.taggedShare) {
            std::string_view kind =
                floatsOnly ? kKinds[2 + random.Below(2)] : kKinds[random.Below(kKinds.size())];
            if (shape.tricky) {
                const std::uint64_t odd = random.Below(40);
                if (odd == 0) kind = kOddKinds[random.Below(kOddKinds.size())];
                if (odd == 1) buffer.resize(lineStart);  // the tag at the start of the line
                if (odd == 2) buffer += "<TS_RY";        // a broken tag first
            }
            buffer += "<TS_RY>";
            buffer += kind;
            buffer += '#';
            AppendName(buffer, random.Below(names));
            buffer += '#';
            if (shape.slowFloats) {
                AppendSlowFloatValue(buffer, kind, random, slow, shape.halves, skipped);
            } else if (shape.floats) {
                AppendFloatValue(buffer, kind, random);
            } else {
                AppendValue(buffer, kind, random, shape.tricky);
            }
            buffer += '#';
            AppendNumber(buffer, random.Below(3));
            buffer += "#0#";
            if (shape.tricky && random.Below(10) == 0) {
                buffer += " -1";  // an extra padded as the game pads numbers
            } else {
                buffer += 'x';
            }
            buffer += '#';
            if (shape.tricky && random.Below(20) == 0) buffer += "trailing <TS_RY>INT#a#1#";
        } else {
            buffer += kChatter[random.Below(kChatter.size())];
            if (shape.tricky && random.Below(500) == 0) buffer.append(70000, '=');
        }
        buffer += shape.lineEnd;
        ++lines;
        if (buffer.size() >= (1 << 20) - 4096 - 70000) {
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            written += buffer.size();
            buffer.clear();
        }
    }
    if (shape.tricky && !buffer.empty()) {
        buffer.resize(buffer.size() - shape.lineEnd.size());  // no end on the last line
    }
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    return lines;
}

}  // namespace tsry::bench
