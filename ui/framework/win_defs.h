// The numeric vocabulary the dialogs speak: command results, message-box types, system commands
// and file-dialog flags, with the values the program was designed against.
#pragma once

// These live in the global namespace, as the platform's own names do.

#include "core/front_end.h"

// Command identifiers and the answers of a message box.
enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

// Message-box types: the core's, which the core reports its failures with.
using chipsight::MB_ICONEXCLAMATION;
using chipsight::MB_ICONHAND;
using chipsight::MB_ICONINFORMATION;
using chipsight::MB_ICONMASK;
using chipsight::MB_ICONQUESTION;
using chipsight::MB_ICONSTOP;
using chipsight::MB_OK;
using chipsight::MB_OKCANCEL;
using chipsight::MB_TYPEMASK;
using chipsight::MB_YESNO;

// System commands; the framework itself acts only on SC_CLOSE (the close box).
enum : unsigned {
    SC_CLOSE = 0xF060,
};

// File-dialog flags.
enum : unsigned {
    OFN_OVERWRITEPROMPT = 0x02,
    OFN_HIDEREADONLY = 0x04,
};
