// The launcher's resource identity, in one place: the payload's type, name and prefix
// size, every resource and command id, and the texts of the strings that both the
// Windows resource script and the POSIX backend's own string table carry. Macros, as
// the resource compiler reads them; the application, the backends and the packers
// include this file rather than spelling any of it again.
#pragma once

// Dialogs.
#define IDD_ABOUTBOX 100

// The main-frame group: icon, menu, accelerators, toolbar, string 128.
#define IDR_MAINFRAME 128
// The toolbar's image strip.
#define IDB_TOOLBAR 131
// The payload resource: a 54-byte prefix, then the installer set as a ZIP archive.
#define IDR_PAYLOAD 132
#define FERROWICK_PAYLOAD_TYPE "TIMELISTINGS"
#define FERROWICK_PAYLOAD_NAME "#132"
// Bytes ahead of the archive in the payload resource (a BMP file and information header
// by default); never read by the launcher.
#define FERROWICK_PAYLOAD_PREFIX_SIZE 54

// Compiled into every launcher; the packer accepts only a stub that holds it. Kept in
// two halves so that the packer, which searches for it, never holds it in one piece.
#define FERROWICK_LAUNCHER_MARKER_HEAD \
    "\x7F"                             \
    "FERROWICK:LAUNCHER"
#define FERROWICK_LAUNCHER_MARKER_TAIL ":IMAGE:1\x7F"

// Framework string ids (the values the framework reserves for them).
#ifndef AFX_IDS_APP_TITLE
#define AFX_IDS_APP_TITLE 0xE000
#endif
#ifndef AFX_IDS_IDLEMESSAGE
#define AFX_IDS_IDLEMESSAGE 0xE001
#endif
#ifndef ID_APP_ABOUT
#define ID_APP_ABOUT 0xE140
#endif
#ifndef IDOK
#define IDOK 1
#endif

// String texts.
#define FERROWICK_TEXT_APP_TITLE "BRASKETTLE"
#define FERROWICK_TEXT_IDLE "Ready"

// The About box's texts.
#define FERROWICK_TEXT_ABOUT_CAPTION "About Ferrowick"
#define FERROWICK_TEXT_ABOUT_VERSION "Ferrowick Version 1.0"
#define FERROWICK_TEXT_ABOUT_NOTE "Unpacks and starts the installer set"
#define FERROWICK_TEXT_ABOUT_OK "OK"
