// The manual pages describe exactly the options the programs' --help lists.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/convert_command.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using Options = std::set<std::string>;

// Every -x and --word that starts a word of `text`.
Options OptionsIn(const std::string& text) {
    static const std::regex kOption(R"((?:^|[\s,(\[|])(--?[A-Za-z][A-Za-z0-9-]*))");
    Options options;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kOption);
         it != std::sregex_iterator(); ++it) {
        options.insert((*it)[1].str());
    }
    return options;
}

// The options a manual page describes: those in the tags of its OPTIONS
// section (the line after each .TP), with roff's "\-" read as "-" and its font
// changes dropped.
Options OptionsDescribedIn(const std::string& page) {
    std::istringstream lines(test::ReadFile(std::string(TSRY_MANUAL_DIR "/") + page));
    static const std::regex kFont(R"(\\f[BIRP])");
    static const std::regex kMinus(R"(\\-)");
    std::string tags;
    bool inOptions = false;
    bool tagNext = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(".SH")) inOptions = line == ".SH OPTIONS";
        if (!inOptions) continue;
        if (tagNext)
            tags += std::regex_replace(std::regex_replace(line, kFont, ""), kMinus, "-") + '\n';
        tagNext = line == ".TP";
    }
    return OptionsIn(tags);
}

TEST(ManualPage, DescribesEveryOptionOfTsryConvert) {
    const char* const argv[] = {"tsry-convert", "--help"};
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunConvertCommand(2, argv, out, err, false), 0);
    const Options listed = OptionsIn(out.str());
    ASSERT_TRUE(listed.contains("--output")) << out.str();
    EXPECT_EQ(OptionsDescribedIn("tsry-convert.1.in"), listed);
}

// The example unit that runs a follower passes systemd's own check, with
// the program where the package puts it replaced by the one built here.
TEST(ServiceExample, PassesSystemdAnalyzeVerify) {
    test::TempDir dir;
    std::string unit = test::ReadFile(TSRY_MANUAL_DIR "/examples/tsry-follow.service");
    for (const std::string line : {"ProtectSystem=strict\n", "NoNewPrivileges=yes\n",
                                   "ReadWritePaths=", "User=tsry\n", "--follow", "--keep "}) {
        EXPECT_NE(unit.find(line), std::string::npos) << line;
    }
    const std::string installed = "/usr/bin/tsry-convert";
    const std::size_t at = unit.find(installed);
    ASSERT_NE(at, std::string::npos);
    unit.replace(at, installed.size(), TSRY_CONVERT_EXE);
    test::WriteFile(dir / "tsry-follow.service", unit);
    std::string said;
    EXPECT_EQ(test::Shell("systemd-analyze verify --man=no '" +
                              (dir / "tsry-follow.service").string() + "' 2>&1",
                          &said),
              0)
        << said;
    EXPECT_EQ(said, "");
}

#ifdef TSRY_WINDOW_EXE
TEST(ManualPage, DescribesEveryOptionOfTsryLogParser) {
    std::string help;
    // --help needs no display.
    ASSERT_EQ(test::Shell("env -u DISPLAY -u WAYLAND_DISPLAY '" TSRY_WINDOW_EXE "' --help", &help),
              0);
    const Options listed = OptionsIn(help);
    ASSERT_TRUE(listed.contains("--version")) << help;
    EXPECT_EQ(OptionsDescribedIn("tsry-log-parser.1.in"), listed);
}
#endif

}  // namespace
}  // namespace tsry
