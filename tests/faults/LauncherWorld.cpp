#include "tests/faults/LauncherWorld.h"

#include <string_view>

#include "app/WinApp.h"

namespace fw::test {

namespace {

LauncherWorld* world = nullptr;

Resource findResource(const char* name, const char* type) {
    if (std::string_view(name) != "#132" || std::string_view(type) != "TIMELISTINGS") {
        return {};
    }
    return {true, reinterpret_cast<const unsigned char*>(world->payload.data()),
            world->payload.size()};
}

bool moduleFileName(std::string& path) {
    path = world->modulePath;
    return true;
}

bool loadString(uint32_t id, std::string& text) {
    if (id != AFX_IDS_APP_TITLE) {
        return false;
    }
    text = "BRASKETTLE";
    return true;
}

void messageBox(const char* text, const char*) {
    world->notices.emplace_back(text);
}

int dialogBox(uint32_t) {
    return 1;
}

int runCommand(const char* commandLine) {
    world->commands.emplace_back(commandLine);
    return 0;
}

void writeStandardOutput(const char* text) {
    world->standardOutput += text;
}

void sleep(uint32_t milliseconds) {
    world->sleeps.push_back(milliseconds);
}

}  // namespace

ScriptedPlatform::ScriptedPlatform(LauncherWorld& scripted) : table_(os()) {
    world = &scripted;
    table_.findResource = findResource;
    table_.moduleFileName = moduleFileName;
    table_.loadString = loadString;
    table_.messageBox = messageBox;
    table_.dialogBox = dialogBox;
    table_.runCommand = runCommand;
    table_.writeStandardOutput = writeStandardOutput;
    table_.sleep = sleep;
    replaced_ = setPlatform(&table_);
}

ScriptedPlatform::~ScriptedPlatform() {
    setPlatform(replaced_);
    world = nullptr;
}

}  // namespace fw::test
