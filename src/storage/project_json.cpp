#include "storage/project_json.h"

#include "link/engine_env.h"
#include "model/imagepage.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"
#include "render/picture_page.h"
#include "codec/rtf_reader.h"
#include "codec/limits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextDocument>

namespace mx {

namespace {

constexpr int kJsonFormat = 1;
// The project file keeps a rich-text document with a 16-bit length.
constexpr qint64 kMaxStoredRtfBytes = 0xFFFF;

// Thrown inside the reader only; it never leaves this file.
struct JsonError {
    QString what;
};

[[noreturn]] void fail(const QString& what) { throw JsonError{what}; }

// A value as it is written in JSON, for messages.
QString jsonText(const QJsonValue& v)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

QString hexOf(const uint8_t* data, int n)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(data), n).toHex(' '));
}

// fromHex skips what is not a digit, so a stray letter would shift the bytes unnoticed.
QByteArray bytesOf(const QJsonValue& v, int n, const QString& where)
{
    QByteArray digits;
    bool clean = v.isString();
    for (QChar c : v.toString()) {
        if (c.isSpace())
            continue;
        if (!isxdigit(c.toLatin1()))
            clean = false;
        digits.append(c.toLatin1());
    }
    const QByteArray b = QByteArray::fromHex(digits);
    if (!clean || digits.size() != 2 * n || b.size() != n)
        fail(QStringLiteral("%1 must hold %2 bytes in hexadecimal").arg(where).arg(n));
    return b;
}

int intOf(const QJsonValue& v, qint64 lo, qint64 hi, const QString& where)
{
    if (!v.isDouble() || v.toDouble() != double(qint64(v.toDouble())) || v.toDouble() < double(lo)
        || v.toDouble() > double(hi))
        fail(QStringLiteral("%1 must be a whole number from %2 to %3").arg(where).arg(lo).arg(hi));
    return int(v.toDouble());
}

QString stringOf(const QJsonValue& v, const QString& where)
{
    if (!v.isString())
        fail(QStringLiteral("%1 must be a text").arg(where));
    return v.toString();
}

// Line breaks are allowed (the base64 tool writes them); any other stray character is refused.
QByteArray base64Of(const QJsonValue& v, const QString& where)
{
    QByteArray text;
    for (QChar c : stringOf(v, where))
        if (!c.isSpace())
            text.append(c.unicode() < 0x80 ? char(c.unicode()) : '?');
    auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        fail(QStringLiteral("%1 is not valid base64").arg(where));
    return *decoded;
}

QJsonArray arrayOf(const QJsonValue& v, const QString& where)
{
    if (!v.isArray())
        fail(QStringLiteral("%1 must be a list").arg(where));
    return v.toArray();
}

QJsonObject objectOf(const QJsonValue& v, const QString& where)
{
    if (!v.isObject())
        fail(QStringLiteral("%1 must be an object").arg(where));
    return v.toObject();
}

// Dates and times: readable text when it gives back the stored value exactly, else the number.
QJsonValue dateValue(double v, bool timeOfDay)
{
    const QString text = timeOfDay ? LcmTime(v).toString(QStringLiteral("HH:mm:ss.zzz"))
                                   : LcmDate(v).toString(Qt::ISODate);
    if (timeOfDay ? LcmTime(v).isValid() : LcmDate(v).isValid()) {
        const double back = timeOfDay
            ? double(LcmTime(v).msecsSinceStartOfDay()) / 86400000.0
            : double(QDate(1899, 12, 30).daysTo(LcmDate(v)));
        if (back == v)
            return text;
    }
    return v;
}

