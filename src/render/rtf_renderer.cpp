#include "render/rtf_renderer.h"

#include "model/rtfpage.h"
#include "render/picture_page.h"
#include "render/preview_text.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QSet>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

namespace mx {

namespace {

const QString kBitmapSong = QStringLiteral("WenQuanYi Bitmap Song");
const QStringList kSongTiNames = {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("新宋体"),
                                  QStringLiteral("NSimSun")};

QSet<int>& BitmapSongSizes()
{
    static QSet<int> sizes;
    return sizes;
}

bool IsSongTi(const QString& family)
{
    for (const QString& name : kSongTiNames)
        if (family.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// Debian's 70-no-bitmaps rule keeps these faces out of fontconfig's list; Qt still loads them
// when handed the files.
void LoadBitmapSong()
{
    QStringList dirs = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("fonts/X11/misc"),
                                                 QStandardPaths::LocateDirectory);
    dirs << QStringLiteral("/usr/share/fonts/X11/misc") << QStringLiteral("/usr/local/share/fonts/X11/misc");
    QSet<QString> seen;
    if (!QFontDatabase::families().contains(kBitmapSong)) {
        for (const QString& dir : dirs) {
            const QFileInfoList files = QDir(dir).entryInfoList(
                {QStringLiteral("wenquanyi_*.pcf"), QStringLiteral("wenquanyi_*.pcf.gz")}, QDir::Files);
            for (const QFileInfo& file : files) {
                const QString path = file.canonicalFilePath();
                if (seen.contains(path))
                    continue;
                seen.insert(path);
                QFontDatabase::addApplicationFont(path);
            }
        }
    }
    // A bitmap face answers a request for a size it lacks with its nearest strike.
    for (int px = 8; px <= 32; ++px) {
        QFont f(kBitmapSong);
        f.setPixelSize(px);
        const QFontInfo info(f);
        if (info.family() == kBitmapSong && info.pixelSize() == px)
            BitmapSongSizes().insert(px);
    }
}

QImage AsRgb32(const QImage& image)
{
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)
        return image;
    return image.convertToFormat(QImage::Format_RGB32);
}

inline bool Ink(QRgb px) { return (px & 0x00FFFFFFu) != 0; }

bool RowHasInk(const QImage& rgb32, int y)
{
    const auto* row = reinterpret_cast<const QRgb*>(rgb32.constScanLine(y));
    for (int x = 0; x < rgb32.width(); ++x)
        if (Ink(row[x]))
            return true;
    return false;
}

int RightmostInkColumn(const QImage& rgb32)
{
    int right = -1;
    for (int y = 0; y < rgb32.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb32.constScanLine(y));
        for (int x = rgb32.width() - 1; x > right; --x)
            if (Ink(row[x])) {
                right = x;
                break;
            }
    }
    return right;
}

void CopyRect(const QImage& from, const QRect& source, QImage& to, QPoint at, const QRect& clip)
{
    QPainter p(&to);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.setClipRect(clip);
    p.drawImage(at, from, source);
}

// Layout metrics at the render resolution, whatever the screen says.
QPaintDevice* RenderDevice()
{
    static QImage device = NewCanvas(1, 1);
    return &device;
}

QTextCharFormat LedFormat(QTextCharFormat format, const QFont& defaultFont)
{
    const QFont font = format.font().resolve(defaultFont);
    const int px = font.pixelSize() > 0 ? font.pixelSize() : PointsToPixels(font.pointSizeF());
    format.clearProperty(QTextFormat::FontPointSize);
    format.clearProperty(QTextFormat::FontPixelSize);
    format.setFont(LedFont(font, px), QTextCharFormat::FontPropertiesAll);
    return format;
}

// A copy of the document as it is drawn: its first characters only, each in its LED font,
// no margin, laid out at the render resolution.
std::unique_ptr<QTextDocument> DrawingCopy(const QTextDocument& doc)
{
    std::unique_ptr<QTextDocument> copy(doc.clone());
    copy->setDefaultFont(doc.defaultFont());
    copy->setUndoRedoEnabled(false);
    if (copy->characterCount() - 1 > kMaxDrawnCharacters) {
        QTextCursor cut(copy.get());
        cut.setPosition(kMaxDrawnCharacters);
        cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cut.removeSelectedText();
    }
    struct Run {
        int start, length;
        QTextCharFormat format;
    };
    std::vector<Run> runs;
    std::vector<std::pair<int, QTextCharFormat>> blocks;
    const QFont base = copy->defaultFont();
    for (QTextBlock b = copy->begin(); b.isValid(); b = b.next()) {
        blocks.emplace_back(b.position(), LedFormat(b.charFormat(), base));
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (f.isValid())
                runs.push_back({f.position(), f.length(), LedFormat(f.charFormat(), base)});
        }
    }
    QTextCursor c(copy.get());
    for (const auto& [pos, format] : blocks) {
        c.setPosition(pos);
        c.setBlockCharFormat(format);
    }
    for (const Run& r : runs) {
        c.setPosition(r.start);
        c.setPosition(r.start + r.length, QTextCursor::KeepAnchor);
        c.setCharFormat(r.format);
    }
    copy->setDocumentMargin(0);
    QTextOption option = copy->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    copy->setDefaultTextOption(option);
    copy->documentLayout()->setPaintDevice(RenderDevice());
    return copy;
}

