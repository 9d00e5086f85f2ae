// The framework stand-in: application object, message boxes, entry, About command.
#include <gtest/gtest.h>

#include <string>

// First, so that the application's headers are seen to take the ids from it.
#include "res/resource.h"

#include "app/FerrowickApp.h"
#include "app/WinApp.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TempPrefix.h"

namespace {

TEST(WinAppTest, ChangesOnlyTheFileNamesExtension) {
    struct Case {
        const char* module;
        const char* help;
    };
    const Case cases[] = {
        {"C:\\Tools\\Ferrowick.exe", "C:\\Tools\\Ferrowick.HLP"},
        {"C:\\Tools\\a.b.exe", "C:\\Tools\\a.b.HLP"},
        {"C:\\v1.2\\Ferrowick", "C:\\v1.2\\Ferrowick.HLP"},
        {"C:/v1.2/Ferrowick", "C:/v1.2/Ferrowick.HLP"},
        {"Ferrowick", "Ferrowick.HLP"},
    };
    fw::test::RecordingPlatform platform;
    for (const Case& c : cases) {
        EXPECT_EQ(HelpFilePathFor(c.module), c.help);
    }
}

TEST(WinAppTest, TakesItsTitleFromTheStringResourceElseFromTheExecutable) {
    fw::test::TempPrefix prefix;
    fw::test::RecordingPlatform platform;
    {
        CFerrowickApp app;
        EXPECT_EQ(AfxGetApp(), &app);
        EXPECT_EQ(app.m_pszHelpFilePath, "C:\\Tools\\Ferrowick.HLP");
        AfxMessageBox("hello", MB_OK, 0);
    }
    EXPECT_EQ(AfxGetApp(), nullptr);
    platform.script.hasTitle = false;
    {
        CFerrowickApp app;
        AfxMessageBox("again");
    }
    EXPECT_EQ(platform.recorded.notices, (std::vector<std::string>{"hello", "again"}));
    EXPECT_EQ(platform.recorded.captions, (std::vector<std::string>{"BRASKETTLE", "Ferrowick"}));
}

TEST(WinAppTest, EntryReportsTheStartUpsOutcome) {
    struct Starter : CWinApp {
        bool result;
        int posted;  // -1: none
        int calls = 0;
        Starter(bool r, int p) : CWinApp("x"), result(r), posted(p) {}
        bool InitInstance() override {
            ++calls;
            if (posted >= 0) {
                AfxPostQuitMessage(posted);
            }
            return result;
        }
    };
    struct Case {
        bool result;
        int posted;
        int status;
    } cases[] = {
        {true, -1, 0}, {false, -1, 1}, {false, 2, 2}, {true, 3, 3},
        {false, 0, 0}, {true, -1, 0},  // a code posted by an earlier run does not carry over
    };
    fw::test::RecordingPlatform platform;
    EXPECT_EQ(AfxWinMain(), 1);  // no application object
    for (const Case& c : cases) {
        Starter app(c.result, c.posted);
        EXPECT_EQ(AfxWinMain({{{"/S", true}, {"?", false}}, fw::CommandArgument{"a b", true}}),
                  c.status);
        EXPECT_EQ(app.calls, 1);
        // The start-up sees the command line as the entry gave it.
        ASSERT_EQ(app.m_commandLine.arguments.size(), 2u);
        EXPECT_EQ(app.m_commandLine.arguments[0].text, "/S");
        EXPECT_FALSE(app.m_commandLine.arguments[1].expressible);
        ASSERT_TRUE(app.m_commandLine.tail.has_value());
        EXPECT_EQ(app.m_commandLine.tail->text, "a b");
    }
}

TEST(WinAppTest, AboutCommandShowsTheAboutBoxAndNothingElseIsHandled) {
    fw::test::TempPrefix prefix;
    fw::test::RecordingPlatform platform;
    CFerrowickApp app;
    EXPECT_TRUE(app.OnCommand(ID_APP_ABOUT));
    EXPECT_FALSE(app.OnCommand(ID_APP_ABOUT + 1));
    EXPECT_EQ(platform.recorded.events, std::vector<std::string>{"dialog:100"});
}

}  // namespace