double dateFrom(const QJsonValue& v, bool timeOfDay, const QString& where)
{
    if (v.isDouble())
        return v.toDouble();
    const QString s = stringOf(v, where);
    if (timeOfDay) {
        QTime t = QTime::fromString(s, QStringLiteral("HH:mm:ss.zzz"));
        if (!t.isValid())
            t = QTime::fromString(s, QStringLiteral("HH:mm:ss"));
        if (!t.isValid())
            t = QTime::fromString(s, QStringLiteral("HH:mm"));
        if (!t.isValid())
            fail(QStringLiteral("%1 must be a time of day such as 08:30:00").arg(where));
        return double(t.msecsSinceStartOfDay()) / 86400000.0;
    }
    const QDate d = QDate::fromString(s, Qt::ISODate);
    if (!d.isValid())
        fail(QStringLiteral("%1 must be a date such as 2025-10-01").arg(where));
    return double(QDate(1899, 12, 30).daysTo(d));
}

// Named fields of the page property record, with the values the documentation allows for
// them. The record itself may hold others (a project file does); only a named field that
// changes it is checked.
enum class F { U8, U16, HighNibble, LowNibble, Bit7, Date, Time, Flag };
struct RecordField {
    const char* key;
    int offset;
    F type;
    int lo = 0, hi = 0;
};
const RecordField kRecordFields[] = {
    {"programNumber", Rec::ProgramNumber, F::U16, 0, 65535}, {"effect", Rec::Effect, F::U8, 0, 19},
    {"border", Rec::BorderFlash, F::HighNibble, 0, 15},      {"flash", Rec::BorderFlash, F::LowNibble, 0, 2},
    {"speed", Rec::Speed, F::U8, 0, 15},                     {"stayTime", Rec::StayTime, F::U8, 0, 255},
    {"flashCycle", Rec::FlashCycle, F::U8, 2, 255},          {"loopCount", Rec::LoopCount, F::U8, 0, 255},
    {"startDate", Rec::StartDate, F::Date},                  {"startTime", Rec::StartTime, F::Time},
    {"stopDate", Rec::StopDate, F::Date},                    {"stopTime", Rec::StopTime, F::Time},
    {"colour", Rec::Colour, F::U8, 1, 3},                    {"displayType", Rec::DisplayType, F::U8, 0, 6},
    {"pageIndex", Rec::PageIndex, F::U8, 0, 255},            {"lastPageIndex", Rec::LastPageIndex, F::U8, 0, 255},
    {"payloadLength", Rec::PayloadLength, F::U16, 0, 65535}, {"partition", Rec::PartitionClear, F::LowNibble, 0, 4},
    {"clearPanel", Rec::PartitionClear, F::Bit7},            {"allDates", Rec::AllDates, F::Flag},
    {"allTimes", Rec::AllTimes, F::Flag},
};

QJsonValue fieldValue(const TLCMSendMsg& page, const RecordField& f)
{
    const uint8_t b = page.U8(f.offset);
    switch (f.type) {
    case F::U8: return int(b);
    case F::U16: return int(page.U16(f.offset));
    case F::HighNibble: return int(b >> 4);
    case F::LowNibble: return int(b & 0x0F);
    case F::Bit7: return (b & 0x80) != 0;
    case F::Flag: return b != 0;
    case F::Date: return dateValue(page.F64(f.offset), false);
    case F::Time: return dateValue(page.F64(f.offset), true);
    }
    return {};
}

void setField(TLCMSendMsg& page, const RecordField& f, const QJsonValue& v, const QString& where)
{
    const uint8_t b = page.U8(f.offset);
    auto flag = [&] {
        if (!v.isBool())
            fail(QStringLiteral("%1 must be true or false").arg(where));
        return v.toBool();
    };
    switch (f.type) {
    case F::U8: page.SetU8(f.offset, uint8_t(intOf(v, f.lo, f.hi, where))); break;
    case F::U16: page.SetU16(f.offset, uint16_t(intOf(v, f.lo, f.hi, where))); break;
    case F::HighNibble: page.SetU8(f.offset, uint8_t((intOf(v, f.lo, f.hi, where) << 4) | (b & 0x0F))); break;
    case F::LowNibble: page.SetU8(f.offset, uint8_t((b & 0xF0) | intOf(v, f.lo, f.hi, where))); break;
    case F::Bit7: page.SetU8(f.offset, uint8_t(flag() ? (b | 0x80) : (b & 0x7F))); break;
    case F::Flag: page.SetU8(f.offset, flag() ? (b ? b : 1) : 0); break;
    case F::Date: page.SetF64(f.offset, dateFrom(v, false, where)); break;
    case F::Time: page.SetF64(f.offset, dateFrom(v, true, where)); break;
    }
}