// Every lit dot also lights the unlit dot to its right, in its colour, within the rectangle.
void SmearRight(QImage& rgb32, const QRect& within)
{
    const QRect r = within & rgb32.rect();
    for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(rgb32.scanLine(y));
        // Right to left, so a dot lit by the smear lights nothing further.
        for (int x = r.right(); x > r.left(); --x)
            if (!Ink(row[x]) && Ink(row[x - 1]))
                row[x] = row[x - 1];
    }
}

// The bitmap faces have no bold, so a bold SimSun run would come out plain. A rich-edit control
// emboldens a face without bold by a one-dot smear to the right; so does this, on the run's own
// part of each line.
void EmboldenBitmapRuns(const QTextDocument& doc, QImage& canvas)
{
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        const QTextLayout* layout = b.layout();
        if (!layout)
            continue;
        const QPointF at = layout->position();
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            const QTextCharFormat format = f.charFormat();
            if (!f.isValid() || format.fontWeight() < QFont::DemiBold
                || format.fontFamilies().toStringList().value(0) != kBitmapSong)
                continue;
            const int start = f.position() - b.position();
            const int end = start + f.length();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine l = layout->lineAt(i);
                const int s = std::max(start, l.textStart());
                const int e = std::min(end, l.textStart() + l.textLength());
                if (s >= e)
                    continue;
                const qreal x1 = l.cursorToX(s), x2 = l.cursorToX(e);
                const int left = int(std::lround(at.x() + std::min(x1, x2)));
                const int right = int(std::lround(at.x() + std::max(x1, x2)));
                const int top = int(std::floor(at.y() + l.y()));
                const int bottom = int(std::ceil(at.y() + l.y() + l.height()));
                SmearRight(canvas, QRect(left, top, right - left, bottom - top));
            }
        }
    }
}

// Draws into a layout rectangle from the top-left corner, wrapping at its width; what falls
// below it is lost. The canvas is only as large as the text needs (plus a line's height for
// overhanging glyphs): the ink, and so the arrangement, is the same as on the full rectangle.
// Text of the automatic colour takes the given one.
QImage DrawDocument(QTextDocument& doc, int layoutWidth, int layoutHeight, QColor automatic)
{
    doc.setTextWidth(layoutWidth);
    qreal right = 0, bottom = 0, slack = 0;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        const QTextLayout* layout = b.layout();
        if (!layout)
            continue;
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine l = layout->lineAt(i);
            right = std::max(right, layout->position().x() + l.x() + l.naturalTextWidth());
            bottom = std::max(bottom, layout->position().y() + l.y() + l.height());
            slack = std::max(slack, l.height());
        }
    }
    const int w = std::min(layoutWidth, int(std::ceil(right + slack)) + 1);
    const int h = std::min(layoutHeight, int(std::ceil(bottom + slack)) + 1);
    QImage canvas = NewCanvas(w, h, QImage::Format_RGB32);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    const QRectF rect(0, 0, w, h);
    p.setClipRect(rect);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = rect;
    context.palette.setColor(QPalette::Text, automatic);
    doc.documentLayout()->draw(&p, context);
    p.end();
    EmboldenBitmapRuns(doc, canvas);
    return canvas;
}

// Row ranges of the laid-out lines, top to bottom and not overlapping.
std::vector<InkRows> LineRows(const QTextDocument& doc)
{
    std::vector<InkRows> rows;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        const QTextLayout* layout = b.layout();
        if (!layout)
            continue;
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine l = layout->lineAt(i);
            int top = int(std::lround(layout->position().y() + l.y()));
            const int bottom = int(std::lround(layout->position().y() + l.y() + l.height()));
            if (!rows.empty())
                top = std::max(top, rows.back().bottom);
            if (bottom > top)
                rows.push_back({top, bottom});
        }
    }
    return rows;
}

