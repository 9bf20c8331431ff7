#include "codec/rtf_reader.h"

#include "codec/rtf_cjk.h"

#include <QColor>
#include <QHash>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace mx {
namespace {

// Windows' code page number for symbol fonts: bytes are taken as their own character codes.
constexpr int kSymbolCodePage = 42;

int CodePageForCharset(int charset)
{
    switch (charset) {
    case 0: return 1252;
    case 2: return kSymbolCodePage;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 0; // 1 (default) and unknown ones: the document's code page
    }
}

// Names ICU knows; the first valid one wins. 936 is GBK: GB2312 would drop half of its bytes.
std::vector<QByteArray> CodecNames(int cp)
{
    switch (cp) {
    case 936: return {"GBK", "windows-936", "GB18030"};
    case 950: return {"windows-950", "Big5"};
    case 932: return {"windows-932", "Shift_JIS"};
    case 949: return {"windows-949", "EUC-KR"};
    case 1361: return {"ibm-1361", "johab"};
    case 437: return {"IBM437"};
    case 850: return {"IBM850"};
    case 10000: return {"macintosh"};
    case 65001: return {"UTF-8"};
    default: {
        const QByteArray n = QByteArray::number(cp);
        return {"windows-" + n, "cp" + n, "ibm-" + n};
    }
    }
}

enum class Dest : uint8_t {
    Body,       // document text
    FontTable,  // font entries: text is a font name, ';' ends it
    ColorTable, // colour entries: ';' ends one
    Upr,        // \upr: its ANSI part is skipped, its {\*\ud ...} part read
    UprPending, // a group directly inside \upr that has not yet shown \*\ud
};

// Which script the following associated properties (\af, \afs, \ab, \ai) describe. Word and
// LibreOffice give East Asian text its own font and size this way (\dbch\af8\afs21).
enum class Script : uint8_t { Low, High, DoubleByte, RightToLeft };

struct State {
    Dest dest = Dest::Body;
    Dest uprOuter = Dest::Body;
    int font = -1; // -1: \deff
    int halfPoints = 24;
    int color = 0;
    int uc = 1;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    Qt::Alignment align = Qt::AlignLeft;
    Script script = Script::Low;
    // East Asian overrides; -1: as the text around it.
    int dbFont = -1;
    int dbHalfPoints = -1;
    int8_t dbBold = -1;
    int8_t dbItalic = -1;

