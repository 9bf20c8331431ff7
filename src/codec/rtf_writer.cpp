#include "codec/rtf_writer.h"

#include "codec/rtf_cjk.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QStringEncoder>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace mx {
namespace {

enum Charset { kAnsi = 0, kSymbol = 2, kGb2312 = 134 };

bool IsCjkFamily(const QString& family)
{
    if (HasCjk(family))
        return true;
    static const QStringList latinNames = {
        "SimSun", "NSimSun", "SimHei", "KaiTi", "FangSong", "Microsoft YaHei", "DengXian",
        "MingLiU", "PMingLiU", "Microsoft JhengHei", "MS Gothic", "MS Mincho", "MS PGothic",
        "Meiryo", "Yu Gothic", "AR PL UMing", "AR PL UKai", "WenQuanYi", "Noto Sans CJK",
        "Noto Serif CJK", "Source Han", "Droid Sans Fallback"};
    return std::any_of(latinNames.cbegin(), latinNames.cend(), [&](const QString& n) {
        return family.startsWith(n, Qt::CaseInsensitive);
    });
}

bool IsSymbolFamily(const QString& family)
{
    static const QStringList names = {"Symbol", "Wingdings", "Wingdings 2", "Wingdings 3",
                                      "Webdings", "Marlett"};
    return names.contains(family, Qt::CaseInsensitive);
}

struct RunFormat {
    int font = -1;
    int halfPoints = -1;
    int color = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
};

struct FontOut {
    QString family;
    int charset = kAnsi;
};

class Writer {
public:
    explicit Writer(const QTextDocument& doc) : doc_(doc) {}
    QByteArray Run();

private:
    RunFormat Resolve(const QTextCharFormat& cf);
    int FontIndex(const QString& family);
    int ColorIndex(QColor c);
    void Word(const char* word, int param);
    void Word(const char* word);
    void SwitchTo(const RunFormat& f);
    void Text(const QString& text, int charset, QByteArray& out, bool& delimit);
    bool EncodeGbk(QStringView ch, QByteArray& bytes);

