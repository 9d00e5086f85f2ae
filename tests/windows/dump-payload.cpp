// Writes a launcher's payload resource ("TIMELISTINGS"/#132, language 0x0409) to a file,
// read back the way Windows sees it: dump-payload LAUNCHER.exe OUT. Status 1 if absent.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: dump-payload LAUNCHER.exe OUT\n", stderr);
        return 2;
    }
    const HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC info =
        module ? FindResourceExA(module, "TIMELISTINGS", MAKEINTRESOURCEA(132), 0x0409) : nullptr;
    const HGLOBAL data = info ? LoadResource(module, info) : nullptr;
    if (data == nullptr) {
        std::fprintf(stderr, "dump-payload: no payload resource in %s\n", argv[1]);
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    const DWORD size = SizeofResource(module, info);
    const bool ok = out && std::fwrite(LockResource(data), 1, size, out) == size;
    return (out && std::fclose(out) == 0 && ok) ? 0 : 1;
}
