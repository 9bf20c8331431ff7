// The rich-text renderer: draws a page's document without anti-aliasing, shrinks its font until
// every character fits the area's height, arranges it as one long line cut into area-wide
// pieces (horizontal paging) or as wrapped lines stacked into area-high pieces (vertical
// paging), and turns each piece, an LED page, into the screen's bit planes.
#pragma once

#include "model/hwcommands.h"
#include "model/page_checks.h"
#include "model/partition.h"

#include <QByteArray>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QList>
#include <QString>

#include <vector>

class QTextDocument;

namespace mx {

class TLCMRtf;

struct RenderResult {
    bool ok = false;
    QString message;               // why it failed, or what the operator should know
    bool shrunk = false;           // the document's font size was changed
    bool belowMinimumSize = false; // did not fit even at kMinFontPointSize; rendered cut
    int ledPages = 0;
};

// Sizes map to pixels as on the tool's home platform.
constexpr int kRenderDpi = 96;
// Only the first characters are drawn, as the rich-edit format range did.
constexpr int kMaxDrawnCharacters = 1000;
// Horizontal paging draws into 30 area widths; vertical paging into 30 area heights.
constexpr int kCanvasAreas = 30;
// Smaller than this, CJK glyphs are no longer dot patterns anyone reads; the shrink stops
// here and renders what does not fit cut.
constexpr double kMinFontPointSize = 5.0;
constexpr int kMaxShrinkSteps = 100;
// A new page's colour code: red.
constexpr int kDefaultPageColour = 1;

// Makes 宋体, SimSun, 新宋体 and NSimSun resolve to the stand-in fonts, and loads the
// WenQuanYi bitmap faces that fontconfig hides. Idempotent; needs a QGuiApplication.
void InstallLedFontSubstitutions();
// The pixel size of a point size at kRenderDpi, rounded as the home platform rounds it.
int PointsToPixels(double points);
// The font an LED bitmap is drawn with: the requested family at a pixel size, without
// anti-aliasing. A 宋体 name at a size the WenQuanYi bitmap faces have gets those hand-tuned
// dots, as SimSun's embedded bitmaps are used on the home platform; other sizes get UMing.
QFont LedFont(const QFont& requested, int pixelSize);

// A black canvas whose resolution maps point sizes at kRenderDpi; 24-bit unless asked.
QImage NewCanvas(int width, int height, QImage::Format format = QImage::Format_RGB888);

// A pixel has ink when any channel is non-zero. Rows with ink, [first, last + 1); first = last
// + 1 = 0 when there is none.
struct InkRows {
    int top = 0;
    int bottom = 0;
    int Height() const { return bottom - top; }
};
InkRows FindInkRows(const QImage& image);

// The next font size when the tallest character has inkHeight rows in an area H high.
double ShrinkSize(double s, int inkHeight, int H);
// One line cut into W-wide pieces: the output is H high and a multiple of W wide.
QImage LayoutSingleLine(const QImage& canvas, int W, int H);
// Wrapped lines stacked into H-high pieces: the output is W wide and a multiple of H high.
// Each run of rows with ink is a band, except that runs within one of the given text lines
// (row ranges, top to bottom) form one band, so the dot of an i or the strokes of 二 do not
// become lines of their own.
QImage LayoutMultiLine(const QImage& canvas, int W, int H, const std::vector<InkRows>& lines = {});
// The LED page data of each W x H piece of the output, in order.
QList<QByteArray> ExtractPlanes(const QImage& output, int W, int H, bool vertical, int colourType);

class TRTFDecodeUnit {
public:
    struct Binding {
        QTextDocument* document = nullptr;
        ParamRecord params{};
        LcmRect area;
        TLCMRtf* page = nullptr;
    };

    TRTFDecodeUnit();
    TRTFDecodeUnit(const TRTFDecodeUnit&) = delete;
    TRTFDecodeUnit& operator=(const TRTFDecodeUnit&) = delete;

    // The document stays the caller's; the render may change its font size (the shrink).
    void Bind(QTextDocument* doc, const ParamRecord& params, LcmRect area, TLCMRtf* page);
    void Bind(const Binding& binding);
    void Unbind();
    const Binding& CurrentBinding() const { return bound_; }

    // Replaces the page's LED pages and payload size. Without a page only the output changes.
    RenderResult Render();
    // The arranged canvas of the last render; 1024 x 1024 black before the first.
    const QImage& Output() const { return output_; }

private:
    struct Fit {
        bool shrunk = false;
        bool belowMinimum = false;
    };
    Fit FitFontSize(int H, bool singleColour);
    // Text whose colour is automatic (RTF from other programs often leaves it so) is drawn in
    // the page's colour, as the editor shows it; without a page, in the default page colour.
    QColor AutomaticColour() const;
    // Greatest ink height of the drawn characters; stops early at the first taller than H.
    int TallestInk(const QTextDocument& drawing, int H, bool singleColour);

    QHash<QString, int> glyphs_; // ink heights measured during one render
    Binding bound_;
    QImage output_;
};

} // namespace mx
