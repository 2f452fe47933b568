// The hexadecimal filter of the checksum boxes.
#include "ui/hex_filter.h"

#include "core/identify/texts.h"
#include "core/sys/number_reading.h"
#include "ui/framework/blocking.h"
#include "ui/framework/dialog.h"

void restrictToHex(CDialog& dialog, std::string& checksumText) {
    dialog.updateData(true);
    std::string kept = chipsight::keptHexDigits(checksumText);
    if (kept == checksumText) return;
    // The box still shows the refused text while the warning is up.
    messageBox(&dialog, QString::fromLatin1(chipsight::text::kHexDigitsOnly),
               QString::fromLatin1(chipsight::text::kWarning), MB_OK);
    checksumText = std::move(kept);
    dialog.updateData(false);
}
