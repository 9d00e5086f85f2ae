#include "tests/support/RecordingPlatform.h"

#include <cstring>
#include <stdexcept>

namespace fw::test {

namespace {

RecordingPlatform* active = nullptr;

Resource findResource(const char* name, const char* type) {
    const Script& s = active->script;
    if (!s.hasPayload || std::strcmp(name, "#132") != 0 || std::strcmp(type, "TIMELISTINGS") != 0) {
        return Resource{};
    }
    return Resource{true, reinterpret_cast<const unsigned char*>(s.payload.data()),
                    s.payload.size()};
}

bool moduleFileName(std::string& path) {
    path = active->script.modulePath;
    return true;
}

bool loadString(uint32_t id, std::string& text) {
    if (!active->script.hasTitle || id != 0xE000) {
        return false;
    }
    text = kTitle;
    return true;
}

void messageBox(const char* text, const char* caption) {
    Recorded& r = active->recorded;
    r.events.push_back(std::string("notice:") + text);
    r.notices.push_back(text);
    r.captions.push_back(caption);
    if (active->script.onNotice) {
        active->script.onNotice(text);
    }
}

int dialogBox(uint32_t templateId) {
    active->recorded.events.push_back("dialog:" + std::to_string(templateId));
    return 1;
}

int runCommand(const char* commandLine) {
    active->recorded.events.push_back(std::string("run:") + commandLine);
    active->recorded.commands.push_back(commandLine);
    return active->script.commandStatus;
}

int runHiddenCommand(const char* commandLine) {
    active->recorded.events.push_back(std::string("run hidden:") + commandLine);
    active->recorded.commands.push_back(commandLine);
    return active->script.commandStatus;
}

void writeStandardOutput(const char* text) {
    active->recorded.standardOutput += text;
}

void showUsage(const char* text, const char*) {
    active->recorded.events.push_back(std::string("usage:") + text);
}

void sleep(uint32_t milliseconds) {
    active->recorded.events.push_back("sleep:" + std::to_string(milliseconds));
    active->recorded.sleeps.push_back(milliseconds);
}

// The real lock, unless another launcher is to be running.
bool claimSingleInstance(const char* lockFile) {
    return !active->script.anotherLauncherRunning && active->below().claimSingleInstance(lockFile);
}

uint32_t ansiCodePage() {
    const uint32_t cp = active->script.codePage;
    return cp != 0 ? cp : active->below().ansiCodePage();
}

FindHandle findFirst(const char* pattern, FindEntry& entry) {
    active->recorded.findPatterns.push_back(pattern);
    return active->below().findFirst(pattern, entry);
}

bool copyFile(const char* source, const char* destination) {
    active->recorded.copySources.push_back(source);
    return active->below().copyFile(source, destination);
}

}  // namespace

RecordingPlatform::RecordingPlatform() : below_(os()), table_(os()), replaced_(nullptr) {
    if (active != nullptr) {
        throw std::logic_error("one recording platform at a time");
    }
    active = this;
    table_.findResource = findResource;
    table_.moduleFileName = moduleFileName;
    table_.loadString = loadString;
    table_.messageBox = messageBox;
    table_.dialogBox = dialogBox;
    table_.runCommand = runCommand;
    table_.runHiddenCommand = runHiddenCommand;
    table_.showUsage = showUsage;
    table_.writeStandardOutput = writeStandardOutput;
    table_.sleep = sleep;
    table_.ansiCodePage = ansiCodePage;
    table_.findFirst = findFirst;
    table_.copyFile = copyFile;
    table_.claimSingleInstance = claimSingleInstance;
    replaced_ = setPlatform(&table_);
}

RecordingPlatform::~RecordingPlatform() {
    setPlatform(replaced_);
    active = nullptr;
}

}  // namespace fw::test