    void PlainChars()
    {
        font = -1;
        halfPoints = 24;
        color = 0;
        bold = italic = underline = strike = hidden = false;
        script = Script::Low;
        dbFont = dbHalfPoints = -1;
        dbBold = dbItalic = -1;
    }
    bool HasDoubleByteFormat() const
    {
        return dbFont >= 0 || dbHalfPoints > 0 || dbBold >= 0 || dbItalic >= 0;
    }
    bool SameChars(const State& o) const
    {
        return font == o.font && halfPoints == o.halfPoints && color == o.color && bold == o.bold &&
               italic == o.italic && underline == o.underline && strike == o.strike &&
               dbFont == o.dbFont && dbHalfPoints == o.dbHalfPoints && dbBold == o.dbBold &&
               dbItalic == o.dbItalic;
    }
};

struct FontEntry {
    QString name;
    int codePage = 0; // 0: the document's
};

struct ColorEntry {
    QColor color;
    bool automatic = true;
};

enum class Kw : uint8_t {
    Unknown,
    Ansi, Mac, Pc, Pca, AnsiCpg, Deff,
    FontTable, ColorTable, SkipDest, Upr, Ud,
    F, FCharset, Cpg, Red, Green, Blue,
    Plain, B, I, Ul, UlNone, Strike, V, Fs, Cf,
    Loch, Hich, Dbch, Ltrch, Rtlch, Af, Afs, Ab, Ai,
    Pard, Ql, Qc, Qr, Qj, Par, Line, Tab,
    Char, // a fixed character, see kCharWords
    U, Uc, Bin,
};

struct CharWord {
    std::string_view word;
    char16_t ch;
};
constexpr CharWord kCharWords[] = {
    {"emdash", u'\u2014'}, {"endash", u'\u2013'}, {"emspace", u'\u2003'}, {"enspace", u'\u2002'},
    {"qmspace", u'\u2005'}, {"bullet", u'\u2022'}, {"lquote", u'\u2018'}, {"rquote", u'\u2019'},
    {"ldblquote", u'\u201C'}, {"rdblquote", u'\u201D'}, {"zwj", u'\u200D'}, {"zwnj", u'\u200C'},
};

struct KwInfo {
    Kw kw;
    char16_t ch = 0;
};

const std::unordered_map<std::string_view, KwInfo>& Keywords()
{
    static const std::unordered_map<std::string_view, KwInfo> table = [] {
        std::unordered_map<std::string_view, KwInfo> t = {
            {"ansi", {Kw::Ansi}}, {"mac", {Kw::Mac}}, {"pc", {Kw::Pc}}, {"pca", {Kw::Pca}},
            {"ansicpg", {Kw::AnsiCpg}}, {"deff", {Kw::Deff}},
            {"fonttbl", {Kw::FontTable}}, {"colortbl", {Kw::ColorTable}},
            {"upr", {Kw::Upr}}, {"ud", {Kw::Ud}},
            {"f", {Kw::F}}, {"fcharset", {Kw::FCharset}}, {"cpg", {Kw::Cpg}},
            {"red", {Kw::Red}}, {"green", {Kw::Green}}, {"blue", {Kw::Blue}},
            {"plain", {Kw::Plain}}, {"b", {Kw::B}}, {"i", {Kw::I}},
            {"ulnone", {Kw::UlNone}}, {"strike", {Kw::Strike}}, {"striked", {Kw::Strike}},
            {"v", {Kw::V}}, {"fs", {Kw::Fs}}, {"cf", {Kw::Cf}},
            {"loch", {Kw::Loch}}, {"hich", {Kw::Hich}}, {"dbch", {Kw::Dbch}},
            {"ltrch", {Kw::Ltrch}}, {"rtlch", {Kw::Rtlch}},
            {"af", {Kw::Af}}, {"afs", {Kw::Afs}}, {"ab", {Kw::Ab}}, {"ai", {Kw::Ai}},
            {"pard", {Kw::Pard}}, {"ql", {Kw::Ql}}, {"qc", {Kw::Qc}}, {"qr", {Kw::Qr}},
            {"qj", {Kw::Qj}},
            {"par", {Kw::Par}}, {"sect", {Kw::Par}}, {"page", {Kw::Par}}, {"row", {Kw::Par}},
            {"line", {Kw::Line}}, {"tab", {Kw::Tab}}, {"cell", {Kw::Tab}}, {"nestcell", {Kw::Tab}},
            {"u", {Kw::U}}, {"uc", {Kw::Uc}}, {"bin", {Kw::Bin}},
        };
        // Every underline style reads as underline; \ulc (its colour) is not one of them.
        for (std::string_view w : {"ul", "uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave",
                                   "ulldash", "ulth", "ulthd", "ulthdash", "ulthdashd",
                                   "ulthdashdd", "ulthldash", "ululdbwave", "ulw", "ulwave"})
            t.emplace(w, KwInfo{Kw::Ul});
        // Destinations whose text is not document text.
        for (std::string_view w :
             {"stylesheet", "info", "pict", "header", "headerl", "headerr", "headerf", "footer",
              "footerl", "footerr", "footerf", "footnote", "annotation", "atnauthor", "atnid",
              "object", "objdata", "fldinst", "xe", "tc", "txe", "rxe", "listtable",
              "listoverridetable", "revtbl", "rsidtbl", "shp", "shpinst", "shppict",
              "nonshppict", "filetbl", "pgdsctbl", "themedata", "colorschememapping",
              "datastore", "latentstyles", "generator", "docvar", "background", "pn",
              "bkmkstart", "bkmkend", "template", "xmlnstbl", "mmathPr", "do", "private",
              "comment", "title", "subject", "author", "operator", "keywords", "doccomm"})
            t.emplace(w, KwInfo{Kw::SkipDest});
        for (const CharWord& c : kCharWords)
            t.emplace(c.word, KwInfo{Kw::Char, c.ch});
        return t;
    }();
    return table;
}

bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Reader {
public:
    Reader(const QByteArray& in, qsizetype start, QTextDocument& doc)
        : p_(in.constData()), n_(in.size()), pos_(start), cursor_(&doc)
    {
    }

    RtfReadResult Run();

private:
    State& S() { return stack_.back(); }

    // Parsing
    void OpenGroup();
    void CloseGroup();
    void SkipGroup();
    void SkipRestOfGroup();
    void Text();
    void Control();
    void Word(std::string_view word, bool hasParam, int param);
    void Symbol(unsigned char c);
    void SkipBinary(int count);

    // Text
    void AddBytes(const char* s, qsizetype len);
    void AddUnit(char32_t c);
    void DecodePending();
    void FlushText();
    void InsertBody(QString text);
    void EndParagraph();
    void MaterializeBreak();
    void ApplyBlockFormat();
    void InsertRuns(const QString& text);
    const FontEntry* FindFont(int id) const;
    int CurrentCodePage();
    QStringDecoder* DecoderFor(int cp);
    const QTextCharFormat& CharFormat(bool eastAsian = false);

    // Tables
    void StartFont(int id);
    void FinalizeFont();
    void PushColor();

    void Stop(QString why)
    {
        truncated_ = true;
        stop_ = true;
        Note(std::move(why));
    }
    void Note(QString what)
    {
        if (!notes_.contains(what))
            notes_.append(std::move(what));
    }

    const char* p_;
    qsizetype n_;
    qsizetype pos_;
    QTextCursor cursor_;

    std::vector<State> stack_;
    bool ignorable_ = false; // \* seen: an unknown destination follows
    int skip_ = 0;           // fallback units still to skip after \u
    bool stop_ = false;

    int docCp_ = 1252;
    int deff_ = -1;
    QHash<int, FontEntry> fonts_;
    std::vector<ColorEntry> colors_;

    bool entryOpen_ = false;
    int entryId_ = 0;
    int entryCharsetCp_ = 0;
    int entryCpg_ = 0;
    size_t entryDepth_ = 0;
    QString entryName_;

    int red_ = 0, green_ = 0, blue_ = 0;
    bool colorHasRgb_ = false;

    QByteArray pendingBytes_;
    int pendingCp_ = 0;
    QString pendingText_;
    std::unordered_map<int, std::unique_ptr<QStringDecoder>> decoders_;

    bool pendingBreak_ = false;
    std::optional<Qt::Alignment> blockAlign_;
    qsizetype chars_ = 0;
    int paragraphs_ = 1;

    // The last formats built, for other and for East Asian text.
    State formatKey_[2];
    bool formatValid_[2] = {false, false};
    QTextCharFormat format_[2];

    bool truncated_ = false;
    QStringList notes_;
};

RtfReadResult Reader::Run()
{
    cursor_.beginEditBlock();
    while (pos_ < n_ && !stop_) {
        const unsigned char c = static_cast<unsigned char>(p_[pos_]);
        if (c == '{') {
            ++pos_;
            OpenGroup();
        } else if (c == '}') {
            ++pos_;
            CloseGroup();
            if (stack_.empty())
                break; // what follows the document (a NUL, as stored) is not read
        } else if (c == '\\') {
            Control();
        } else if (c == '\r' || c == '\n' || c == 0) {
            ++pos_;
        } else {
            Text();
        }
    }
    if (!stack_.empty()) {
        FlushText();
        if (!stop_)
            Note(QStringLiteral("the document ends before all its groups are closed"));
    }
    cursor_.endEditBlock();

    RtfReadResult r;
    r.ok = true;
    r.truncated = truncated_;
    r.message = notes_.join(QStringLiteral("; "));
    return r;
}

void Reader::OpenGroup()
{
    FlushText();
    skip_ = 0;
    ignorable_ = false;
    if (stack_.size() >= size_t(kRtfMaxGroupDepth)) {
        truncated_ = true;
        Note(QStringLiteral("groups nested deeper than %1 levels were skipped").arg(kRtfMaxGroupDepth));
        SkipGroup();
        return;
    }
    if (stack_.empty()) {
        stack_.emplace_back();
        return;
    }
    State child = S();
    if (child.dest == Dest::Upr)
        child.dest = Dest::UprPending;
    stack_.push_back(child);
}

void Reader::CloseGroup()
{
    FlushText();
    skip_ = 0;
    ignorable_ = false;
    if (entryOpen_ && stack_.size() == entryDepth_)
        FinalizeFont();
    stack_.pop_back();
}

// Skips to the end of the group just opened, without keeping any state: braces, escaped braces
// and \bin data are all it has to understand.
void Reader::SkipGroup()
{
    qsizetype depth = 1;
    while (pos_ < n_) {
        const unsigned char c = static_cast<unsigned char>(p_[pos_]);
        if (c == '{') {
            ++depth;
            ++pos_;
        } else if (c == '}') {
            ++pos_;
            if (--depth == 0)
                return;
        } else if (c == '\\') {
            ++pos_;
            if (pos_ < n_ && IsLetter(static_cast<unsigned char>(p_[pos_]))) {
                const qsizetype s = pos_;
                while (pos_ < n_ && IsLetter(static_cast<unsigned char>(p_[pos_])))
                    ++pos_;
                if (std::string_view(p_ + s, size_t(pos_ - s)) == "bin") {
                    qint64 v = 0;
                    while (pos_ < n_ && IsDigit(static_cast<unsigned char>(p_[pos_]))) {
                        v = std::min<qint64>(v * 10 + (p_[pos_] - '0'), INT_MAX);
                        ++pos_;
                    }
                    if (pos_ < n_ && p_[pos_] == ' ')
                        ++pos_;
                    SkipBinary(int(v));
                }
            } else if (pos_ < n_) {
                ++pos_; // the escaped character, so \{ and \} do not count
            }
        } else {
            // Plain bytes: jump to the next character that matters.
            while (pos_ < n_) {
                const char d = p_[pos_];
                if (d == '{' || d == '}' || d == '\\')
                    break;
                ++pos_;
            }
        }
    }
    Note(QStringLiteral("the document ends before all its groups are closed"));
}

void Reader::SkipRestOfGroup()
{
    FlushText();
    skip_ = 0;
    ignorable_ = false;
    SkipGroup();
    if (entryOpen_ && stack_.size() == entryDepth_)
        FinalizeFont();
    stack_.pop_back();
    if (stack_.empty())
        stop_ = true;
}

void Reader::SkipBinary(int count)
{
    const qsizetype left = n_ - pos_;
    if (count > left) {
        Note(QStringLiteral("binary data runs past the end of the document"));
        pos_ = n_;
        return;
    }
    pos_ += std::max(count, 0);
}

void Reader::Text()
{
    ignorable_ = false;
    const qsizetype start = pos_;
    while (pos_ < n_) {
        const char c = p_[pos_];
        if (c == '{' || c == '}' || c == '\\' || c == '\r' || c == '\n' || c == 0)
            break;
        ++pos_;
    }
    const char* s = p_ + start;
    qsizetype len = pos_ - start;

    const Dest dest = S().dest;
    if (dest == Dest::UprPending) {
        SkipRestOfGroup();
        return;
    }
    if (skip_ > 0) {
        const qsizetype k = std::min<qsizetype>(skip_, len);
        skip_ -= int(k);
        s += k;
        len -= k;
    }
    if (dest == Dest::FontTable || dest == Dest::ColorTable) {
        for (qsizetype i = 0; i < len; ++i) {
            if (s[i] != ';') {
                if (dest == Dest::FontTable)
                    AddBytes(s + i, 1);
            } else if (dest == Dest::FontTable) {
                FinalizeFont();
            } else {
                PushColor();
            }
        }
        return;
    }
    AddBytes(s, len);
}

void Reader::Control()
{
    if (pos_ + 1 >= n_) {
        pos_ = n_;
        return;
    }
    const unsigned char c = static_cast<unsigned char>(p_[pos_ + 1]);
    if (!IsLetter(c)) {
        pos_ += 2;
        Symbol(c);
        return;
    }
    const qsizetype ws = pos_ + 1;
    qsizetype q = ws;
    while (q < n_ && IsLetter(static_cast<unsigned char>(p_[q])))
        ++q;
    const std::string_view word(p_ + ws, size_t(q - ws));

    bool negative = false;
    if (q + 1 < n_ && p_[q] == '-' && IsDigit(static_cast<unsigned char>(p_[q + 1]))) {
        negative = true;
        ++q;
    }
    const qsizetype ds = q;
    qint64 v = 0;
    while (q < n_ && IsDigit(static_cast<unsigned char>(p_[q]))) {
        if (v <= qint64(INT_MAX))
            v = v * 10 + (p_[q] - '0');
        ++q;
    }
    const bool hasParam = q > ds;
    if (word.size() > 32)
        Note(QStringLiteral("overlong control words were ignored"));
    if (q - ds > 10)
        Note(QStringLiteral("overlong numbers were clamped"));
    if (q < n_ && p_[q] == ' ')
        ++q;
    pos_ = q;
    if (negative)
        v = -v;
    const int param = int(std::clamp<qint64>(v, INT_MIN, INT_MAX));
    if (word.size() > 32) {
        ignorable_ = false;
        if (skip_ > 0)
            --skip_;
        return;
    }
    Word(word, hasParam, param);
}

void Reader::Word(std::string_view word, bool hasParam, int param)
{
    const bool ignorable = std::exchange(ignorable_, false);
    const auto it = Keywords().find(word);
    const KwInfo info = it == Keywords().end() ? KwInfo{Kw::Unknown} : it->second;

    if (S().dest == Dest::UprPending) {
        if (ignorable && info.kw == Kw::Ud)
            S().dest = S().uprOuter;
        else
            SkipRestOfGroup();
        return;
    }
    // A fallback after \u: control words count as one unit each.
    if (skip_ > 0) {
        --skip_;
        if (info.kw == Kw::Bin)
            SkipBinary(hasParam ? param : 0);
        return;
    }
    if (ignorable && info.kw != Kw::Ud) {
        SkipRestOfGroup();
        return;
    }
    const bool text = info.kw == Kw::U || info.kw == Kw::Char || info.kw == Kw::Tab ||
                      info.kw == Kw::Line || info.kw == Kw::Uc;
    if (!text)
        FlushText();

    State& s = S();
    const bool on = !hasParam || param != 0;
    switch (info.kw) {
    case Kw::Unknown: break;
    case Kw::Ansi: docCp_ = 1252; break;
    case Kw::Mac: docCp_ = 10000; break;
    case Kw::Pc: docCp_ = 437; break;
    case Kw::Pca: docCp_ = 850; break;
    case Kw::AnsiCpg:
        if (param > 0)
            docCp_ = param;
        break;
    case Kw::Deff:
        deff_ = param;
        formatValid_[0] = formatValid_[1] = false;
        break;
    case Kw::FontTable: s.dest = Dest::FontTable; break;
    case Kw::ColorTable:
        s.dest = Dest::ColorTable;
        colors_.clear();
        red_ = green_ = blue_ = 0;
        colorHasRgb_ = false;
        break;
    case Kw::SkipDest: SkipRestOfGroup(); break;
    case Kw::Upr:
        s.uprOuter = s.dest;
        s.dest = Dest::Upr;
        break;
    case Kw::Ud: break;
    case Kw::F:
        if (s.dest == Dest::FontTable) {
            StartFont(param);
        } else {
            s.font = param;
            if (s.script == Script::DoubleByte)
                s.dbFont = param;
        }
        break;
    case Kw::FCharset:
        if (entryOpen_)
            entryCharsetCp_ = CodePageForCharset(param);
        break;
    case Kw::Cpg:
        if (entryOpen_ && param > 0)
            entryCpg_ = param;
        break;
    case Kw::Red:
    case Kw::Green:
    case Kw::Blue:
        if (s.dest == Dest::ColorTable) {
            const int c = std::clamp(param, 0, 255);
            (info.kw == Kw::Red ? red_ : info.kw == Kw::Green ? green_ : blue_) = c;
            colorHasRgb_ = true;
        }
        break;
    case Kw::Plain: s.PlainChars(); break;
    case Kw::B:
        s.bold = on;
        if (s.script == Script::DoubleByte)
            s.dbBold = on;
        break;
    case Kw::I:
        s.italic = on;
        if (s.script == Script::DoubleByte)
            s.dbItalic = on;
        break;
    case Kw::Loch:
    case Kw::Ltrch: s.script = Script::Low; break;
    case Kw::Hich: s.script = Script::High; break;
    case Kw::Dbch: s.script = Script::DoubleByte; break;
    case Kw::Rtlch: s.script = Script::RightToLeft; break;
    case Kw::Af:
        if (s.script == Script::DoubleByte)
            s.dbFont = param;
        break;
    case Kw::Afs:
        if (s.script == Script::DoubleByte && param > 0)
            s.dbHalfPoints = std::min(param, 3276);
        break;
    case Kw::Ab:
        if (s.script == Script::DoubleByte)
            s.dbBold = on;
        break;
    case Kw::Ai:
        if (s.script == Script::DoubleByte)
            s.dbItalic = on;
        break;
    case Kw::Ul: s.underline = on; break;
    case Kw::UlNone: s.underline = false; break;
    case Kw::Strike: s.strike = on; break;
    case Kw::V: s.hidden = on; break;
    case Kw::Fs:
        if (param > 0) {
            s.halfPoints = std::min(param, 3276);
            if (s.script == Script::DoubleByte)
                s.dbHalfPoints = s.halfPoints;
        }
        break;
    case Kw::Cf: s.color = std::max(param, 0); break;
    case Kw::Pard: s.align = Qt::AlignLeft; break;
    case Kw::Ql: s.align = Qt::AlignLeft; break;
    case Kw::Qc: s.align = Qt::AlignHCenter; break;
    case Kw::Qr: s.align = Qt::AlignRight; break;
    case Kw::Qj: s.align = Qt::AlignJustify; break;
    case Kw::Par: EndParagraph(); break;
    case Kw::Line: AddUnit(0x2028); break;
    case Kw::Tab: AddUnit('\t'); break;
    case Kw::Char: AddUnit(info.ch); break;
    case Kw::U: {
        qint64 c = param;
        if (c < 0)
            c += 65536;
        if (c >= 0 && c <= 0x10FFFF)
            AddUnit(char32_t(c));
        skip_ = s.uc;
        break;
    }
    case Kw::Uc: s.uc = hasParam ? std::clamp(param, 0, 16) : 1; break;
    case Kw::Bin: SkipBinary(hasParam ? param : 0); break;
    }
}

void Reader::Symbol(unsigned char c)
{
    if (S().dest == Dest::UprPending) {
        if (c == '*')
            ignorable_ = true;
        else
            SkipRestOfGroup();
        return;
    }
    if (c == '*') {
        ignorable_ = true;
        return;
    }
    ignorable_ = false;
    const bool hex = c == '\'';
    char byte = 0;
    if (hex) {
        int v = 0, digits = 0;
        while (digits < 2 && pos_ < n_) {
            const int h = HexValue(static_cast<unsigned char>(p_[pos_]));
            if (h < 0)
                break;
            v = v * 16 + h;
            ++digits;
            ++pos_;
        }
        if (digits == 0)
            return;
        byte = char(v);
    }
    if (skip_ > 0) {
        --skip_;
        return;
    }
    switch (c) {
    case '\'': AddBytes(&byte, 1); break;
    case '\\':
    case '{':
    case '}': {
        const char ch = char(c);
        AddBytes(&ch, 1);
        break;
    }
    case '~': AddUnit(0x00A0); break;
    case '_': AddUnit(0x2011); break;
    case '-': AddUnit(0x00AD); break;
    case '\r':
    case '\n':
        FlushText();
        EndParagraph();
        break;
    default: break;
    }
}

const FontEntry* Reader::FindFont(int id) const
{
    auto it = fonts_.constFind(id < 0 ? deff_ : id);
    if (it == fonts_.constEnd())
        it = fonts_.constFind(deff_);
    return it == fonts_.constEnd() ? nullptr : &*it;
}

int Reader::CurrentCodePage()
{
    if (S().dest == Dest::FontTable) {
        if (!entryOpen_)
            return docCp_;
        const int cp = entryCpg_ ? entryCpg_ : entryCharsetCp_;
        return cp ? cp : docCp_;
    }
    const State& s = S();
    const FontEntry* f =
        FindFont(s.script == Script::DoubleByte && s.dbFont >= 0 ? s.dbFont : s.font);
    return f && f->codePage ? f->codePage : docCp_;
}

void Reader::AddBytes(const char* s, qsizetype len)
{
    if (len <= 0)
        return;
    const int cp = CurrentCodePage();
    if (!pendingBytes_.isEmpty() && cp != pendingCp_)
        DecodePending();
    pendingCp_ = cp;
    pendingBytes_.append(s, len);
}

void Reader::AddUnit(char32_t c)
{
    DecodePending();
    if (c > 0xFFFF) {
        pendingText_.append(QChar::highSurrogate(c));
        pendingText_.append(QChar::lowSurrogate(c));
    } else {
        pendingText_.append(QChar(char16_t(c)));
    }
}

QStringDecoder* Reader::DecoderFor(int cp)
{
    auto it = decoders_.find(cp);
    if (it != decoders_.end())
        return it->second.get();
    std::unique_ptr<QStringDecoder> d;
    for (const QByteArray& name : CodecNames(cp)) {
        auto candidate = std::make_unique<QStringDecoder>(name.constData());
        if (candidate->isValid()) {
            d = std::move(candidate);
            break;
        }
    }
    if (!d)
        Note(QStringLiteral("code page %1 is not available; its text was read as Latin-1").arg(cp));
    return decoders_.emplace(cp, std::move(d)).first->second.get();
}

void Reader::DecodePending()
{
    if (pendingBytes_.isEmpty())
        return;
    const bool ascii = std::all_of(pendingBytes_.cbegin(), pendingBytes_.cend(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    QStringDecoder* d = ascii || pendingCp_ == kSymbolCodePage ? nullptr : DecoderFor(pendingCp_);
    if (!d) {
        pendingText_.append(QString::fromLatin1(pendingBytes_));
    } else {
        // A NUL after the run completes any lead byte left dangling at its end, so the decoder
        // keeps no state from one run to the next.
        pendingBytes_.append('\0');
        QString decoded = d->decode(pendingBytes_);
        if (decoded.endsWith(QChar(0)))
            decoded.chop(1);
        if (d->hasError()) {
            Note(QStringLiteral("bytes that code page %1 cannot decode were replaced").arg(pendingCp_));
            d->resetState();
        }
        pendingText_.append(decoded);
    }
    pendingBytes_.clear();
}

void Reader::FlushText()
{
    DecodePending();
    if (pendingText_.isEmpty())
        return;
    QString text = std::exchange(pendingText_, QString());
    switch (S().dest) {
    case Dest::Body:
        if (!S().hidden)
            InsertBody(std::move(text));
        break;
    case Dest::FontTable:
        if (entryOpen_ && entryName_.size() < 256)
            entryName_.append(text.left(256 - entryName_.size()));
        break;
    default: break;
    }
}

void Reader::InsertBody(QString text)
{
    // Only plain characters reach the document: the separators and markers QTextDocument treats
    // as structure are dropped, and lone surrogates become U+FFFD.
    qsizetype out = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            text[out++] = c;
            text[out++] = text.at(++i);
            continue;
        }
        if (c.isSurrogate()) {
            text[out++] = QChar::ReplacementCharacter;
            continue;
        }
        if ((u < 0x20 && u != '\t') || u == 0x2029 || u == 0xFFFC || u == 0xFDD0 || u == 0xFDD1)
            continue;
        text[out++] = c;
    }
    text.truncate(out);
    if (text.isEmpty())
        return;
    MaterializeBreak();
    if (stop_)
        return;
    if (chars_ + text.size() > kRtfMaxChars) {
        qsizetype keep = kRtfMaxChars - chars_;
        if (keep > 0 && text.at(keep - 1).isHighSurrogate())
            --keep;
        text.truncate(keep);
        InsertRuns(text);
        Stop(QStringLiteral("the text was cut at %1 characters").arg(kRtfMaxChars));
        return;
    }
    chars_ += text.size();
    InsertRuns(text);
    ApplyBlockFormat();
}

// With East Asian overrides in force, East Asian characters get their own font and size.
// Spaces and punctuation go with the script of the letters before them (after them at the
// start), as LibreOffice and Word assign them.
void Reader::InsertRuns(const QString& text)
{
    if (text.isEmpty())
        return;
    if (!S().HasDoubleByteFormat()) {
        cursor_.insertText(text, CharFormat(false));
        return;
    }
    const qsizetype n = text.size();
    std::vector<int8_t> kind(size_t(n), -1); // 1 East Asian, 0 other, -1 neutral
    int8_t first = -1;
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text.at(i).unicode();
        if (text.at(i).isHighSurrogate() && i + 1 < n) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
        } else if (text.at(i).isLowSurrogate() && i > 0) {
            kind[size_t(i)] = kind[size_t(i - 1)];
            continue;
        }
        if (IsCjk(c))
            kind[size_t(i)] = 1;
        else if (QChar::isLetterOrNumber(c))
            kind[size_t(i)] = 0;
        if (first < 0)
            first = kind[size_t(i)];
    }
    int8_t prev = first < 0 ? 0 : first;
    for (int8_t& k : kind)
        k = k < 0 ? prev : (prev = k);
    qsizetype start = 0;
    for (qsizetype i = 1; i <= n; ++i) {
        if (i == n || kind[size_t(i)] != kind[size_t(start)]) {
            cursor_.insertText(text.mid(start, i - start), CharFormat(kind[size_t(start)] == 1));
            start = i;
        }
    }
}