QJsonObject propertiesToJson(const TLCMSendMsg& page)
{
    QJsonObject o;
    for (const RecordField& f : kRecordFields)
        o[f.key] = fieldValue(page, f);
    o["record"] = hexOf(page.Record().data(), int(page.Record().size()));
    return o;
}

void propertiesFromJson(TLCMSendMsg& page, const QJsonObject& o, const QString& where)
{
    if (o.contains("record")) {
        const QByteArray b = bytesOf(o["record"], 56, where + ".record");
        std::copy(b.begin(), b.end(), page.Record().begin());
    }
    for (const RecordField& f : kRecordFields) {
        // A field that says what the record already holds leaves its bytes alone.
        if (o.contains(f.key) && o[f.key] != fieldValue(page, f))
            setField(page, f, o[f.key], where + "." + f.key);
    }
}

// The card takes partitions in units of 8 dots (its table divides by 8).
void checkPartitionRect(const LcmRect& r, int width, int height, const QString& where)
{
    for (int v : {r.left, r.top, r.right, r.bottom})
        if (v % 8)
            fail(QStringLiteral("%1 [%2, %3, %4, %5]: every edge must be a multiple of 8 dots")
                     .arg(where).arg(r.left).arg(r.top).arg(r.right).arg(r.bottom));
    if (r.left < 0 || r.top < 0 || r.right > width || r.bottom > height || r.left >= r.right || r.top >= r.bottom)
        fail(QStringLiteral("%1 [%2, %3, %4, %5] must be a non-empty rectangle within the screen's %6 x %7 dots")
                 .arg(where).arg(r.left).arg(r.top).arg(r.right).arg(r.bottom).arg(width).arg(height));
}

struct KindName {
    uint16_t kind;
    const char* name;
};
const KindName kKinds[] = {{KindText, "text"},           {KindRtf, "richText"},        {KindImage, "picture"},
                           {KindTimer, "clock"},         {KindTemperature, "temperature"}, {KindConter, "countdown"},
                           {KindTimerEx, "dial"}};

// RTF as readable text when it is plain 7-bit text with its trailing zero bytes counted apart.
void documentToJson(const QByteArray& doc, QJsonObject& o)
{
    qsizetype end = doc.size();
    while (end > 0 && doc[end - 1] == '\0')
        --end;
    bool plain = true;
    for (qsizetype i = 0; i < end && plain; ++i) {
        const auto c = uint8_t(doc[i]);
        plain = (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n' || c == '\t';
    }
    if (plain) {
        o["rtf"] = QString::fromLatin1(doc.left(end));
        o["rtfTrailingZeros"] = int(doc.size() - end);
    } else {
        o["rtfBase64"] = QString::fromLatin1(doc.toBase64());
    }
}

// The file's bytes as they are, as the editor's open takes a file into the page.
QByteArray rtfFromFile(const QJsonValue& v, const QString& baseDir, const QString& where)
{
    const QString path = QDir(baseDir).filePath(stringOf(v, where));
    const QFileInfo info(path);
    if (!info.exists())
        fail(QStringLiteral("%1: %2 does not exist").arg(where, path));
    if (!info.isFile())
        fail(QStringLiteral("%1: %2 is not a regular file").arg(where, path));
    if (info.size() > kMaxStoredRtfBytes)
        fail(QStringLiteral("%1: %2 holds %3 bytes; a rich-text page stores at most %4")
                 .arg(where, path)
                 .arg(info.size())
                 .arg(kMaxStoredRtfBytes));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("%1: %2 cannot be opened (%3)").arg(where, path, file.errorString()));
    const QByteArray bytes = file.read(kMaxStoredRtfBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kMaxStoredRtfBytes)
        fail(QStringLiteral("%1: %2 cannot be read (%3)").arg(where, path, file.errorString()));
    QTextDocument probe;
    if (!ReadRtf(bytes, probe).ok)
        fail(QStringLiteral("%1: %2 is not RTF (it does not begin with {\\rtf)").arg(where, path));
    return bytes;
}