    const QTextDocument& doc_;
    QList<FontOut> fonts_;
    QList<QColor> colors_; // index 0 is the automatic colour and is not stored
    QByteArray body_;
    bool delimit_ = false; // the last thing written is a control word that wants a delimiter
    RunFormat current_;
    QStringEncoder gbk_{"GBK", QStringConverter::Flag::Stateless};
};

void AppendHex(QByteArray& out, uint8_t b)
{
    static const char digits[] = "0123456789abcdef";
    out += "\\'";
    out += digits[b >> 4];
    out += digits[b & 15];
}

void AppendUnicode(QByteArray& out, char16_t unit)
{
    // RTF's \u takes a signed 16-bit number.
    out += "\\u";
    out += QByteArray::number(int(int16_t(unit)));
    out += '?';
}

bool Writer::EncodeGbk(QStringView ch, QByteArray& bytes)
{
    if (!gbk_.isValid())
        return false;
    bytes = gbk_.encode(ch);
    const bool ok = !gbk_.hasError() && !bytes.isEmpty();
    gbk_.resetState();
    return ok;
}

// Escapes one run's text. 'delimit' says whether a control word just before it needs a space.
void Writer::Text(const QString& text, int charset, QByteArray& out, bool& delimit)
{
    auto literal = [&](char c) {
        if (delimit)
            out += ' ';
        delimit = false;
        out += c;
    };
    auto word = [&](const char* w) {
        out += w;
        delimit = true;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (u == '\\' || u == '{' || u == '}') {
            out += '\\';
            out += char(u);
            delimit = false;
        } else if (u == '\t') {
            word("\\tab");
        } else if (u == 0x2028 || u == '\n') {
            word("\\line");
        } else if (u == 0x00A0) {
            out += "\\~";
            delimit = false;
        } else if (u == 0x00AD) {
            out += "\\-";
            delimit = false;
        } else if (u == 0x2011) {
            out += "\\_";
            delimit = false;
        } else if (u < 0x20 || u == 0x2029 || u == 0xFFFC || u == 0xFDD0 || u == 0xFDD1) {
            // structure and object markers of QTextDocument, and control characters
        } else if (u < 0x80) {
            literal(char(u));
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            AppendUnicode(out, u);
            AppendUnicode(out, text.at(++i).unicode());
            delimit = false;
        } else if (c.isSurrogate()) {
            AppendUnicode(out, QChar::ReplacementCharacter);
            delimit = false;
        } else {
            QByteArray bytes;
            if (charset == kSymbol && u <= 0xFF) {
                AppendHex(out, uint8_t(u));
            } else if (charset == kGb2312 && EncodeGbk(QStringView(&text.constData()[i], 1), bytes)) {
                for (char b : bytes)
                    AppendHex(out, uint8_t(b));
            } else {
                // Latin fonts get \u for everything beyond ASCII: readers disagree on whether
                // their \'hh bytes follow \ansicpg or the font's charset.
                AppendUnicode(out, u);
            }
            delimit = false;
        }
    }
}

RunFormat Writer::Resolve(const QTextCharFormat& cf)
{
    const QFont f = cf.font().resolve(doc_.defaultFont());
    RunFormat r;
    QString family = f.family();
    if (family.isEmpty())
        family = QStringLiteral("宋体");
    r.font = FontIndex(family);
    double pt = f.pointSizeF();
    if (pt <= 0)
        pt = f.pixelSize() > 0 ? f.pixelSize() * 0.75 : 12.0;
    r.halfPoints = std::clamp(int(std::lround(pt * 2)), 1, 3276);
    if (cf.hasProperty(QTextFormat::ForegroundBrush) && cf.foreground().style() != Qt::NoBrush)
        r.color = ColorIndex(cf.foreground().color());
    r.bold = f.weight() >= QFont::DemiBold;
    r.italic = f.italic();
    r.underline = f.underline() || (cf.hasProperty(QTextFormat::TextUnderlineStyle) &&
                                    cf.underlineStyle() != QTextCharFormat::NoUnderline);
    r.strike = f.strikeOut();
    return r;
}

int Writer::FontIndex(const QString& family)
{
    for (qsizetype i = 0; i < fonts_.size(); ++i)
        if (fonts_[i].family == family)
            return int(i);
    FontOut f;
    f.family = family;
    f.charset = IsSymbolFamily(family) ? kSymbol : IsCjkFamily(family) ? kGb2312 : kAnsi;
    fonts_.append(f);
    return int(fonts_.size() - 1);
}

int Writer::ColorIndex(QColor c)
{
    c.setAlpha(255);
    const QRgb rgb = c.rgb();
    for (qsizetype i = 0; i < colors_.size(); ++i)
        if (colors_[i].rgb() == rgb)
            return int(i + 1);
    colors_.append(c);
    return int(colors_.size());
}

void Writer::Word(const char* word, int param)
{
    body_ += word;
    body_ += QByteArray::number(param);
    delimit_ = true;
}

void Writer::Word(const char* word)
{
    body_ += word;
    delimit_ = true;
}

void Writer::SwitchTo(const RunFormat& f)
{
    if (f.font != current_.font)
        Word("\\f", f.font);
    if (f.halfPoints != current_.halfPoints)
        Word("\\fs", f.halfPoints);
    if (f.color != current_.color)
        Word("\\cf", f.color);
    if (f.bold != current_.bold)
        Word(f.bold ? "\\b" : "\\b0");
    if (f.italic != current_.italic)
        Word(f.italic ? "\\i" : "\\i0");
    if (f.underline != current_.underline)
        Word(f.underline ? "\\ul" : "\\ulnone");
    if (f.strike != current_.strike)
        Word(f.strike ? "\\strike" : "\\strike0");
    current_ = f;
}

QByteArray Writer::Run()
{
    // First every run and its font, so that each font's charset is known before any text is
    // escaped by it.
    struct Piece {
        RunFormat format;
        QString text;
    };
    struct Paragraph {
        Qt::Alignment align;
        QList<Piece> pieces;
    };
    QList<Paragraph> paragraphs;
    for (QTextBlock block = doc_.begin(); block.isValid(); block = block.next()) {
        Paragraph para;
        const Qt::Alignment a = block.blockFormat().alignment();
        para.align = a & Qt::AlignHCenter   ? Qt::AlignHCenter
                     : a & Qt::AlignJustify ? Qt::AlignJustify
                     : a & (Qt::AlignRight | Qt::AlignTrailing) ? Qt::AlignRight
                                                                : Qt::AlignLeft;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            if (frag.isValid())
                para.pieces.append({Resolve(frag.charFormat()), frag.text()});
        }
        // An empty paragraph keeps its mark's format, which sets its height.
        if (para.pieces.isEmpty())
            para.pieces.append({Resolve(block.charFormat()), QString()});
        for (const Piece& p : para.pieces)
            if (fonts_[p.format.font].charset == kAnsi && HasCjk(p.text))
                fonts_[p.format.font].charset = kGb2312;
        paragraphs.append(std::move(para));
    }

    body_ += "\\viewkind4\\uc1\\pard";
    delimit_ = true;
    Qt::Alignment align = Qt::AlignLeft;
    for (const Paragraph& para : paragraphs) {
        if (para.align != align) {
            align = para.align;
            Word(align == Qt::AlignHCenter ? "\\qc" : align == Qt::AlignJustify ? "\\qj"
                 : align == Qt::AlignRight ? "\\qr" : "\\ql");
        }
        for (const Piece& p : para.pieces) {
            SwitchTo(p.format);
            Text(p.text, fonts_[p.format.font].charset, body_, delimit_);
        }
        body_ += "\\par\r\n";
        delimit_ = false;
    }
    body_ += "}\r\n";

    QByteArray out = "{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl";
    for (qsizetype i = 0; i < fonts_.size(); ++i) {
        out += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset" +
               QByteArray::number(fonts_[i].charset);
        bool delimit = true;
        QString name = fonts_[i].family;
        name.remove(u';');
        Text(name, fonts_[i].charset, out, delimit);
        out += ";}";
    }
    out += "}\r\n{\\colortbl ;";
    for (const QColor& c : colors_)
        out += "\\red" + QByteArray::number(c.red()) + "\\green" + QByteArray::number(c.green()) +
               "\\blue" + QByteArray::number(c.blue()) + ';';
    out += "}\r\n";
    out += body_;
    return out;
}

} // namespace

QByteArray WriteRtf(const QTextDocument& doc) { return Writer(doc).Run(); }

} // namespace mx