void Reader::EndParagraph()
{
    if (S().dest != Dest::Body)
        return;
    MaterializeBreak();
    if (stop_)
        return;
    ApplyBlockFormat();
    // An empty paragraph's height comes from its mark's format.
    if (cursor_.block().length() == 1)
        cursor_.setBlockCharFormat(CharFormat());
    // The break waits for more text: the document's last \par is its final paragraph mark, as a
    // rich-edit control reads it, not the start of an empty paragraph.
    pendingBreak_ = true;
}

void Reader::MaterializeBreak()
{
    if (!pendingBreak_)
        return;
    if (paragraphs_ >= kRtfMaxParagraphs) {
        Stop(QStringLiteral("the text was cut at %1 paragraphs").arg(kRtfMaxParagraphs));
        return;
    }
    QTextBlockFormat bf;
    bf.setAlignment(S().align);
    cursor_.insertBlock(bf, CharFormat());
    blockAlign_ = S().align;
    ++paragraphs_;
    pendingBreak_ = false;
}

void Reader::ApplyBlockFormat()
{
    if (blockAlign_ == S().align)
        return;
    QTextBlockFormat bf = cursor_.blockFormat();
    bf.setAlignment(S().align);
    cursor_.setBlockFormat(bf);
    blockAlign_ = S().align;
}