// The size the document reports for a select-all: its first character's.
double DocumentPointSize(const QTextDocument& doc)
{
    QTextCharFormat format;
    bool found = false;
    for (QTextBlock b = doc.begin(); b.isValid() && !found; b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().isValid()) {
                format = it.fragment().charFormat();
                found = true;
                break;
            }
    if (!found)
        format = doc.begin().charFormat();
    const QFont font = format.font().resolve(doc.defaultFont());
    if (font.pointSizeF() > 0)
        return font.pointSizeF();
    if (font.pixelSize() > 0)
        return font.pixelSize() * 72.0 / kRenderDpi;
    return 12;
}

QTextCharFormat Sized(QTextCharFormat format, double points)
{
    format.clearProperty(QTextFormat::FontPixelSize);
    format.setFontPointSize(points);
    return format;
}

// Every character, and every paragraph's own format, gets the size. True when one changed.
bool SetDocumentPointSize(QTextDocument& doc, double points)
{
    std::vector<std::pair<int, int>> ranges;
    std::vector<QTextCharFormat> formats;
    std::vector<std::pair<int, QTextCharFormat>> blocks;
    bool changed = false;
    auto differs = [&](const QTextCharFormat& f) {
        return f.fontPointSize() != points || f.hasProperty(QTextFormat::FontPixelSize);
    };
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (differs(b.charFormat()))
            blocks.emplace_back(b.position(), Sized(b.charFormat(), points));
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (f.isValid() && differs(f.charFormat())) {
                ranges.emplace_back(f.position(), f.length());
                formats.push_back(Sized(f.charFormat(), points));
            }
        }
    }
    QTextCursor c(&doc);
    c.beginEditBlock();
    for (const auto& [pos, format] : blocks) {
        c.setPosition(pos);
        c.setBlockCharFormat(format);
        changed = true;
    }
    for (size_t i = 0; i < ranges.size(); ++i) {
        c.setPosition(ranges[i].first);
        c.setPosition(ranges[i].first + ranges[i].second, QTextCursor::KeepAnchor);
        c.setCharFormat(formats[i]);
        changed = true;
    }
    c.endEditBlock();
    return changed;
}

bool Invisible(char32_t c)
{
    return c < 0x20 || c == QChar::LineSeparator || c == QChar::ParagraphSeparator || c == QChar::ObjectReplacementCharacter;
}

int MeasureInk(const QFont& font, const QColor& colour, const QString& character)
{
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(character);
    const int height = metrics.height();
    if (width <= 0 || height <= 0)
        return 0;
    QImage glyph = NewCanvas(width, height, QImage::Format_RGB32);
    {
        QPainter p(&glyph);
        p.setRenderHint(QPainter::TextAntialiasing, false);
        p.setFont(font);
        p.setPen(colour);
        p.drawText(0, metrics.ascent(), character);
    }
    return FindInkRows(glyph).Height();
}

} // namespace

void InstallLedFontSubstitutions()
{
    static std::once_flag once;
    std::call_once(once, [] {
        LoadBitmapSong();
        const QStringList standIns = {QStringLiteral("AR PL UMing CN"), QStringLiteral("WenQuanYi Zen Hei")};
        for (const QString& name : kSongTiNames)
            QFont::insertSubstitutions(name, standIns);
    });
}

int PointsToPixels(double points) { return std::max(1, int(std::lround(points * kRenderDpi / 72.0))); }

QFont LedFont(const QFont& requested, int pixelSize)
{
    QFont font = requested;
    const QString family = requested.families().value(0, requested.family());
    if (IsSongTi(family) && BitmapSongSizes().contains(pixelSize))
        font.setFamilies({kBitmapSong, family});
    font.setPixelSize(std::max(1, pixelSize));
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::PreferMatch));
    font.setKerning(false);
    return font;
}

QImage NewCanvas(int width, int height, QImage::Format format)
{
    QImage image(std::max(1, width), std::max(1, height), format);
    image.fill(Qt::black);
    const int dotsPerMeter = int(std::lround(kRenderDpi / 0.0254));
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    return image;
}

InkRows FindInkRows(const QImage& image)
{
    const QImage rgb = AsRgb32(image);
    int top = -1, last = -1;
    for (int y = 0; y < rgb.height(); ++y)
        if (RowHasInk(rgb, y)) {
            if (top < 0)
                top = y;
            last = y;
        }
    if (top < 0)
        return {0, 0};
    return {top, last + 1};
}

