// Reads RTF as rich-edit controls, WordPad, Word and LibreOffice write it into a QTextDocument:
// text, fonts, sizes, colours, bold, italic, underline, strike-out, alignment and paragraphs.
// Everything else (pictures, tables' structure, styles, fields' instructions) is skipped.
#pragma once

#include <QByteArray>
#include <QString>

class QTextDocument;

namespace mx {

struct RtfReadResult {
    bool ok = false;        // false: not RTF at all (no {\rtf), nothing read
    QString message;        // what was wrong or cut, for the operator; empty when all is well
    bool truncated = false; // a limit was reached and the rest ignored
};

// Bounds that keep hostile input cheap. Real documents stay far below them: the rich-text page
// holds at most 64 KB of RTF.
constexpr int kRtfMaxGroupDepth = 256;           // deeper groups are skipped whole
constexpr int kRtfMaxChars = 4 * 1024 * 1024;    // characters of text; the rest is ignored
constexpr int kRtfMaxParagraphs = 100000;        // paragraphs; the rest is ignored
constexpr int kRtfMaxTableEntries = 4096;        // fonts, and colours, each

// Reads RTF bytes into the document (cleared first). Bounded on any input. A trailing NUL, as
// the project file stores it, is fine.
RtfReadResult ReadRtf(const QByteArray& rtf, QTextDocument& doc);

} // namespace mx
