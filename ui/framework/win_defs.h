// The numeric vocabulary the dialogs speak: command results, message-box types, system commands
// and file-dialog flags, with the values the program was designed against.
#pragma once

// These live in the global namespace, as the platform's own names do.

// Command identifiers and the answers of a message box.
enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

// Message-box types: the buttons in the low four bits, the icon in the next four. The core
// reports its failures with the same values (the window checks that they agree).
enum : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNO = 0x04,
    MB_ICONSTOP = 0x10,
    MB_ICONHAND = MB_ICONSTOP,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_TYPEMASK = 0x0F,
    MB_ICONMASK = 0xF0,
};

// System commands; the framework itself acts only on SC_CLOSE (the close box).
enum : unsigned {
    SC_CLOSE = 0xF060,
};

// File-dialog flags.
enum : unsigned {
    OFN_OVERWRITEPROMPT = 0x02,
    OFN_HIDEREADONLY = 0x04,
    // Ours: an open dialog that takes a folder as well as a file.
    OFN_FOLDERORFILE = 0x100,
};
