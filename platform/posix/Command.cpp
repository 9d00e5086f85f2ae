#include "platform/posix/Command.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Mbcs.h"
#include "platform/posix/Backend.h"
#include "platform/posix/CodePage.h"
#include "platform/posix/Paths.h"

extern char** environ;

namespace fw::posix {

namespace {

constexpr int kFailureStatus = 1;
constexpr std::size_t kHeadSize = 256;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Bytes of the character at `i`: two for a lead byte of the code page with its trail
// byte, which is then no '\\', '^', '|' or other character of the command line.
std::size_t characterAt(std::string_view text, std::size_t i, uint32_t codePage) {
    return mbcs::isLeadByte(codePage, static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
                   text[i + 1] != '\0'
               ? 2
               : 1;
}

// True when one of `characters` stands in `text` as a character of its own.
bool holdsCharacter(std::string_view text, std::string_view characters, uint32_t codePage) {
    for (std::size_t i = 0; i < text.size(); i += characterAt(text, i, codePage)) {
        if (characters.find(text[i]) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

bool hasSeparatorOrDrive(std::string_view program) {
    return program.find_first_of("\\/") != std::string_view::npos ||
           (program.size() >= 2 && program[1] == ':');
}

void report(const std::string& program, std::string_view what) {
    // Built by appending: GCC 12 at -O3 sees a false overlap in "'" + std::string&&.
    const std::string name = ansiToUtf8(program, ansiCodePage());
    std::string text;
    text.reserve(name.size() + what.size() + 4);
    text += '\'';
    text += name;
    text += "' ";
    text += what;
    text += '\n';
    std::fflush(stdout);
    (void)!write(STDERR_FILENO, text.data(), text.size());
}

bool isRegularFile(const std::string& hostPath) {
    struct stat info {};
    return stat(hostPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The host path of the program, found as the command interpreter would: as written
// (through the drive mapping, letter case ignored), else with one of the executable
// extensions added; a bare name also in the folders of PATH.
std::string locateProgram(const std::string& program) {
    static constexpr std::array<const char*, 5> kExtensions = {"", ".COM", ".EXE", ".BAT", ".CMD"};
    const std::size_t lastSeparator = program.find_last_of("\\/");
    const std::string_view lastPart = lastSeparator == std::string::npos
                                          ? std::string_view(program)
                                          : std::string_view(program).substr(lastSeparator + 1);
    const bool hasExtension = lastPart.find('.') != std::string_view::npos;
    for (const char* extension : kExtensions) {
        if (*extension != '\0' && hasExtension) {
            break;
        }
        HostPath resolved;
        const std::string candidate = program + extension;
        if (resolvePath(candidate.c_str(), resolved) && resolved.exists &&
            isRegularFile(resolved.path)) {
            return resolved.path;
        }
    }
    if (!hasSeparatorOrDrive(program)) {
        const char* searchPath = std::getenv("PATH");
        const std::string name = ansiToUtf8(program, ansiCodePage());
        for (const char* extension : kExtensions) {
            if (*extension != '\0' && hasExtension) {
                break;
            }
            std::string found = findOnSearchPath(name + extension, searchPath ? searchPath : "");
            if (!found.empty()) {
                return found;
            }
        }
    }
    return {};
}

std::string readHead(const std::string& hostPath) {
    const int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string head(kHeadSize, '\0');
    ssize_t n = 0;
    do {
        n = read(fd, head.data(), head.size());
    } while (n < 0 && errno == EINTR);
    close(fd);
    head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return head;
}

// Starts argv[0] (a host path) and waits for it; its exit status, or -1 with errno.
int spawnAndWait(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& e : extraEnv) {
        env.push_back(const_cast<char*>(e.c_str()));
    }
    for (char** e = environ; e && *e; ++e) {
        env.push_back(*e);
    }
    env.push_back(nullptr);

    std::fflush(stdout);
    std::fflush(stderr);
    // As system(): an interrupt at the terminal ends the program, not this process,
    // which then goes on to its clean-up.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction oldInt {};
    struct sigaction oldQuit {};
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], nullptr, &attributes, args.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    int status = 0;
    if (rc == 0) {
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                rc = errno;
                break;
            }
        }
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : kFailureStatus;
}

// What the command interpreter's "/c" does with its line before it runs it. Its quotes
// stay only when there are exactly two, with at least one blank and none of &<>()@^|
// between them, and the quoted text names a program; otherwise a line that begins with
// a quote loses that quote and the last one. Then, outside quotes, '^' makes the next
// character plain, and an unescaped &, |, < or > ends the command (what follows, a
// second command or a redirection, is not run here).
// The interpreter reads characters, not bytes: a trail byte equal to '^' or '|' is part
// of its character. (A quote, a blank and a tab are never trail bytes.)
std::string interpretedLine(std::string_view line) {
    const uint32_t codePage = ansiCodePage();
    std::string text(line);
    const std::size_t first = text.find_first_not_of(" \t");
    if (first != std::string::npos && text[first] == '"') {
        const std::size_t second = text.find('"', first + 1);
        const std::size_t last = text.rfind('"');
        const std::string_view quoted =
            std::string_view(text).substr(first + 1, second - first - 1);
        const bool keep = second != std::string::npos && second == last &&
                          quoted.find_first_of(" \t") != std::string_view::npos &&
                          !holdsCharacter(quoted, "&<>()@^|", codePage) &&
                          !locateProgram(std::string(quoted)).empty();
        if (!keep) {
            text.erase(last, last == first ? 0 : 1);
            text.erase(first, 1);
        }
    }
    std::string command;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = characterAt(text, i, codePage);
        const char c = text[i];
        if (length == 1 && c == '"') {
            quoted = !quoted;
        } else if (length == 1 && !quoted && c == '^') {
            if (++i == text.size()) {
                break;
            }
            const std::size_t escaped = characterAt(text, i, codePage);
            command.append(text, i, escaped);
            i += escaped;
            continue;
        } else if (length == 1 && !quoted && (c == '&' || c == '|' || c == '<' || c == '>')) {
            break;
        }
        command.append(text, i, length);
        i += length;
    }
    return command;
}

}  // namespace

CommandLine splitCommandLine(std::string_view line) {
    CommandLine result;
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i])) {
        ++i;
    }
    // The program: quotes group and are dropped; no backslash rules. Outside quotes it
    // ends at a blank, or at one of the interpreter's other delimiters , ; =.
    bool quoted = false;
    for (; i < line.size() &&
           (quoted || (!isBlank(line[i]) && line[i] != ',' && line[i] != ';' && line[i] != '='));
         ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else {
            result.program += line[i];
        }
    }
    result.arguments = splitArguments(line.substr(i));
    return result;
}

