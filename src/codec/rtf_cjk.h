// Which characters count as East Asian (double-byte) text, shared by the RTF reader and writer.
#pragma once

#include <QString>

namespace mx {

inline bool IsCjk(char32_t c)
{
    return (c >= 0x1100 && c <= 0x11FF) ||   // Hangul Jamo
           (c >= 0x2E80 && c <= 0x2FDF) ||   // radicals
           (c >= 0x3000 && c <= 0x30FF) ||   // CJK punctuation, kana
           (c >= 0x3100 && c <= 0x33FF) ||   // bopomofo, Hangul compatibility, enclosed
           (c >= 0x3400 && c <= 0x4DBF) ||   // extension A
           (c >= 0x4E00 && c <= 0x9FFF) ||   // unified ideographs
           (c >= 0xAC00 && c <= 0xD7AF) ||   // Hangul syllables
           (c >= 0xF900 && c <= 0xFAFF) ||   // compatibility ideographs
           (c >= 0xFE30 && c <= 0xFE4F) ||   // compatibility forms
           (c >= 0xFF00 && c <= 0xFFEF) ||   // full- and half-width forms
           (c >= 0x20000 && c <= 0x3FFFF);   // supplementary ideographs
}

inline bool HasCjk(QStringView s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        char32_t c = s[i].unicode();
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(s[i], s[i + 1]), ++i;
        if (IsCjk(c))
            return true;
    }
    return false;
}

} // namespace mx
