// The filter of the checksum boxes, shared by the Manual Entry and Add Custom Entry dialogs.
#pragma once

#include <string>

class CDialog;

// Keeps only the leading run of the digits 0-9 and A-F in the checksum text of `dialog`:
// pulls, and when anything has to go, warns, cuts the text and pushes.
void restrictToHex(CDialog& dialog, std::string& checksumText);