std::vector<std::string> splitArguments(std::string_view text) {
    const uint32_t codePage = ansiCodePage();
    std::vector<std::string> arguments;
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        if (i >= text.size()) {
            return arguments;
        }
        std::string argument;
        bool quoted = false;
        while (i < text.size() && (quoted || !isBlank(text[i]))) {
            std::size_t backslashes = 0;
            while (i < text.size() && text[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < text.size() && text[i] == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument += '"';
                } else if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                    argument += '"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument.append(backslashes, '\\');
                if (i < text.size() && (quoted || !isBlank(text[i]))) {
                    const std::size_t length = characterAt(text, i, codePage);
                    argument.append(text.substr(i, length));
                    i += length;
                }
            }
        }
        arguments.push_back(std::move(argument));
    }
}

std::string joinArguments(const std::vector<std::string>& arguments) {
    const uint32_t codePage = ansiCodePage();
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) {
            line += ' ';
        }
        if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
            line += argument;
            continue;
        }
        // Backslashes are plain but before a quote, the closing one included, where they
        // are doubled; a quote of the argument's own gets one more.
        line += '"';
        std::size_t backslashes = 0;
        for (std::size_t i = 0; i < argument.size();) {
            const std::size_t length = characterAt(argument, i, codePage);
            const char c = argument[i];
            if (length == 1 && c == '"') {
                line.append(backslashes + 1, '\\');
            }
            backslashes = length == 1 && c == '\\' ? backslashes + 1 : 0;
            line.append(argument, i, length);
            i += length;
        }
        line.append(backslashes, '\\');
        line += '"';
    }
    return line;
}

ProgramKind programKindOf(std::string_view head) {
    if (head.substr(0, 2) == "MZ") {
        return ProgramKind::windows;
    }
    if (head.substr(0, 2) == "#!") {
        return ProgramKind::script;
    }
    if (head.substr(0, 4) ==
        "\x7F"
        "ELF") {
        return ProgramKind::elf;
    }
    return ProgramKind::unknown;
}

bool parseInterpreterLine(std::string_view head, std::string& interpreter, std::string& argument) {
    if (head.substr(0, 2) != "#!") {
        return false;
    }
    std::string_view line = head.substr(2);
    line = line.substr(0, line.find('\n'));
    auto trim = [](std::string_view s) {
        while (!s.empty() && (isBlank(s.front()) || s.front() == '\r')) {
            s.remove_prefix(1);
        }
        while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) {
            s.remove_suffix(1);
        }
        return s;
    };
    line = trim(line);
    std::size_t end = 0;
    while (end < line.size() && !isBlank(line[end])) {
        ++end;
    }
    interpreter = std::string(line.substr(0, end));
    argument = std::string(trim(line.substr(end)));
    return !interpreter.empty();
}

