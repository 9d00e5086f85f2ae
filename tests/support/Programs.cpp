#include "tests/support/Programs.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/posix/ResourceTable.h"
#include "tests/support/TempPrefix.h"

extern char** environ;

namespace fw::test {

namespace {

std::string temporaryFile(const char* stem) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        throw std::runtime_error("cannot make a temporary file");
    }
    close(fd);
    return pattern;
}

}  // namespace

namespace {

// argv as posix_spawn takes it; the strings must outlive the pointers.
std::vector<char*> argumentsOf(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    return args;
}

// This process's environment with `extraEnv` taking precedence.
std::vector<char*> environmentWith(const std::vector<std::string>& extraEnv) {
    std::vector<char*> env;
    for (const std::string& e : extraEnv) {
        env.push_back(const_cast<char*>(e.c_str()));
    }
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::size_t nameLength = eq ? static_cast<std::size_t>(eq - *e) + 1 : 0;
        bool overridden = false;
        for (const std::string& extra : extraEnv) {
            overridden =
                overridden || (nameLength && extra.compare(0, nameLength, *e, nameLength) == 0);
        }
        if (!overridden) {
            env.push_back(*e);
        }
    }
    env.push_back(nullptr);
    return env;
}

int exitStatusOf(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

StartedProgram startProgram(const std::vector<std::string>& argv,
                            const std::vector<std::string>& extraEnv) {
    StartedProgram started;
    started.outPath = temporaryFile("ferrowick-out");
    started.errPath = temporaryFile("ferrowick-err");
    std::vector<char*> args = argumentsOf(argv);
    std::vector<char*> env = environmentWith(extraEnv);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, started.outPath.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, started.errPath.c_str(), O_WRONLY | O_TRUNC, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc == 0) {
        started.pid = pid;
    } else {
        started.failure = std::string("cannot start ") + argv[0] + ": " + std::strerror(rc);
    }
    return started;
}

bool openTerminal(int& master, int& slave) {
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 24;
    return openpty(&master, &slave, nullptr, nullptr, &size) == 0;
}

std::string terminalsMissing() {
    int master = -1;
    int slave = -1;
    if (!openTerminal(master, slave)) {
        return std::string("this machine gives no pseudo-terminal: ") + std::strerror(errno);
    }
    close(master);
    close(slave);
    return {};
}

ProgramRun runProgramOnTerminal(const std::vector<std::string>& argv,
                                const std::vector<std::string>& extraEnv) {
    ProgramRun run;
    int master = -1;
    int slave = -1;
    if (!openTerminal(master, slave)) {
        run.err = std::string("no pseudo-terminal: ") + std::strerror(errno);
        return run;
    }
    const std::string outPath = temporaryFile("ferrowick-out");
    std::vector<char*> args = argumentsOf(argv);
    std::vector<char*> env = environmentWith(extraEnv);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(slave);
    if (rc != 0) {
        close(master);
        run.err = std::string("cannot start ") + argv[0] + ": " + std::strerror(rc);
        return run;
    }
    // Read until every writer has closed the terminal (EIO), so that it never fills.
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
            run.err.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    close(master);
    run.status = exitStatusOf(pid);
    run.out = readHostFile(outPath);
    std::remove(outPath.c_str());
    return run;
}

ProgramRun waitProgram(const StartedProgram& started) {
    ProgramRun run;
    if (started.pid > 0) {
        run.status = exitStatusOf(started.pid);
    }
    run.out = readHostFile(started.outPath);
    run.err = started.failure + readHostFile(started.errPath);
    std::remove(started.outPath.c_str());
    std::remove(started.errPath.c_str());
    return run;
}

ProgramRun runProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& extraEnv) {
    return waitProgram(startProgram(argv, extraEnv));
}

std::string withResources(const std::string& image, const std::vector<TestResource>& resources) {
    std::string file = image;
    posix::ResourceTable table;
    table.imageSize = image.size();
    for (const TestResource& resource : resources) {
        posix::ResourceEntry entry;
        entry.type = posix::parseResourceKey(resource.type).value();
        entry.name = posix::parseResourceKey(resource.name).value();
        entry.offset = posix::alignResourceOffset(file.size());
        entry.size = resource.data.size();
        file.resize(entry.offset, '\0');
        file += resource.data;
        table.entries.push_back(entry);
    }
    table.tableOffset = file.size();
    return file + posix::encodeResourceTable(table);
}

StderrCapture::StderrCapture() : path_(temporaryFile("ferrowick-stderr")) {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int fd = open(path_.c_str(), O_WRONLY | O_TRUNC);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

StderrCapture::~StderrCapture() {
    text();
}

std::string StderrCapture::text() {
    if (saved_ >= 0) {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
        text_ = readHostFile(path_);
        std::remove(path_.c_str());
    }
    return text_;
}

}  // namespace fw::test