const QTextCharFormat& Reader::CharFormat(bool eastAsian)
{
    const State& s = S();
    const int slot = eastAsian ? 1 : 0;
    if (formatValid_[slot] && formatKey_[slot].SameChars(s))
        return format_[slot];
    QTextCharFormat f;
    const FontEntry* font = FindFont(eastAsian && s.dbFont >= 0 ? s.dbFont : s.font);
    if (font && !font->name.isEmpty())
        f.setFontFamilies({font->name});
    const int halfPoints = eastAsian && s.dbHalfPoints > 0 ? s.dbHalfPoints : s.halfPoints;
    f.setFontPointSize(halfPoints / 2.0);
    const bool bold = eastAsian && s.dbBold >= 0 ? s.dbBold > 0 : s.bold;
    const bool italic = eastAsian && s.dbItalic >= 0 ? s.dbItalic > 0 : s.italic;
    f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(italic);
    f.setFontUnderline(s.underline);
    f.setFontStrikeOut(s.strike);
    // \cf0 is the automatic colour whatever the table's first entry says, as rich-edit controls
    // read it; so are empty entries.
    if (s.color > 0 && size_t(s.color) < colors_.size() && !colors_[size_t(s.color)].automatic)
        f.setForeground(colors_[size_t(s.color)].color);
    format_[slot] = f;
    formatKey_[slot] = s;
    formatValid_[slot] = true;
    return format_[slot];
}

