// What a page puts on the sign, made from the bytes a send would carry: bitmap pages decoded
// from their packets, and pages the card draws itself laid out as its 16-dot font does.
#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace mx {

class TLCMPanel;

struct RenderedPage {
    bool ok = false;
    QList<QImage> images; // one per LED page (program slot), in slot order
    QString note;         // what the pictures cannot show, or why there are none
    QStringList warnings; // what the sign will not show of the page as sent
};

RenderedPage RenderPageAsSent(TLCMPanel& screen, int index);

// The character a controller code stands for; field codes come back as themselves.
char16_t CharacterOfCode(uint16_t code);

} // namespace mx
