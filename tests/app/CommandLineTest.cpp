// The launcher's command line read into its options, and written back for the log.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/InstallPaths.h"
#include "tests/support/RecordingPlatform.h"

namespace {

// An argument the code page could not express.
const fw::CommandArgument kLost{"?", false};

std::vector<fw::CommandArgument> Given(const std::vector<std::string>& texts) {
    std::vector<fw::CommandArgument> arguments;
    for (const std::string& text : texts) {
        arguments.push_back({text, true});
    }
    return arguments;
}

TEST(CommandLineTest, ReadsSwitchesAndWhatFollowsTheirEndAndSaysWhatItCannotUse) {
    struct Case {
        std::vector<fw::CommandArgument> arguments;
        bool silent = false;
        bool help = false;
        std::optional<std::string> logFile = std::nullopt;
        std::vector<std::string> setupArguments = {};
        std::string problem = "";  // empty: none
        std::string refusal = "";  // empty: none
    };
    const std::string notFollowed = " is not followed by the name of the log file";
    // Each argument takes a blank before it on the line.
    const std::string longest(kSetupArgumentsLimit - 1, 'x');
    const std::string tooLong(kSetupArgumentsLimit, 'x');
    const Case cases[] = {
        {{}},
        {Given({"/S", "-QUIET", "/s", "-quiet"}), true},
        {Given({"-Help"}), false, true},
        {Given({"/?", "/x"}),
         false,
         true,
         std::nullopt,
         {},
         "'/x' is not a switch of this program"},
        {Given({"/LOG", "C:\\x.log"}), false, false, "C:\\x.log"},
        // A path may begin with '/' or '-'; this program's switches and "--" may not.
        {Given({"-log", "/tmp/x.log"}), false, false, "/tmp/x.log"},
        {Given({"/log"}), false, false, std::nullopt, {}, "'/log'" + notFollowed},
        {Given({"/log", "-s"}), true, false, std::nullopt, {}, "'/log'" + notFollowed},
        {Given({"/log", "--", "a"}), false, false, std::nullopt, {"a"}, "'/log'" + notFollowed},
        {Given({"/log", ""}), false, false, std::nullopt, {}, "'/log'" + notFollowed},
        {Given({"/log", "a", "-LOG", "b"}),
         false,
         false,
         "a",
         {},
         "'-LOG' is given more than once"},
        {{{"/log", true}, kLost},
         false,
         false,
         std::nullopt,
         {},
         "argument 2 holds a character that this computer's code page cannot express"},
        {Given({"setup.exe"}),
         false,
         false,
         std::nullopt,
         {},
         "'setup.exe' is not a switch of this program (what SETUP.exe is to be given follows --)"},
        {Given({"-"}), false, false, std::nullopt, {}, "'-' is not a switch of this program"},
        {Given({"/S", "/Silent"}), true, false, std::nullopt, {}, "'/Silent' is not a switch"},
        {{kLost, {"/S", true}},
         true,
         false,
         std::nullopt,
         {},
         "argument 1 holds a character that this computer's code page cannot express"},
        // After "--" everything is SETUP.exe's, switches and "--" too.
        {Given({"--"})},
        {Given({"--", "/S", "--", "/log", ""}),
         false,
         false,
         std::nullopt,
         {"/S", "--", "/log", ""}},
        {{{"/S", true}, {"--", true}, {"a", true}, kLost},
         true,
         false,
         std::nullopt,
         {"a"},
         "",
         "its argument 4 holds a character that this computer's code page cannot express"},
        {Given({"--", "ok", "a\nb", "50%"}),
         false,
         false,
         std::nullopt,
         {"ok", "a\nb", "50%"},
         "",
         "its argument 'a\nb' cannot be passed to it on a command line: it holds a control "
         "character"},
        {Given({"--", longest}), false, false, std::nullopt, {longest}},
        {Given({"--", tooLong}),
         false,
         false,
         std::nullopt,
         {tooLong},
         "",
         "its arguments are longer than a command line can be"},
        {Given({"/x", "--", "50%"}),
         false,
         false,
         std::nullopt,
         {"50%"},
         "'/x' is not a switch of this program",
         "its argument '50%' cannot be passed"},
    };
    fw::test::RecordingPlatform platform;
    for (const Case& c : cases) {
        std::string trace;
        for (const fw::CommandArgument& a : c.arguments) {
            trace += "[" + a.text + "]";
        }
        SCOPED_TRACE(trace);
        const LaunchOptions options = ReadCommandLine(c.arguments);
        EXPECT_EQ(options.silent, c.silent);
        EXPECT_EQ(options.help, c.help);
        EXPECT_EQ(options.logFile, c.logFile);
        EXPECT_EQ(options.setupArguments, c.setupArguments);
        EXPECT_EQ(options.problem.rfind(c.problem, 0), 0u) << options.problem;
        EXPECT_EQ(options.problem.empty(), c.problem.empty()) << options.problem;
        EXPECT_EQ(options.refusal.rfind(c.refusal, 0), 0u) << options.refusal;
        EXPECT_EQ(options.refusal.empty(), c.refusal.empty()) << options.refusal;
    }
    EXPECT_EQ(CommandLineText({{"/S", true}, {"--", true}, {"a b", true}, {"", true}, kLost}),
              "/S -- \"a b\" \"\" <argument 5: not in this computer's code page>");
}

}  // namespace