void Reader::StartFont(int id)
{
    FinalizeFont();
    entryOpen_ = true;
    entryId_ = id;
    entryCharsetCp_ = 0;
    entryCpg_ = 0;
    entryDepth_ = stack_.size();
    entryName_.clear();
}

void Reader::FinalizeFont()
{
    FlushText();
    if (!entryOpen_)
        return;
    entryOpen_ = false;
    if (fonts_.size() >= kRtfMaxTableEntries && !fonts_.contains(entryId_)) {
        Note(QStringLiteral("fonts past the first %1 were ignored").arg(kRtfMaxTableEntries));
        return;
    }
    FontEntry e;
    e.name = entryName_.trimmed();
    e.codePage = entryCpg_ ? entryCpg_ : entryCharsetCp_;
    fonts_.insert(entryId_, e);
    formatValid_[0] = formatValid_[1] = false;
}

void Reader::PushColor()
{
    if (colors_.size() < size_t(kRtfMaxTableEntries)) {
        ColorEntry e;
        e.automatic = !colorHasRgb_;
        e.color = QColor(red_, green_, blue_);
        colors_.push_back(e);
    } else {
        Note(QStringLiteral("colours past the first %1 were ignored").arg(kRtfMaxTableEntries));
    }
    red_ = green_ = blue_ = 0;
    colorHasRgb_ = false;
    formatValid_[0] = formatValid_[1] = false;
}

} // namespace

RtfReadResult ReadRtf(const QByteArray& rtf, QTextDocument& doc)
{
    const bool undo = doc.isUndoRedoEnabled();
    doc.setUndoRedoEnabled(false);
    doc.clear();

    qsizetype start = 0;
    while (start < rtf.size() && (rtf[start] == ' ' || rtf[start] == '\t' || rtf[start] == '\r' ||
                                  rtf[start] == '\n'))
        ++start;
    RtfReadResult r;
    if (!QByteArrayView(rtf).sliced(start).startsWith("{\\rtf")) {
        r.message = QStringLiteral("not RTF: the data does not begin with {\\rtf");
    } else {
        Reader reader(rtf, start, doc);
        r = reader.Run();
    }
    doc.setUndoRedoEnabled(undo);
    return r;
}

} // namespace mx
