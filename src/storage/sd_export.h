// The program of a screen written to "led.sd" for an SD card or USB disk: the packets a send
// would carry, each in a 2048-byte block.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace mx {

class TLCMPanel;
class TLCMRtf;

// Lays a rich-text page out into LED pages before it is written; answers false with a reason.
using RichTextRenderer = std::function<bool(TLCMRtf& page, TLCMPanel& screen, QString* why)>;

struct ExportOutcome {
    bool ok = false;          // every page is in the file
    bool written = false;     // the file exists, whole, with what could be exported
    QString path;
    QString message;          // "保存成功。", or what was not written and why
    int blocks = 0;
    QStringList missing;      // pages not in the file
};

// Writes dir/led.sd. A screen without pages writes nothing. Rich-text pages are laid out by
// the renderer unless another is given.
ExportOutcome ExportSd(TLCMPanel& screen, const QString& dir, const RichTextRenderer& render = {});

} // namespace mx
