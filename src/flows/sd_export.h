// The program of a screen written to "led.sd" for an SD card or USB disk: the packets a send
// would carry, each in a 2048-byte block.
#pragma once

#include "flows/program.h"

#include <QString>
#include <QStringList>

namespace mx {

class TLCMPanel;

struct ExportOutcome {
    bool ok = false;          // every page is in the file
    bool written = false;     // the file exists, whole, with what could be exported
    QString path;
    QString message;          // "保存成功。", or what was not written and why
    int blocks = 0;
    QStringList missing;      // pages not, or not wholly, in the file
    QStringList warnings;     // what the sign will not show of the pages written
};

// Writes dir/led.sd. A screen without pages, or with a page the card cannot take, writes
// nothing. Rich-text pages are laid out by the renderer unless another is given.
ExportOutcome ExportSd(TLCMPanel& screen, const QString& dir, const RichTextRenderer& render = {});

} // namespace mx
