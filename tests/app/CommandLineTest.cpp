// The launcher's command line read into its options, and written back for the log.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/LaunchCommand.h"
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

// What follows "--", as the entry hands it on.
fw::CommandArgument Tail(std::string text, bool expressible = true) {
    return {std::move(text), expressible};
}

TEST(CommandLineTest, ReadsSwitchesAndWhatFollowsTheirEndAndSaysWhatItCannotUse) {
    struct Case {
        std::vector<fw::CommandArgument> arguments;
        std::optional<fw::CommandArgument> tail = std::nullopt;
        bool silent = false;
        bool help = false;
        std::optional<std::string> logFile = std::nullopt;
        std::optional<std::string> setupArguments = std::nullopt;
        std::string problem = "";  // empty: none
        std::string refusal = "";  // empty: none
    };
    const std::string notFollowed = " is not followed by the name of the log file";
    // The longest text SETUP.exe can be given, counted in characters: a double-byte
    // character of code page 936 is one.
    const std::string longest(kSetupArgumentsLimit, 'x');
    const std::string longestInPairs =
        std::string(kSetupArgumentsLimit - 2, 'x') + "\xB0\xB2\xD7\xB0";
    const Case cases[] = {
        {{}},
        {Given({"/S", "-QUIET", "/s", "-quiet"}), std::nullopt, true},
        {Given({"-Help"}), std::nullopt, false, true},
        {Given({"/?", "/x"}), std::nullopt, false, true, std::nullopt, std::nullopt,
         "'/x' is not a switch of this program"},
        {Given({"/LOG", "C:\\x.log"}), std::nullopt, false, false, "C:\\x.log"},
        // A path may begin with '/' or '-'; this program's switches may not.
        {Given({"-log", "/tmp/x.log"}), std::nullopt, false, false, "/tmp/x.log"},
        {Given({"/log"}), std::nullopt, false, false, std::nullopt, std::nullopt,
         "'/log'" + notFollowed},
        {Given({"/log", "-s"}), std::nullopt, true, false, std::nullopt, std::nullopt,
         "'/log'" + notFollowed},
        {Given({"/log"}), Tail("a"), false, false, std::nullopt, "a", "'/log'" + notFollowed},
        {Given({"/log", ""}), std::nullopt, false, false, std::nullopt, std::nullopt,
         "'/log'" + notFollowed},
        {Given({"/log", "a", "-LOG", "b"}), std::nullopt, false, false, "a", std::nullopt,
         "'-LOG' is given more than once"},
        {{{"/log", true}, kLost},
         std::nullopt,
         false,
         false,
         std::nullopt,
         std::nullopt,
         "argument 2 holds a character that this computer's code page cannot express"},
        {Given({"setup.exe"}), std::nullopt, false, false, std::nullopt, std::nullopt,
         "'setup.exe' is not a switch of this program (what SETUP.exe is to be given follows --)"},
        {Given({"-"}), std::nullopt, false, false, std::nullopt, std::nullopt,
         "'-' is not a switch of this program"},
        {Given({"/S", "/Silent"}), std::nullopt, true, false, std::nullopt, std::nullopt,
         "'/Silent' is not a switch"},
        {{kLost, {"/S", true}},
         std::nullopt,
         true,
         false,
         std::nullopt,
         std::nullopt,
         "argument 1 holds a character that this computer's code page cannot express"},
        // After "--" everything is SETUP.exe's as it stands: switches, "--", quotes, '%',
        // the interpreter's characters, blanks at either end.
        {{}, Tail(""), false, false, std::nullopt, ""},
        {Given({"/S"}), Tail("/S -- /log \"\""), true, false, std::nullopt, "/S -- /log \"\""},
        {{},
         Tail(" %PATH% 50% ^ & | < > \"a b\" \\\"q\\\" /D=C:\\Program Files\\X "),
         false,
         false,
         std::nullopt,
         " %PATH% 50% ^ & | < > \"a b\" \\\"q\\\" /D=C:\\Program Files\\X "},
        {Given({"/S"}), Tail("a", false), true, false, std::nullopt, "a", "",
         "its arguments hold a character that this computer's code page cannot express"},
        {{},
         Tail("ok a\nb"),
         false,
         false,
         std::nullopt,
         "ok a\nb",
         "",
         "its arguments hold a control character"},
        {{},
         Tail("a\tb"),
         false,
         false,
         std::nullopt,
         "a\tb",
         "",
         "its arguments hold a control character"},
        {{}, Tail(longest), false, false, std::nullopt, longest},
        {{},
         Tail(longest + "x"),
         false,
         false,
         std::nullopt,
         longest + "x",
         "",
         "its arguments are longer than a command line can be"},
        {{}, Tail(longestInPairs), false, false, std::nullopt, longestInPairs},
        {Given({"/x"}), Tail("\x01"), false, false, std::nullopt, "\x01",
         "'/x' is not a switch of this program", "its arguments hold a control character"},
    };
    fw::test::RecordingPlatform platform;
    platform.script.codePage = 936;
    for (const Case& c : cases) {
        std::string trace;
        for (const fw::CommandArgument& a : c.arguments) {
            trace += "[" + a.text + "]";
        }
        if (c.tail) {
            trace += " -- [" + c.tail->text + "]";
        }
        SCOPED_TRACE(trace);
        const LaunchOptions options = ReadCommandLine({c.arguments, c.tail});
        EXPECT_EQ(options.silent, c.silent);
        EXPECT_EQ(options.help, c.help);
        EXPECT_EQ(options.logFile, c.logFile);
        EXPECT_EQ(options.setupArguments, c.setupArguments);
        EXPECT_EQ(options.startsSetupDirectly(), c.silent || c.tail.has_value());
        EXPECT_EQ(options.problem.rfind(c.problem, 0), 0u) << options.problem;
        EXPECT_EQ(options.problem.empty(), c.problem.empty()) << options.problem;
        EXPECT_EQ(options.refusal.rfind(c.refusal, 0), 0u) << options.refusal;
        EXPECT_EQ(options.refusal.empty(), c.refusal.empty()) << options.refusal;
    }
}

TEST(CommandLineTest, WritesTheCommandLineBackForTheLog) {
    struct Case {
        fw::ProcessCommandLine line;
        std::string text;
    };
    const Case cases[] = {
        {{{{"/S", true}, {"a b", true}, {"", true}, kLost}, std::nullopt},
         "/S \"a b\" \"\" <argument 4: not in this computer's code page>"},
        {{{{"/S", true}}, Tail("/S /D=C:\\Program Files\\X")}, "/S -- /S /D=C:\\Program Files\\X"},
        {{{}, Tail("")}, "--"},
        {{{}, Tail("x", false)}, "-- <not in this computer's code page>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommandLineText(c.line), c.text);
    }
}

// The usage comes from the same table as the reading: every switch that is read is in it.
TEST(CommandLineTest, TheUsageNamesEverySwitchThatIsReadAndEveryExitStatus) {
    fw::test::RecordingPlatform platform;
    const std::string usage = UsageText("setup.exe");
    for (const char* line :
         {"setup.exe [/S] [/log FILE] [/?] [-- ARGUMENTS FOR SETUP.exe]\n", "\n/S, /quiet\t",
          "\n/log FILE\t", "\n/?, /help\tShows this.\n", "\n0 / 0\t", "\n1 / 1603\t",
          "\n2 / 1603\t", "\n3 / 1618\t", "\n4 / 1603\t", "\n4 / 1639\t", "\n5 / 1639\t"}) {
        EXPECT_NE(usage.find(line), std::string::npos) << line << "\n" << usage;
    }
}

}  // namespace