QByteArray documentFromJson(const QJsonObject& o, const QString& where, const QString& baseDir)
{
    const int given = int(o.contains("rtfFile")) + int(o.contains("rtf")) + int(o.contains("rtfBase64"));
    if (given > 1)
        fail(QStringLiteral("%1: give one of rtfFile, rtf and rtfBase64").arg(where));
    if (o.contains("rtfFile"))
        return rtfFromFile(o["rtfFile"], baseDir, where + ".rtfFile");
    if (o.contains("rtfBase64"))
        return base64Of(o["rtfBase64"], where + ".rtfBase64");
    if (!o.contains("rtf"))
        return DefaultRtfDocument();
    const QString text = stringOf(o["rtf"], where + ".rtf");
    for (QChar c : text)
        if (c.unicode() > 0x7E && c.unicode() != 0)
            fail(QStringLiteral("%1.rtf must be 7-bit RTF text; use rtfBase64 for other bytes").arg(where));
    QByteArray doc = text.toLatin1();
    doc.append(QByteArray(o.contains("rtfTrailingZeros") ? intOf(o["rtfTrailingZeros"], 0, 16, where + ".rtfTrailingZeros") : 0, '\0'));
    return doc;
}

QJsonObject pageToJson(const TLCMSendMsg& page)
{
    QJsonObject o;
    for (const KindName& k : kKinds)
        if (k.kind == page.kind)
            o["kind"] = k.name;
    switch (page.kind) {
    case KindText: o["lines"] = QJsonArray::fromStringList(static_cast<const TLCMText&>(page).lines); break;
    case KindRtf: {
        const auto& r = static_cast<const TLCMRtf&>(page);
        o["caption"] = r.name;
        o["pagingDirection"] = r.pagingDirection == 1 ? "vertical" : "horizontal";
        o["ledPageCount"] = r.ledPageCount;
        documentToJson(r.Document(), o);
        break;
    }
    case KindImage: {
        const auto& img = static_cast<const TLCMImage&>(page);
        o["reserved"] = img.reserved;
        o["displayData"] = QString::fromLatin1(img.DisplayData().toBase64());
        const auto [bmp, w, h] = img.StoredPicture();
        o["pictureWidth"] = w;
        o["pictureHeight"] = h;
        o["pictureBmp"] = QString::fromLatin1(bmp.toBase64());
        break;
    }
    case KindTimer:
    case KindTemperature: o["template"] = static_cast<const TTemplatePage&>(page).displayTemplate; break;
    case KindConter: {
        const auto& c = static_cast<const TLCMConter&>(page);
        o["template"] = c.displayTemplate;
        o["digitCount"] = c.digitCount;
        o["targetDate"] = dateValue(c.targetDate, false);
        break;
    }
    default: break;
    }
    o["properties"] = propertiesToJson(page);
    return o;
}

