// Every text the core shows or writes, character for character as the program has always shown
// them (the misspellings included: scripts and users match on them).
#pragma once

namespace chipsight::text {

// Captions.
inline constexpr const char* kError = "Error";
inline constexpr const char* kValidationError = "Validation Error!";

// Loading the databases.
inline constexpr const char* kFailedReadingRomTable = "Failed reading CHIPLORE.ROM!";
inline constexpr const char* kCannotOpenGameTable =
    "Cannot Open CHIPLORE.GAM\nDownload Chiplore, and copy the file to this folder!";
inline constexpr const char* kFailedReadingGameTable = "Failed reading CHIPLORE.GAM!";
inline constexpr const char* kFailedReadingCustom = "Failed reading Chipsight.dat!";
// A DAT file that cannot be read or is malformed: "Failed reading PATH!", then a line saying
// where and why.
inline constexpr const char* kFailedReadingHead = "Failed reading ";
// Asked to write a board's set before any board was identified.
inline constexpr const char* kNoBoardYet =
    "Identify a board first: its set is written from the board's answer.";
inline constexpr const char* kFailedReadingTail = "!";
// The window title; the version comes from the build, the rest never changes.
inline constexpr const char* kTitleFormat =
    ".: Chipsight v%s - %d ROMs - Feb 25 2005 - Morrowlark :.";

// Identifying an image.
inline constexpr const char* kErrorOpening = "Error opening file :(";
inline constexpr const char* kBelow4GiB = "ROM size must be below 4 GiB!";
inline constexpr const char* kNotPowerOfTwo = "ROM size must be power of 2!";
// The line under a report of a dump identified without its header, as the block joins its lines:
// "\t** iNES header of 16 bytes left out".
inline constexpr const char* kHeaderLeftOutHead = "\r\n\t** ";
inline constexpr const char* kHeaderLeftOutMiddle = " header of ";
inline constexpr const char* kHeaderLeftOutTail = " bytes left out";
// The message for many members of one archive: "N files in ARCHIVE, the first:".
inline constexpr const char* kOddMembersOf = " files in ";
inline constexpr const char* kOddMembersFirst = ", the first:";
inline constexpr const char* kErrorReading = "Error reading file :(";
inline constexpr const char* kOutOfMemory = "Out of memory.";
// An archive that unpacks to more than the program reads of one (kMaxUnpacked).
inline constexpr const char* kUnpacksTooMuch =
    "The archive unpacks to more than 16 GiB; the rest of it is not read.";
inline constexpr const char* kUnableToMonitor = "Unable to monitor this file.";

// Report lines.
inline constexpr const char* kNotFound = "] Not Found!";
inline constexpr const char* kBlank = "\r\n** Warning: ROM appears to be blank! **";
inline constexpr const char* kUnusedBitsHead = "\r\n\t** warning some unused bits [";
inline constexpr const char* kUnusedBitsTail = "] possible bad ROM.";
inline constexpr const char* kEntryLead = "\r\n\t- ";
inline constexpr const char* kEntrySeparator = " : ";
// Under an entry that matched by CRC-32 and size, when its DAT gives a SHA-1 other than the
// bytes'.
inline constexpr const char* kSha1Differs = "\r\n\t  CRC matches, SHA-1 differs";
// What a typed checksum is reported under.
inline constexpr const char* kManualLabel = "Manualy Entered";

// Typed checksums, sizes and custom entries.
inline constexpr const char* kBadChecksum =
    "Checksum value must be in hexidecimal 0-9 A-F.\nCorrect it and try again!";
inline constexpr const char* kBadSize =
    "Size value must be numeric!\nDecimal or hexidecimal (prefix with 0x)\nCorrect it and try "
    "again!";
// The checksum boxes' filter, when it has to cut what was typed.
inline constexpr const char* kWarning = "Warning";
inline constexpr const char* kHexDigitsOnly = "Hexidecimal digits only please 0-9 and A-F";
inline constexpr const char* kEmptyName = "ROM Name is empty!";
inline constexpr const char* kEmptyDescription = "Description is empty!";
inline constexpr const char* kCannotOpenCustom = "Cannot Open Chipsight.dat!";
inline constexpr const char* kFailedWritingCustom = "Failed writing to Chipsight.dat!";

// Where the database files are looked for, as every help text says it.
inline constexpr const char* kDatabaseLocation =
    "CHIPLORE.ROM, CHIPLORE.GAM and Chipsight.dat are read from the directory of this program,\n"
    "or for an installed copy from ${XDG_DATA_HOME:-~/.local/share}/chipsight.\n";

}  // namespace chipsight::text
