// Helpers of the launcher's tests: run a program with its output captured, and
// capture this process's own standard error.
#pragma once

#include <string>
#include <vector>

namespace fw::test {

struct ProgramRun {
    int status = -1;  // exit status; 128 + signal number when killed
    std::string out;
    std::string err;
};

// A program started and not yet waited for.
struct StartedProgram {
    int pid = -1;
    std::string outPath;
    std::string errPath;
    std::string failure;  // why it could not be started
};

// Starts argv[0] (a host path) with standard input from /dev/null, this process's
// environment plus `extraEnv` ("NAME=value", taking precedence).
StartedProgram startProgram(const std::vector<std::string>& argv,
                            const std::vector<std::string>& extraEnv = {});

// Waits for a started program and gives what it did.
ProgramRun waitProgram(const StartedProgram& started);

// startProgram, then waitProgram.
ProgramRun runProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& extraEnv = {});

// A pseudo-terminal of 100 columns and 24 rows: false when none can be had.
bool openTerminal(int& master, int& slave);

// Empty when this machine gives pseudo-terminals; else why not (a root without devpts
// mounted, say), for the tests of terminal output to skip with.
std::string terminalsMissing();

// As runProgram, but with standard error on such a pseudo-terminal: `err` is what
// reached the terminal, its line ends as the terminal turned them (CR LF).
ProgramRun runProgramOnTerminal(const std::vector<std::string>& argv,
                                const std::vector<std::string>& extraEnv = {});

// A resource for withResources: type and name as FindResourceA takes them.
struct TestResource {
    std::string type;
    std::string name;
    std::string data;
};

// A launcher file: `image`, then each resource at the next aligned offset, then the table.
std::string withResources(const std::string& image, const std::vector<TestResource>& resources);

// Sends this process's standard error to a file for the object's lifetime.
class StderrCapture {
  public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Ends the capture (once) and gives what was written.
    std::string text();

  private:
    int saved_ = -1;
    std::string path_;
    std::string text_;
};

}  // namespace fw::test