std::unique_ptr<TLCMSendMsg> pageFromJson(const QJsonObject& o, TLCMPanel& screen, const QString& where,
                                          const QString& baseDir)
{
    const QString kindName = stringOf(o["kind"], where + ".kind");
    uint16_t kind = 0;
    for (const KindName& k : kKinds)
        if (kindName == QLatin1String(k.name))
            kind = k.kind;
    auto page = TLCMUnits::CreatePage(kind);
    if (!page)
        fail(QStringLiteral("%1.kind \"%2\" names no page type").arg(where, kindName));
    if (o.contains("properties"))
        propertiesFromJson(*page, objectOf(o["properties"], where + ".properties"), where + ".properties");
    switch (kind) {
    case KindText: {
        auto& t = static_cast<TLCMText&>(*page);
        if (o.contains("lines")) {
            t.lines.clear();
            for (const QJsonValue& v : arrayOf(o["lines"], where + ".lines"))
                t.lines << stringOf(v, where + ".lines");
        }
        break;
    }
    case KindRtf: {
        auto& r = static_cast<TLCMRtf&>(*page);
        r.Document() = documentFromJson(o, where, baseDir);
        if (o.contains("caption"))
            r.name = stringOf(o["caption"], where + ".caption");
        if (o.contains("pagingDirection")) {
            const QString direction = stringOf(o["pagingDirection"], where + ".pagingDirection");
            if (direction != "horizontal" && direction != "vertical")
                fail(QStringLiteral("%1.pagingDirection must be \"horizontal\" or \"vertical\"").arg(where));
            r.pagingDirection = direction == "vertical" ? 1 : 0;
        }
        if (o.contains("ledPageCount"))
            r.ledPageCount = intOf(o["ledPageCount"], 1, kMaxRtfSlots, where + ".ledPageCount");
        break;
    }
    case KindImage: {
        auto& img = static_cast<TLCMImage&>(*page);
        if (o.contains("reserved"))
            img.reserved = uint8_t(intOf(o["reserved"], 0, 255, where + ".reserved"));
        if (o.contains("pictureFile")) {
            // A picture named by file is fitted to the page's area as the editor would.
            const QString file = QDir(baseDir).filePath(stringOf(o["pictureFile"], where + ".pictureFile"));
            const auto area = PageArea(screen, img);
            if (!area)
                fail(QStringLiteral("%1 has no partition rectangle to fit its picture into").arg(where));
            const PictureOutcome r = LoadPicture(img, file, screen.params, area->Width(), area->Height());
            if (!r.ok)
                fail(QStringLiteral("%1.pictureFile: %2").arg(where, r.message));
        } else {
            const QByteArray data = base64Of(o["displayData"], where + ".displayData");
            const QByteArray bmp = base64Of(o["pictureBmp"], where + ".pictureBmp");
            if (data.size() > kMaxDisplayDataBytes || bmp.size() > kMaxPictureBytes)
                fail(QStringLiteral("%1 holds more picture data than a project can").arg(where));
            img.SetDisplayData(data);
            img.SetStoredPicture(bmp, intOf(o["pictureWidth"], INT32_MIN, INT32_MAX, where + ".pictureWidth"),
                                 intOf(o["pictureHeight"], INT32_MIN, INT32_MAX, where + ".pictureHeight"));
        }
        break;
    }
    case KindTimer:
    case KindTemperature:
        if (o.contains("template"))
            static_cast<TTemplatePage&>(*page).displayTemplate = stringOf(o["template"], where + ".template");
        break;
    case KindConter: {
        auto& c = static_cast<TLCMConter&>(*page);
        if (o.contains("template"))
            c.displayTemplate = stringOf(o["template"], where + ".template");
        if (o.contains("digitCount"))
            c.digitCount = intOf(o["digitCount"], INT32_MIN, INT32_MAX, where + ".digitCount");
        if (o.contains("targetDate"))
            c.targetDate = dateFrom(o["targetDate"], false, where + ".targetDate");
        break;
    }
    default: break;
    }
    return page;
}

} // namespace

