#include "tests/support/RecordingPlatform.h"

#include <cstring>
#include <stdexcept>

namespace fw::test {

namespace {

RecordingPlatform* active = nullptr;
// The error of a start that the script failed, for the next lastError.
uint32_t pendingError = 0;

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

bool runProgram(const char* program, const char* arguments, uint32_t& status) {
    std::string line = std::string("\"") + program + "\"";
    if (*arguments != '\0') {
        line += std::string(" ") + arguments;
    }
    active->recorded.events.push_back("start:" + line);
    active->recorded.commands.push_back(line);
    if (active->script.programError != 0) {
        pendingError = active->script.programError;
        return false;
    }
    status = static_cast<uint32_t>(active->script.commandStatus);
    return true;
}

uint32_t lastError() {
    const uint32_t error = pendingError;
    pendingError = 0;
    return error != 0 ? error : active->below().lastError();
}

void localTime(SystemTime& now) {
    if (active->script.localTime) {
        now = *active->script.localTime;
    } else {
        active->below().localTime(now);
    }
}

uint32_t processId() {
    return active->script.processId.value_or(active->below().processId());
}

void progressBegin(const char* caption, const char* what, const Progress& total) {
    active->recorded.events.push_back(std::string("progress:") + caption + "|" + what + "|" +
                                      std::to_string(total.items) + "|" +
                                      std::to_string(total.bytes));
}

void progressUpdate(const Progress& done) {
    active->recorded.progress.push_back(done);
}

void progressEnd() {
    active->recorded.events.push_back("progress end");
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
    pendingError = 0;
    table_.findResource = findResource;
    table_.moduleFileName = moduleFileName;
    table_.loadString = loadString;
    table_.messageBox = messageBox;
    table_.dialogBox = dialogBox;
    table_.runCommand = runCommand;
    table_.runProgram = runProgram;
    table_.lastError = lastError;
    table_.localTime = localTime;
    table_.processId = processId;
    table_.progressBegin = progressBegin;
    table_.progressUpdate = progressUpdate;
    table_.progressEnd = progressEnd;
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