std::string findOnSearchPath(std::string_view name, std::string_view searchPath) {
    if (name.empty() || name.find('/') != std::string_view::npos) {
        return {};
    }
    while (!searchPath.empty()) {
        const std::size_t colon = searchPath.find(':');
        const std::string_view folder = searchPath.substr(0, colon);
        searchPath =
            colon == std::string_view::npos ? std::string_view() : searchPath.substr(colon + 1);
        // An empty entry would mean the current folder; it is not searched.
        if (folder.empty()) {
            continue;
        }
        std::string candidate = std::string(folder) + "/" + std::string(name);
        if (isRegularFile(candidate) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

namespace {

// How the program file at the host path `program` is started: its argv up to its own
// arguments, with the environment it needs beyond this process's. Null when it can be;
// else why not, with errno set.
const char* startingArguments(const std::string& program, std::vector<std::string>& argv,
                              std::vector<std::string>& extraEnv) {
    const std::string head = readHead(program);
    const bool executable = access(program.c_str(), X_OK) == 0;
    switch (programKindOf(head)) {
        case ProgramKind::windows: {
            const char* searchPath = std::getenv("PATH");
            const std::string wine = findOnSearchPath("wine", searchPath ? searchPath : "");
            if (wine.empty()) {
                errno = ENOEXEC;
                return "is a Windows program and cannot be started: wine is not on PATH.";
            }
            argv = {wine, program};
            // The program is to see the same drives as this process.
            if (std::getenv("WINEPREFIX") == nullptr && !prefixFolder().empty()) {
                extraEnv.push_back("WINEPREFIX=" + prefixFolder());
            }
            return nullptr;
        }
        case ProgramKind::script: {
            if (executable) {
                argv = {program};
                return nullptr;
            }
            std::string interpreter;
            std::string argument;
            if (!parseInterpreterLine(head, interpreter, argument)) {
                errno = ENOEXEC;
                return "cannot be started: its first line names no interpreter.";
            }
            argv = {interpreter};
            if (!argument.empty()) {
                argv.push_back(argument);
            }
            argv.push_back(program);
            return nullptr;
        }
        case ProgramKind::elf:
            if (!executable) {
                errno = EACCES;
                return "cannot be started: it is not executable.";
            }
            argv = {program};
            return nullptr;
        case ProgramKind::unknown:
            if (head.empty() && executable) {
                argv = {program};  // unreadable but executable: let the system decide
                return nullptr;
            }
            errno = ENOEXEC;
            return "is not a program that can be started here.";
    }
    return nullptr;
}

}  // namespace

int runCommand(const char* commandLine) {
    if (commandLine == nullptr) {
        return 1;  // system(NULL): an interpreter is there
    }
    const CommandLine command = splitCommandLine(interpretedLine(commandLine));
    if (command.program.empty()) {
        return 0;
    }
    const std::string program = locateProgram(command.program);
    if (program.empty()) {
        report(command.program,
               "is not recognized as an internal or external command,\n"
               "operable program or batch file.");
        return kFailureStatus;
    }
    std::vector<std::string> argv;
    std::vector<std::string> extraEnv;
    if (const char* why = startingArguments(program, argv, extraEnv); why != nullptr) {
        report(command.program, why);
        return kFailureStatus;
    }
    for (const std::string& argument : command.arguments) {
        argv.push_back(ansiToUtf8(argument, ansiCodePage()));
    }
    const int status = spawnAndWait(argv, extraEnv);
    if (status < 0) {
        report(command.program, std::string("cannot be started: ") + std::strerror(errno) + ".");
        return kFailureStatus;
    }
    return status;
}

// No program started here has a window of its own to hide: CREATE_NO_WINDOW has nothing
// to do. The program is the file its drive path names, with no search and no extension
// added, as CreateProcessA takes its application name.
bool runProgram(const char* program, const char* arguments, uint32_t& status) {
    if (program == nullptr) {
        errno = EINVAL;
        return false;
    }
    HostPath resolved;
    if (!resolvePath(program, resolved)) {
        return false;
    }
    if (!resolved.exists || !isRegularFile(resolved.path)) {
        errno = ENOENT;
        return false;
    }
    std::vector<std::string> argv;
    std::vector<std::string> extraEnv;
    if (startingArguments(resolved.path, argv, extraEnv) != nullptr) {
        return false;
    }
    for (const std::string& argument : splitArguments(arguments != nullptr ? arguments : "")) {
        argv.push_back(ansiToUtf8(argument, ansiCodePage()));
    }
    const int exited = spawnAndWait(argv, extraEnv);
    if (exited < 0) {
        return false;
    }
    status = static_cast<uint32_t>(exited);
    return true;
}

}  // namespace fw::posix