QJsonObject ParamsToJson(const ParamRecord& r)
{
    QJsonObject o;
    o["width"] = r[Param::Width] * 8;
    o["height"] = r[Param::Height] * 8;
    o["colourType"] = r[Param::ColourType];
    o["dataPolarity"] = r[Param::DataPolarity];
    o["oePolarity"] = r[Param::OePolarity];
    o["rowOrder"] = int(int8_t(r[Param::RowOrder]));
    o["scanMode"] = r[Param::ScanMode];
    o["redGreenSwap"] = r[Param::RedGreenSwap];
    o["byte8"] = r[Param::Unused8];
    o["reduceSkew"] = r[Param::ReduceSkew];
    o["dataMirror"] = r[Param::DataMirror];
    o["fieldFrequency"] = r[Param::FieldFrequency];
    o["rowDecoding"] = r[Param::RowDecoding];
    o["record"] = hexOf(r.data(), 16);
    return o;
}

std::optional<ParamRecord> ParamsFromJson(const QJsonObject& o, QString* error)
{
    try {
        ParamRecord r = NewScreenParams();
        if (o.contains("record")) {
            const QByteArray b = bytesOf(o["record"], 16, "\"record\"");
            std::copy(b.begin(), b.end(), r.begin());
        }
        const QJsonObject now = ParamsToJson(r);
        struct Named { const char* key; int index; int lo, hi; int scale; };
        const Named fields[] = {
            {"width", Param::Width, 8, 255 * 8, 8},           {"height", Param::Height, 8, 255 * 8, 8},
            {"colourType", Param::ColourType, 1, 3, 1},       {"dataPolarity", Param::DataPolarity, 0, 1, 1},
            {"oePolarity", Param::OePolarity, 0, 1, 1},       {"rowOrder", Param::RowOrder, -15, 15, 1},
            {"scanMode", Param::ScanMode, 0, 255, 1},         {"redGreenSwap", Param::RedGreenSwap, 0, 1, 1},
            {"byte8", Param::Unused8, 0, 255, 1},             {"reduceSkew", Param::ReduceSkew, 0, 15, 1},
            {"dataMirror", Param::DataMirror, 0, 15, 1},      {"fieldFrequency", Param::FieldFrequency, 0, 15, 1},
            {"rowDecoding", Param::RowDecoding, 0, 15, 1},
        };
        for (const Named& f : fields) {
            if (!o.contains(f.key) || o[f.key] == now[f.key])
                continue;
            const int v = intOf(o[f.key], f.lo, f.hi, QStringLiteral("\"%1\"").arg(f.key));
            if (v % f.scale)
                fail(QStringLiteral("\"%1\" must be a multiple of %2 dots").arg(f.key).arg(f.scale));
            r[size_t(f.index)] = uint8_t(v / f.scale);
        }
        return r;
    } catch (const JsonError& e) {
        if (error)
            *error = e.what;
        return std::nullopt;
    }
}

