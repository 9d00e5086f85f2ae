// Resource ids of the launcher, and the texts of the strings that both the Windows
// resource script and the POSIX backend's own string table carry.
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
