// Where the text for SETUP.exe begins in the launcher's own command line: the arguments
// before it split as the run-time library splits them, the text after it untouched.
#include "platform/CommandTail.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(CommandTailTest, TheFirstArgumentWrittenAsTwoDashesEndsTheProgramsOwn) {
    struct Case {
        const char* line;
        std::optional<std::string> tail;  // none: no "--" argument
    };
    const Case cases[] = {
        {"ferrowick.exe", std::nullopt},
        {"ferrowick.exe /S -- /S /D=C:\\Program Files\\Orvelin Space",
         "/S /D=C:\\Program Files\\Orvelin Space"},
        // Blanks after the one that ends "--" belong to the text.
        {"ferrowick.exe --  a  ", " a  "},
        {"ferrowick.exe\t--\ta", "a"},
        {"ferrowick.exe --", ""},
        {"ferrowick.exe -- ", ""},
        {"ferrowick.exe -- -- x", "-- x"},
        // In the program's name, quoted or not, there is no argument.
        {"\"C:\\a -- b\\ferrowick.exe\" -- x", "x"},
        {"C:\\a--\\f.exe -- x", "x"},
        {"\"C:\\a b\\f.exe\"x -- y", "y"},
        // Quoted, "--" is an argument like any other; within another argument, no end.
        {"f.exe \"--\" x", std::nullopt},
        {"f.exe /log \"C:\\a -- b.log\" -- x", "x"},
        {"f.exe --x -- y", "y"},
        {"f.exe x-- --", ""},
        {"f.exe a\" -- \"b", std::nullopt},
        // Backslashes: an odd number before a quote makes it literal, an even number not.
        {"f.exe a\\\" -- b", "b"},
        {"f.exe a\\\\\" -- \"b -- c", "c"},
        {"f.exe \"a\"\" -- \" -- c", "c"},
        {"f.exe \"unterminated -- x", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string line = c.line;
        const std::optional<fw::CommandTail> found = fw::findCommandTail(std::string_view(line));
        ASSERT_EQ(found.has_value(), c.tail.has_value());
        if (found) {
            EXPECT_EQ(line.substr(found->separator, 2), "--");
            EXPECT_EQ(line.substr(found->tail), *c.tail);
        }
        // The Windows entry reads the system's wide command line the same way.
        const std::wstring wide(line.begin(), line.end());
        const std::optional<fw::CommandTail> inWide = fw::findCommandTail(std::wstring_view(wide));
        ASSERT_EQ(inWide.has_value(), found.has_value());
        if (inWide) {
            EXPECT_EQ(inWide->separator, found->separator);
            EXPECT_EQ(inWide->tail, found->tail);
        }
    }
}

}  // namespace