double ShrinkSize(double s, int inkHeight, int H)
{
    if (inkHeight <= 0)
        return s;
    const float r = float(H) / float(inkHeight);
    if (r >= 1.0f)
        return s;
    if (s <= 0)
        return 1 - s;
    if (r > 0.8f)
        return s - 1;
    const float r2 = float(H + 4) / float(inkHeight);
    if (r2 >= 1.0f)
        return s - 1;
    return std::trunc(s * double(r2));
}

QImage LayoutSingleLine(const QImage& source, int W, int H)
{
    const QImage canvas = AsRgb32(source);
    const int c = std::max(1, RightmostInkColumn(canvas) + 1);
    const InkRows ink = FindInkRows(canvas);
    const int d = (c + W - 1) / W * W;
    QImage output = NewCanvas(d, H);
    if (ink.top >= ink.bottom)
        return output;
    // Integer halving toward zero: a piece taller than H loses as much above as below.
    const QPoint at(c < W ? (W - c) / 2 : 0, (H - ink.Height()) / 2);
    CopyRect(canvas, QRect(0, ink.top, c, ink.Height()), output, at, output.rect());
    return output;
}

QImage LayoutMultiLine(const QImage& source, int W, int H, const std::vector<InkRows>& lines)
{
    const QImage canvas = AsRgb32(source);
    std::vector<InkRows> bands;
    size_t line = 0;
    int bandLine = -1; // the text line the last band lies in, -1 for none
    for (int y = 0; y < canvas.height(); ++y) {
        if (!RowHasInk(canvas, y))
            continue;
        while (line < lines.size() && lines[line].bottom <= y)
            ++line;
        const int inLine = line < lines.size() && lines[line].top <= y ? int(line) : -1;
        if (!bands.empty() && (bands.back().bottom == y || (inLine >= 0 && inLine == bandLine)))
            bands.back().bottom = y + 1;
        else
            bands.push_back({y, y + 1});
        bandLine = inLine;
    }
    int a = 0;
    for (const InkRows& b : bands)
        a = std::max(a, b.Height());
    const int k = std::max(1, H / (a + 2));
    const int n = std::max(1, int((bands.size() + k - 1) / k));
    const float g = float(H - a * k) / float(k + 1);
    QImage output = NewCanvas(W, n * H);
    for (int i = 0; i < n; ++i) {
        float y = float(i * H) + g;
        // A band taller than the area stays on its own LED page instead of reaching the next.
        const QRect page(0, i * H, W, H);
        for (int b = i * k; b < std::min<int>(i * k + k, int(bands.size())); ++b) {
            const int bottom = int(y) + a;
            const InkRows& band = bands[size_t(b)];
            CopyRect(canvas, QRect(0, band.top, std::min(W, canvas.width()), band.Height()), output,
                     QPoint(0, bottom - band.Height()), page);
            y = y + float(a) + g;
        }
    }
    return output;
}

QList<QByteArray> ExtractPlanes(const QImage& output, int W, int H, bool vertical, int colourType)
{
    QList<QByteArray> pages;
    if (W <= 0 || H <= 0)
        return pages;
    const int m = vertical ? output.height() / H : output.width() / W;
    for (int i = 0; i < m; ++i) {
        const QRect piece = vertical ? QRect(0, i * H, W, H) : QRect(i * W, 0, W, H);
        pages.append(ImageToPlanes(output.copy(piece), colourType));
    }
    return pages;
}

TRTFDecodeUnit::TRTFDecodeUnit() : output_(NewCanvas(1024, 1024)) { InstallLedFontSubstitutions(); }

void TRTFDecodeUnit::Bind(QTextDocument* doc, const ParamRecord& params, LcmRect area, TLCMRtf* page)
{
    bound_ = {doc, params, area, page};
}

void TRTFDecodeUnit::Bind(const Binding& binding) { bound_ = binding; }

void TRTFDecodeUnit::Unbind()
{
    bound_ = {};
    glyphs_.clear();
}

QColor TRTFDecodeUnit::AutomaticColour() const
{
    return IndexColor(bound_.page ? bound_.page->U8(Rec::Colour) : kDefaultPageColour);
}

int TRTFDecodeUnit::TallestInk(const QTextDocument& drawing, int H, bool singleColour)
{
    int tallest = 0;
    const QColor automatic = AutomaticColour();
    for (QTextBlock b = drawing.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const QTextCharFormat format = fragment.charFormat();
            const QFont font = format.font();
            // A single-colour screen shows only red, yet a character in another colour still
            // takes its room.
            const QColor colour = singleColour ? QColor(255, 0, 0)
                                  : format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color()
                                                                                    : automatic;
            const QString prefix = font.key() + u'|' + colour.name() + u'|';
            const QString text = fragment.text();
            for (qsizetype i = 0; i < text.size(); ++i) {
                qsizetype n = 1;
                char32_t code = text[i].unicode();
                if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                    code = QChar::surrogateToUcs4(text[i], text[i + 1]);
                    n = 2;
                }
                const QString character = text.mid(i, n);
                i += n - 1;
                if (Invisible(code))
                    continue;
                const QString key = prefix + character;
                auto found = glyphs_.constFind(key);
                const int height = found != glyphs_.constEnd() ? *found : *glyphs_.insert(key, MeasureInk(font, colour, character));
                tallest = std::max(tallest, height);
                if (height > H)
                    return tallest;
            }
        }
    }
    return tallest;
}