QByteArray ProjectToJson(const TLCMPanels& project)
{
    QJsonObject root;
    root["marquix"] = kJsonFormat;
    root["serialPort"] = project.serialPortNumber;
    QJsonArray screens;
    for (int i = 0; i < project.Count(); ++i) {
        const TLCMPanel& s = *project.GetPanel(i);
        QJsonObject so;
        so["name"] = s.name;
        so["address"] = s.address;
        so["versionText"] = s.versionText;
        so["params"] = ParamsToJson(s.params);
        QJsonObject po;
        po["type"] = s.partition->type;
        QJsonArray rects;
        for (const LcmRect& r : s.partition->Rects())
            rects.append(QJsonArray{r.left, r.top, r.right, r.bottom});
        po["rects"] = rects;
        so["partition"] = po;
        QJsonArray pages;
        for (int k = 0; k < s.units->GetCount(); ++k)
            pages.append(pageToJson(*s.units->GetPage(k)));
        so["pages"] = pages;
        screens.append(so);
    }
    root["screens"] = screens;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

StorageResult ProjectFromJson(const QByteArray& json, TLCMPanels& project, const QString& name, const QString& baseDir)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError)
        return {false, QStringLiteral("%1 is not JSON: %2 at byte %3").arg(name, pe.errorString()).arg(pe.offset), pe.offset};
    try {
        if (!doc.isObject())
            fail(QStringLiteral("the document must be a JSON object"));
        const QJsonObject root = doc.object();
        if (!root.contains("marquix"))
            fail(QStringLiteral("\"marquix\": %1 is missing; this is not a Marquix project").arg(kJsonFormat));
        if (root["marquix"] != kJsonFormat)
            fail(QStringLiteral("\"marquix\": %1 is a format version this tool does not know; it understands version %2")
                     .arg(jsonText(root["marquix"]))
                     .arg(kJsonFormat));
        TLCMPanels read;
        read.serialPortNumber = root.contains("serialPort") ? intOf(root["serialPort"], INT32_MIN, INT32_MAX, "serialPort") : 1;
        const QJsonArray screens = arrayOf(root["screens"], "screens");
        if (screens.size() > kMaxScreens)
            fail(QStringLiteral("screens: more than %1").arg(kMaxScreens));
        for (qsizetype i = 0; i < screens.size(); ++i) {
            const QString where = QStringLiteral("screens[%1]").arg(i);
            const QJsonObject so = objectOf(screens[i], where);
            TLCMPanel& s = *read.AddPanel();
            s.name = so.contains("name") ? stringOf(so["name"], where + ".name") : read.NextFreeScreenName();
            if (so.contains("address"))
                s.address = uint16_t(intOf(so["address"], 0, 65535, where + ".address"));
            if (so.contains("versionText"))
                s.versionText = stringOf(so["versionText"], where + ".versionText");
            if (so.contains("params")) {
                QString error;
                const auto p = ParamsFromJson(objectOf(so["params"], where + ".params"), &error);
                if (!p)
                    fail(where + ".params: " + error);
                s.params = *p;
            }
            s.partition->ClearRects();
            s.partition->AddRect({0, 0, s.Width(), s.Height()});
            if (so.contains("partition")) {
                const QJsonObject po = objectOf(so["partition"], where + ".partition");
                s.partition->type = int8_t(intOf(po["type"], -128, 127, where + ".partition.type"));
                const QJsonArray rects = arrayOf(po["rects"], where + ".partition.rects");
                if (rects.size() > kMaxPartitionRects)
                    fail(where + ".partition.rects: too many");
                s.partition->ClearRects();
                for (qsizetype j = 0; j < rects.size(); ++j) {
                    const QString w = QStringLiteral("%1.partition.rects[%2]").arg(where).arg(j);
                    const QJsonArray r = arrayOf(rects[j], w);
                    if (r.size() != 4)
                        fail(w + ": each is [left, top, right, bottom]");
                    const LcmRect rect{intOf(r[0], INT32_MIN, INT32_MAX, w), intOf(r[1], INT32_MIN, INT32_MAX, w),
                                       intOf(r[2], INT32_MIN, INT32_MAX, w), intOf(r[3], INT32_MIN, INT32_MAX, w)};
                    checkPartitionRect(rect, s.Width(), s.Height(), w);
                    s.partition->AddRect(rect);
                }
                if (s.partition->GetCount() == 0)
                    s.partition->AddRect({0, 0, s.Width(), s.Height()});
            }
            const QJsonArray pages = so.contains("pages") ? arrayOf(so["pages"], where + ".pages") : QJsonArray();
            if (pages.size() > kMaxPagesPerScreen)
                fail(QStringLiteral("%1.pages: more than %2").arg(where).arg(kMaxPagesPerScreen));
            for (qsizetype k = 0; k < pages.size(); ++k) {
                const QString pw = QStringLiteral("%1.pages[%2]").arg(where).arg(k);
                auto page = pageFromJson(objectOf(pages[k], pw), s, pw, baseDir);
                TLCMSendMsg* p = s.units->Adopt(std::move(page));
                p->firstSlot = s.units->NextFreeTag();
            }
        }
        project.TakeFrom(read);
        return {true, {}, -1};
    } catch (const JsonError& e) {
        return {false, QStringLiteral("%1: %2").arg(name, e.what), -1};
    }
}

} // namespace mx
