// The one application object of the process, and the process entry.
#include <utility>
#include <vector>

#include "app/FerrowickApp.h"
#include "platform/Platform.h"

namespace {

CFerrowickApp theApp;

}  // namespace

int main(int argc, char** argv) {
    // The arguments come in the file system's UTF-8 and go on in the ANSI code page, as
    // the rest of the program's text; one the code page cannot express is marked so.
    std::vector<fw::CommandArgument> arguments;
    for (int i = 1; i < argc; ++i) {
        fw::CommandArgument argument;
        argument.expressible = fw::os().ansiFromUtf8(argv[i], argument.text);
        arguments.push_back(std::move(argument));
    }
    return AfxWinMain(std::move(arguments));
}