TRTFDecodeUnit::Fit TRTFDecodeUnit::FitFontSize(int H, bool singleColour)
{
    Fit fit;
    QTextDocument& doc = *bound_.document;
    double applied = -1;
    for (int step = 0;; ++step) {
        const int a = TallestInk(*DrawingCopy(doc), H, singleColour);
        if (a <= H)
            break;
        if (step >= kMaxShrinkSteps) {
            fit.belowMinimum = true;
            break;
        }
        const double s = DocumentPointSize(doc);
        double next = ShrinkSize(s, a, H);
        if (next < kMinFontPointSize)
            next = std::min(s, kMinFontPointSize); // never grows a text the operator made small
        if (next == applied) {
            fit.belowMinimum = true;
            break;
        }
        if (SetDocumentPointSize(doc, next))
            fit.shrunk = true;
        applied = next;
    }
    return fit;
}

RenderResult TRTFDecodeUnit::Render()
{
    RenderResult result;
    if (!bound_.document) {
        result.message = QStringLiteral("no document is bound to the renderer");
        return result;
    }
    const int W = bound_.area.Width();
    const int H = bound_.area.Height();
    const int colourType = bound_.params[Param::ColourType];
    const int planes = PlaneCount(colourType);
    auto refuse = [&](const QString& why) {
        if (bound_.page) {
            bound_.page->ClearLedPages();
            bound_.page->payloadSize = 0;
        }
        output_ = NewCanvas(std::clamp(W, 1, 4096), std::clamp(H, 1, 4096));
        result.message = why;
        return result;
    };
    if (W < 8 || H < 1)
        return refuse(QStringLiteral("an area of %1 x %2 dots holds no LED page; it must be at least 8 dots wide and 1 high")
                          .arg(W)
                          .arg(H));
    const qint64 pageBytes = qint64(W / 8) * H * planes;
    if (pageBytes > kMaxLedPageBytes)
        return refuse(QStringLiteral("an area of %1 x %2 dots in %3 colour planes needs %4 bytes per LED page; the card "
                                     "addresses at most %5")
                          .arg(W)
                          .arg(H)
                          .arg(planes)
                          .arg(pageBytes)
                          .arg(kMaxLedPageBytes));

    glyphs_.clear();
    const Fit fit = FitFontSize(H, planes == 1);
    const bool vertical = bound_.page && bound_.page->pagingDirection == 1;
    std::unique_ptr<QTextDocument> drawing = DrawingCopy(*bound_.document);
    const QColor automatic = AutomaticColour();
    const QImage canvas = vertical ? DrawDocument(*drawing, W, kCanvasAreas * H, automatic)
                                   : DrawDocument(*drawing, kCanvasAreas * W, H + 64, automatic);
    output_ = vertical ? LayoutMultiLine(canvas, W, H, LineRows(*drawing)) : LayoutSingleLine(canvas, W, H);
    glyphs_.clear();

    const QList<QByteArray> pages = ExtractPlanes(output_, W, H, vertical, colourType);
    if (bound_.page) {
        bound_.page->ClearLedPages();
        int total = 0;
        for (const QByteArray& p : pages) {
            bound_.page->AddLedPage(p);
            total += int(p.size());
        }
        bound_.page->payloadSize = total;
    }
    result.ok = true;
    result.shrunk = fit.shrunk;
    result.belowMinimumSize = fit.belowMinimum;
    result.ledPages = int(pages.size());
    QStringList notes;
    if (fit.belowMinimum)
        notes << QStringLiteral("the text does not fit the area's %1 dots of height even at %2 pt; it is shown cut")
                     .arg(H)
                     .arg(DocumentPointSize(*bound_.document));
    if (result.ledPages > kMaxRtfSlots)
        notes << QStringLiteral("the text makes %1 LED pages; only the first %2 are sent")
                     .arg(result.ledPages)
                     .arg(kMaxRtfSlots);
    result.message = notes.join(QStringLiteral("; "));
    return result;
}

} // namespace mx
