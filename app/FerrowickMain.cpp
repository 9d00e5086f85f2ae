// The one application object of the process, and the process entry.
#include "app/FerrowickApp.h"

namespace {

CFerrowickApp theApp;

}  // namespace

int main() {
    return AfxWinMain();
}
