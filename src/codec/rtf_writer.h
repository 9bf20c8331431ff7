// Writes a QTextDocument as RTF that a Windows rich-edit control reads: code page 936, a font
// table (\fcharset134 for Chinese fonts), a colour table, and per run the font, size, colour,
// bold, italic, underline and strike-out. Chinese text goes out as GBK \'hh; what a font's code
// page cannot hold goes out as \uN?.
#pragma once

#include <QByteArray>

class QTextDocument;

namespace mx {

QByteArray WriteRtf(const QTextDocument& doc);

} // namespace mx
