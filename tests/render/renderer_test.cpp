// The rich-text renderer: layout arithmetic on canvases painted here, then whole documents
// drawn with the real stand-in fonts on the offscreen platform.
#include "model/panel.h"
#include "model/rtfpage.h"
#include "render/picture_page.h"
#include "render/rich_text.h"
#include "codec/rtf_reader.h"
#include "render/rtf_renderer.h"
#include "codec/rtf_writer.h"
#include "rtf_test_util.h"
#include "testutil.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <set>

using namespace mx;

namespace {

QImage Blank(int w, int h) { return NewCanvas(w, h, QImage::Format_RGB32); }

void Fill(QImage& img, const QRect& r, QColor c)
{
    QPainter p(&img);
    p.fillRect(r, c);
}

// Rows [top, bottom) where the colour appears, {0, 0} when it does not.
InkRows RowsOf(const QImage& img, QColor c)
{
    QImage mask = NewCanvas(img.width(), img.height(), QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, y) == c)
                mask.setPixelColor(x, y, Qt::white);
    return FindInkRows(mask);
}

int LeftmostInk(const QImage& img)
{
    for (int x = 0; x < img.width(); ++x)
        for (int y = 0; y < img.height(); ++y)
            if ((img.pixel(x, y) & 0xFFFFFF) != 0)
                return x;
    return -1;
}

bool AllZero(const QByteArray& b) { return b.count('\0') == b.size(); }

// ---- layout arithmetic ----

TEST(LayoutSingleLine, RightmostInkDecidesWidthAndPlacement)
{
    struct Case {
        const char* name;
        QRect ink; // on a 30 x 64 by 80 canvas
        int outWidth, inkLeft, inkTop;
    };
    const Case cases[] = {
        {"nothing has ink: c = 1", QRect(), 64, -1, 0},
        {"c = 100: two LED pages, left-aligned", QRect(90, 30, 10, 10), 128, 90, 3},
        {"c = 40: centred, piece's left edge at 12", QRect(30, 20, 10, 6), 64, 12 + 30, 5},
        {"c = 64 exactly: one page, not shifted", QRect(60, 0, 4, 16), 64, 60, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage canvas = Blank(30 * 64, 16 + 64);
        if (!c.ink.isNull())
            Fill(canvas, c.ink, Qt::red);
        const QImage out = LayoutSingleLine(canvas, 64, 16);
        EXPECT_EQ(out.size(), QSize(c.outWidth, 16));
        EXPECT_EQ(LeftmostInk(out), c.inkLeft);
        if (!c.ink.isNull())
            EXPECT_EQ(FindInkRows(out).top, c.inkTop);
        else
            EXPECT_EQ(FindInkRows(out).Height(), 0);
    }
}

TEST(LayoutSingleLine, TallPieceIsCutEvenlyAboveAndBelow)
{
    // 20 rows of ink into 16: two go above (green) and two below (blue).
    QImage canvas = Blank(30 * 64, 80);
    Fill(canvas, QRect(0, 10, 20, 2), Qt::green);
    Fill(canvas, QRect(0, 12, 20, 16), Qt::red);
    Fill(canvas, QRect(0, 28, 20, 2), Qt::blue);
    const QImage out = LayoutSingleLine(canvas, 64, 16);
    EXPECT_EQ(RowsOf(out, Qt::red).top, 0);
    EXPECT_EQ(RowsOf(out, Qt::red).bottom, 16);
    EXPECT_EQ(RowsOf(out, Qt::green).Height(), 0);
    EXPECT_EQ(RowsOf(out, Qt::blue).Height(), 0);
}

TEST(LayoutMultiLine, BandsSitOnEvenlySpacedSlots)
{
    // H = 32, bands 12, 14 and 12 high: a = 14, k = 2, g = 4 / 3.
    QImage canvas = Blank(64, 30 * 32);
    Fill(canvas, QRect(0, 0, 10, 12), Qt::red);
    Fill(canvas, QRect(5, 20, 10, 14), Qt::green);
    Fill(canvas, QRect(0, 40, 64, 12), Qt::blue);
    const QImage out = LayoutMultiLine(canvas, 64, 32);
    ASSERT_EQ(out.size(), QSize(64, 64));
    EXPECT_EQ(RowsOf(out, Qt::red).bottom, 15);
    EXPECT_EQ(RowsOf(out, Qt::red).top, 3);
    EXPECT_EQ(RowsOf(out, Qt::green).bottom, 30);
    EXPECT_EQ(RowsOf(out, Qt::green).top, 16);
    EXPECT_EQ(RowsOf(out, Qt::blue).bottom, 47);
    EXPECT_EQ(RowsOf(out, Qt::blue).top, 35);
    EXPECT_EQ(LeftmostInk(out), 0); // full width, unshifted
    EXPECT_EQ(out.pixelColor(5, 20), QColor(Qt::green));
}

TEST(LayoutMultiLine, InkRunsOfOneTextLineFormOneBand)
{
    // An i: its dot (row 1), a blank row, its stem (rows 3 to 10); then a second line.
    QImage canvas = Blank(64, 30 * 16);
    Fill(canvas, QRect(2, 1, 1, 1), Qt::red);
    Fill(canvas, QRect(2, 3, 1, 8), Qt::red);
    Fill(canvas, QRect(2, 15, 1, 8), Qt::green);
    struct Case {
        const char* name;
        std::vector<InkRows> lines;
        int height;
    };
    const Case cases[] = {
        {"by ink alone the dot is a line", {}, 48},
        {"with the text lines, two lines", {{0, 14}, {14, 28}}, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage out = LayoutMultiLine(canvas, 64, 16, c.lines);
        EXPECT_EQ(out.height(), c.height);
        if (!c.lines.empty()) {
            // a = 10, k = 1, g = 3: each line's bottom at 13 on its page.
            EXPECT_EQ(RowsOf(out, Qt::red).top, 3);
            EXPECT_EQ(RowsOf(out, Qt::red).bottom, 13);
            EXPECT_EQ(RowsOf(out, Qt::green).bottom, 16 + 13);
        }
    }
}

TEST(LayoutMultiLine, BlankCanvasGivesOneBlackPage)
{
    const QImage out = LayoutMultiLine(Blank(64, 30 * 16), 64, 16);
    EXPECT_EQ(out.size(), QSize(64, 16));
    EXPECT_EQ(FindInkRows(out).Height(), 0);
}

TEST(LayoutMultiLine, BandTallerThanTheAreaStaysOnItsPage)
{
    QImage canvas = Blank(64, 30 * 16);
    Fill(canvas, QRect(0, 0, 8, 20), Qt::red);
    Fill(canvas, QRect(0, 30, 8, 20), Qt::green);
    const QImage out = LayoutMultiLine(canvas, 64, 16);
    ASSERT_EQ(out.size(), QSize(64, 32));
    EXPECT_EQ(RowsOf(out, Qt::red).top, 0);
    EXPECT_EQ(RowsOf(out, Qt::red).bottom, 16);
    EXPECT_EQ(RowsOf(out, Qt::green).top, 16);
    EXPECT_EQ(RowsOf(out, Qt::green).bottom, 32);
}

TEST(ShrinkSize, Steps)
{
    struct Case {
        double s;
        int ink, H;
        double expected;
    };
    const Case cases[] = {
        {12, 16, 16, 12},   // fits: r = 1
        {12, 10, 16, 12},   // fits with room
        {10, 20, 16, 9},    // r = 0.8, r2 = 1: one point less
        {12, 19, 16, 11},   // r > 0.8: one point less
        {24, 25, 16, 19},   // r = 0.64, r2 = 0.8: 19.2 truncated
        {30, 40, 16, 15},   // r2 = 0.5
        {10.5, 20, 16, 9.5}, // fractional sizes step by a point too
        {0, 20, 16, 1},     // a size that is not one
        {-2, 40, 16, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.s << " pt, ink " << c.ink << " in " << c.H);
        EXPECT_DOUBLE_EQ(ShrinkSize(c.s, c.ink, c.H), c.expected);
    }
}

TEST(ExtractPlanes, BitsAndPlaneOrder)
{
    // Row 0: ink, blank, ink, blank x 4, ink -> 0xA1, each dot in the colour given.
    struct Case {
        const char* name;
        int colourType;
        QColor a, b, c; // dots 0, 2 and 7
        QByteArray expected;
    };
    const Case cases[] = {
        {"single colour", 1, Qt::red, Qt::red, Qt::red, QByteArray("\xA1", 1)},
        {"single colour ignores green and blue", 1, Qt::red, Qt::green, Qt::blue, QByteArray("\x80", 1)},
        {"red, then green", 2, Qt::red, Qt::green, Qt::yellow, QByteArray("\x81\x21", 2)},
        {"red, green, blue", 3, Qt::red, Qt::green, Qt::blue, QByteArray("\x80\x20\x01", 3)},
        {"grey counts as lit", 3, QColor(1, 1, 1), Qt::black, Qt::black, QByteArray("\x80\x80\x80", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage img = NewCanvas(8, 1);
        img.setPixelColor(0, 0, c.a);
        img.setPixelColor(2, 0, c.b);
        img.setPixelColor(7, 0, c.c);
        const QList<QByteArray> pages = ExtractPlanes(img, 8, 1, false, c.colourType);
        ASSERT_EQ(pages.size(), 1);
        EXPECT_EQ(pages[0].toHex(), c.expected.toHex());
    }
}

TEST(ExtractPlanes, PiecesFollowThePagingDirection)
{
    QImage wide = NewCanvas(128, 16);
    Fill(wide, QRect(64, 0, 1, 1), Qt::red); // first dot of the second piece
    const QList<QByteArray> h = ExtractPlanes(wide, 64, 16, false, 2);
    ASSERT_EQ(h.size(), 2);
    EXPECT_EQ(h[1].size(), 2 * 64 * 16 / 8);
    EXPECT_TRUE(AllZero(h[0]));
    EXPECT_EQ(uint8_t(h[1][0]), 0x80);       // red plane first
    EXPECT_TRUE(AllZero(h[1].mid(128)));     // green plane empty

    QImage tall = NewCanvas(64, 48);
    Fill(tall, QRect(63, 47, 1, 1), Qt::red); // last dot of the third piece
    const QList<QByteArray> v = ExtractPlanes(tall, 64, 16, true, 1);
    ASSERT_EQ(v.size(), 3);
    EXPECT_TRUE(AllZero(v[0]) && AllZero(v[1]));
    EXPECT_EQ(uint8_t(v[2][127]), 0x01);
}

// ---- whole documents ----

class Renderer : public ::testing::Test {
protected:
    RenderResult render(QTextDocument& doc, int w, int h, int colourType, bool vertical = false)
    {
        page.pagingDirection = vertical ? 1 : 0;
        const ParamRecord params{uint8_t(w / 8), uint8_t(h / 8), uint8_t(colourType)};
        unit.Bind(&doc, params, LcmRect{0, 0, w, h}, &page);
        return unit.Render();
    }
    // An invalid colour leaves the text's colour automatic.
    static void add(QTextDocument& doc, const QString& text, double pt, QColor colour,
                    const QString& family = QStringLiteral("宋体"), bool bold = false)
    {
        QTextCursor c(&doc);
        c.movePosition(QTextCursor::End);
        QTextCharFormat f;
        f.setFontFamilies({family});
        f.setFontPointSize(pt);
        if (bold)
            f.setFontWeight(QFont::Bold);
        if (colour.isValid())
            f.setForeground(colour);
        c.insertText(text, f);
    }
    static std::set<double> sizes(const QTextDocument& doc)
    {
        std::set<double> out;
        for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it)
                out.insert(it.fragment().charFormat().fontPointSize());
        return out;
    }
    // Every pixel black or exactly one of the given colours: no anti-aliased edge.
    static bool OnlyColours(const QImage& img, std::initializer_list<QColor> colours)
    {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c == QColor(Qt::black))
                    continue;
                if (std::find(colours.begin(), colours.end(), c) == colours.end())
                    return false;
            }
        return true;
    }
    TRTFDecodeUnit unit;
    TLCMRtf page;
};

TEST_F(Renderer, SongTiResolvesToAnInstalledChineseFont)
{
    for (int px : {14, 20, 32}) {
        const QFont f = LedFont(QFont(QStringLiteral("宋体")), px);
        const QString family = QFontInfo(f).family();
        EXPECT_TRUE(family == "WenQuanYi Bitmap Song" || family == "AR PL UMing CN") << family.toStdString();
        EXPECT_TRUE(QFontMetrics(f).inFontUcs4(U'欢')) << px;
        EXPECT_EQ(QFontInfo(f).pixelSize(), px);
    }
    EXPECT_EQ(PointsToPixels(10.5), 14);
    EXPECT_EQ(PointsToPixels(10), 13);
    EXPECT_EQ(PointsToPixels(12), 16);
}

TEST_F(Renderer, DefaultDocumentIsCrispRedOnOneLedPage)
{
    QTextDocument doc;
    ASSERT_TRUE(ReadRtf(DefaultRtfDocument(), doc).ok);
    const RenderResult r = render(doc, 64, 16, 1);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_FALSE(r.shrunk);
    EXPECT_EQ(r.ledPages, 1);
    ASSERT_EQ(page.LedPageEntries(), 1);
    EXPECT_EQ(page.GetLedPage(0)->size(), 128);
    EXPECT_EQ(page.payloadSize, 128);

    const QImage& out = unit.Output();
    ASSERT_EQ(out.size(), QSize(64, 16));
    EXPECT_TRUE(OnlyColours(out, {QColor(255, 0, 0)}));
    // Four 14-dot characters, centred both ways on their ink.
    const InkRows rows = FindInkRows(out);
    EXPECT_GE(rows.Height(), 11);
    EXPECT_LE(rows.Height(), 14);
    EXPECT_EQ(rows.top, (16 - rows.Height()) / 2);
    // The piece starts at the canvas's left edge, blank columns included, so only the right
    // margin is exactly half the room; the left one is at least that.
    int right = 63;
    while (right > 0 && FindInkRows(out.copy(right, 0, 1, 16)).Height() == 0)
        --right;
    const int rightMargin = 63 - right;
    EXPECT_GE(rightMargin, 4);
    EXPECT_LE(rightMargin, 8);
    EXPECT_GE(LeftmostInk(out), rightMargin - 1);
    EXPECT_EQ(*page.GetLedPage(0), ImageToPlanes(out, 1));

    const mxtest::OutputDir saved;
    ASSERT_TRUE(saved.IsValid());
    EXPECT_TRUE(out.save(saved.File("default-64x16.png")));
    EXPECT_TRUE(out.scaled(out.size() * 8).save(saved.File("default-64x16-x8.png")));
}

TEST_F(Renderer, EmptyDocumentGivesOneBlackLedPage)
{
    for (bool vertical : {false, true}) {
        SCOPED_TRACE(vertical ? "vertical" : "horizontal");
        QTextDocument doc;
        const RenderResult r = render(doc, 64, 16, 1, vertical);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(page.LedPageEntries(), 1);
        EXPECT_EQ(page.GetLedPage(0)->size(), 128);
        EXPECT_TRUE(AllZero(*page.GetLedPage(0)));
        EXPECT_EQ(unit.Output().size(), QSize(64, 16));
    }
}

TEST_F(Renderer, TallTextShrinksToOneSizeThatFits)
{
    QTextDocument doc;
    add(doc, QStringLiteral("A"), 9, Qt::red);
    add(doc, QStringLiteral("欢迎"), 36, Qt::red);
    const RenderResult r = render(doc, 64, 16, 1);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.shrunk);
    EXPECT_FALSE(r.belowMinimumSize);
    const std::set<double> after = sizes(doc);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_LT(*after.begin(), 9);
    EXPECT_GE(*after.begin(), kMinFontPointSize);
    EXPECT_LE(FindInkRows(unit.Output()).Height(), 16);
    EXPECT_GT(FindInkRows(unit.Output()).Height(), 0);

    const RenderResult again = render(doc, 64, 16, 1);
    EXPECT_FALSE(again.shrunk);
    EXPECT_EQ(sizes(doc), after);
}

TEST_F(Renderer, TextThatCannotFitRendersAnywayAtTheFloor)
{
    struct Case {
        const char* name;
        double pt;
        int H;
        double expectedSize;
    };
    const Case cases[] = {
        {"stops shrinking at the minimum", 10.5, 2, kMinFontPointSize},
        {"never enlarges a text already below it", 3, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTextDocument doc;
        add(doc, QStringLiteral("欢迎您"), c.pt, Qt::red);
        const RenderResult r = render(doc, 64, c.H, 1);
        EXPECT_TRUE(r.ok);
        EXPECT_TRUE(r.belowMinimumSize);
        EXPECT_FALSE(r.message.isEmpty());
        EXPECT_EQ(r.ledPages, 1);
        EXPECT_EQ(sizes(doc), std::set<double>{c.expectedSize});
        EXPECT_GT(FindInkRows(unit.Output()).Height(), 0);
    }
}

TEST_F(Renderer, GreenOnSingleColourIsBlankButStillMeasured)
{
    QTextDocument doc;
    add(doc, QStringLiteral("欢迎"), 36, Qt::green);
    RenderResult r = render(doc, 64, 16, 1);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.shrunk);
    ASSERT_EQ(page.LedPageEntries(), 1);
    EXPECT_TRUE(AllZero(*page.GetLedPage(0)));

    r = render(doc, 64, 16, 2);
    ASSERT_TRUE(r.ok);
    const QByteArray& data = *page.GetLedPage(0);
    EXPECT_TRUE(AllZero(data.left(128)));
    EXPECT_FALSE(AllZero(data.mid(128)));
}

TEST_F(Renderer, NoGreyEdgesAtScalableSizes)
{
    // 24 pt is no size of the bitmap faces, so this goes through the scalable stand-in.
    QTextDocument doc;
    add(doc, QStringLiteral("欢迎Ag"), 24, QColor(255, 128, 0));
    add(doc, QStringLiteral("您好"), 20, QColor(0, 200, 255), QStringLiteral("WenQuanYi Zen Hei"));
    ASSERT_TRUE(render(doc, 256, 32, 3).ok);
    EXPECT_GT(FindInkRows(unit.Output()).Height(), 0);
    EXPECT_TRUE(OnlyColours(unit.Output(), {QColor(255, 128, 0), QColor(0, 200, 255)}));
}

// ---- text whose colour is automatic (no \cf, or \cf0), as other programs write it ----

TEST_F(Renderer, AutomaticColourDrawsInThePageColour)
{
    // LibreOffice leaves every character of a converted text file automatic.
    struct Case {
        const char* name;
        int colourType, pageColour;
        QColor expected;
    };
    const Case cases[] = {
        {"red page on a single-colour screen", 1, 1, Qt::red},
        {"green page on a two-colour screen", 2, 2, Qt::green},
        {"yellow page on a full-colour screen", 3, 3, Qt::yellow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTextDocument doc;
        ASSERT_TRUE(ReadRtf(mxtest::ReadFixture(QStringLiteral("lo_plain.rtf")), doc).ok);
        page.SetU8(Rec::Colour, uint8_t(c.pageColour));
        const RenderResult r = render(doc, 128, 16, c.colourType, true);
        ASSERT_TRUE(r.ok) << r.message.toStdString();
        ASSERT_GE(r.ledPages, 3); // three lines of text, the empty one between them draws nothing
        for (int i = 0; i < page.LedPageEntries(); ++i)
            EXPECT_FALSE(AllZero(*page.GetLedPage(i))) << "LED page " << i;
        EXPECT_TRUE(OnlyColours(unit.Output(), {c.expected}));
    }
}

TEST_F(Renderer, MixedDocumentKeepsExplicitColoursAndShowsTheRest)
{
    // "Hello", "and" and "struck" are automatic; red bold, blue italic and the green 黑体 are not.
    QTextDocument doc;
    ASSERT_TRUE(ReadRtf(mxtest::ReadFixture(QStringLiteral("lo_mixed.rtf")), doc).ok);
    page.SetU8(Rec::Colour, 3);
    const RenderResult r = render(doc, 256, 32, 3, true);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    const QImage& out = unit.Output();
    EXPECT_TRUE(OnlyColours(out, {Qt::yellow, Qt::red, Qt::blue, Qt::green}));
    for (QColor c : {QColor(Qt::yellow), QColor(Qt::red), QColor(Qt::blue), QColor(Qt::green)})
        EXPECT_GT(RowsOf(out, c).Height(), 0) << c.name().toStdString();
    // The first line begins with the automatic "Hello".
    const int left = LeftmostInk(out.copy(0, 0, 256, 32));
    ASSERT_GE(left, 0);
    bool yellowAtLeft = false;
    for (int y = 0; y < 32; ++y)
        yellowAtLeft = yellowAtLeft || out.pixelColor(left, y) == QColor(Qt::yellow);
    EXPECT_TRUE(yellowAtLeft);
}

TEST_F(Renderer, AutomaticColourTextIsMeasuredForTheShrink)
{
    for (int colourType : {1, 2, 3}) {
        SCOPED_TRACE(colourType);
        QTextDocument doc;
        add(doc, QStringLiteral("欢迎"), 36, QColor());
        page.SetU8(Rec::Colour, 2);
        const RenderResult r = render(doc, 64, 16, colourType);
        ASSERT_TRUE(r.ok);
        EXPECT_TRUE(r.shrunk);
        EXPECT_LE(FindInkRows(unit.Output()).Height(), 16);
        // The document keeps its colour automatic; only the drawing takes the page's.
        for (auto it = doc.begin().begin(); !it.atEnd(); ++it)
            EXPECT_FALSE(it.fragment().charFormat().hasProperty(QTextFormat::ForegroundBrush));
    }
}

TEST_F(Renderer, BoldSongTiSmearsOneDotRightWithinItsRun)
{
    // 10.5 pt is 14 dots, a size of the bitmap faces, which have no bold. Five 14-dot characters
    // run past the area's 64 dots, so the text starts at the left edge whatever its ink.
    const QString first = QStringLiteral("欢迎"), second = QStringLiteral("您好啊");
    auto draw = [&](bool firstBold, bool secondBold) {
        QTextDocument doc;
        add(doc, first, 10.5, Qt::red, QStringLiteral("宋体"), firstBold);
        add(doc, second, 10.5, Qt::red, QStringLiteral("SimSun"), secondBold);
        EXPECT_TRUE(render(doc, 64, 16, 1).ok);
        return unit.Output();
    };
    const QImage plain = draw(false, false);
    ASSERT_EQ(plain.width(), 128);
    auto lit = [](const QImage& img, int x, int y) { return (img.pixel(x, y) & 0xFFFFFF) != 0; };
    // What a rich-edit control draws: a dot is lit when it or its left neighbour in the run is.
    auto smeared = [&](int x, int y, int runLeft) { return lit(plain, x, y) || (x > runLeft && lit(plain, x - 1, y)); };
    struct Case {
        const char* name;
        bool firstBold, secondBold;
    };
    const Case cases[] = {
        {"all bold", true, true},
        {"first run bold: the smear stops at its end", true, false},
        {"second run bold", false, true},
        {"nothing bold: unchanged", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage out = draw(c.firstBold, c.secondBold);
        ASSERT_EQ(out.size(), plain.size());
        int differ = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 128; ++x) {
                const bool inFirst = x < 28;
                const bool bold = x < 70 && (inFirst ? c.firstBold : c.secondBold);
                const bool want = bold ? smeared(x, y, inFirst ? 0 : 28) : lit(plain, x, y);
                differ += lit(out, x, y) != want;
                if (lit(out, x, y)) {
                    EXPECT_EQ(out.pixelColor(x, y), QColor(Qt::red)) << x << "," << y;
                }
            }
        EXPECT_EQ(differ, 0);
    }
    // The smear adds dots, so the bold text is visibly heavier.
    int before = 0, after = 0;
    const QImage bold = draw(true, true);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 128; ++x) {
            before += lit(plain, x, y);
            after += lit(bold, x, y);
        }
    EXPECT_GT(after, before + before / 3);
}

TEST_F(Renderer, LongTextPagesHorizontallyOrVertically)
{
    const QString text = QStringLiteral("欢迎您！欢迎您！欢迎您！"); // 12 characters of 14 dots
    struct Case {
        bool vertical;
        QSize output;
    };
    for (const Case& c : {Case{false, QSize(192, 16)}, Case{true, QSize(64, 48)}}) {
        SCOPED_TRACE(c.vertical ? "vertical: four characters a line" : "horizontal: 168 dots");
        QTextDocument doc;
        add(doc, text, 10.5, Qt::red);
        const RenderResult r = render(doc, 64, 16, 1, c.vertical);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(unit.Output().size(), c.output);
        EXPECT_EQ(r.ledPages, 3);
        EXPECT_EQ(page.payloadSize, 3 * 128);
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(AllZero(*page.GetLedPage(i))) << i;
    }
}

TEST_F(Renderer, VerticalPagingKeepsEachTextLineWhole)
{
    // Lower-case i and j leave a blank row under their dots; 二 is two strokes.
    QTextDocument doc;
    add(doc, QStringLiteral("sign ij"), 10.5, Qt::red);
    QTextCursor c(&doc);
    c.movePosition(QTextCursor::End);
    c.insertBlock();
    add(doc, QStringLiteral("二"), 10.5, Qt::red);
    const RenderResult r = render(doc, 64, 16, 1, true);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.ledPages, 2);
}

TEST_F(Renderer, OnlyTheFirstThousandCharactersAreDrawnOrMeasured)
{
    QTextDocument doc;
    add(doc, QString(999, u'a'), 10.5, Qt::red);
    add(doc, QStringLiteral("b"), 10.5, Qt::green);   // position 999: drawn
    add(doc, QStringLiteral("欢"), 72, Qt::blue);     // position 1000: neither drawn nor measured
    const RenderResult r = render(doc, 256, 16, 3, true);
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.shrunk);
    bool green = false, blue = false;
    for (int i = 0; i < page.LedPageEntries(); ++i) {
        const QByteArray& d = *page.GetLedPage(i);
        green = green || !AllZero(d.mid(512, 512));
        blue = blue || !AllZero(d.mid(1024, 512));
    }
    EXPECT_TRUE(green);
    EXPECT_FALSE(blue);
}

TEST_F(Renderer, RefusesAreasTheCardCannotAddress)
{
    struct Case {
        const char* name;
        int w, h, colourType;
        bool ok;
    };
    const Case cases[] = {
        {"65536 bytes: the last block starts at offset 64512", 512, 512, 2, true},
        {"66560 bytes: past the 16-bit offset", 512, 520, 2, false},
        {"narrower than one byte", 4, 16, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        page.AddLedPage(QByteArray(8, 'x'));
        QTextDocument doc;
        add(doc, QStringLiteral("欢迎"), 10.5, Qt::red);
        const RenderResult r = render(doc, c.w, c.h, c.colourType);
        EXPECT_EQ(r.ok, c.ok) << r.message.toStdString();
        if (c.ok) {
            EXPECT_EQ(page.GetLedPage(0)->size(), 65536);
        } else {
            EXPECT_FALSE(r.message.isEmpty());
            EXPECT_EQ(page.LedPageEntries(), 0);
            EXPECT_EQ(page.payloadSize, 0);
            EXPECT_EQ(sizes(doc), std::set<double>{10.5}); // untouched
        }
    }
}

TEST_F(Renderer, UnboundRendersNothing)
{
    EXPECT_EQ(unit.Output().size(), QSize(1024, 1024));
    EXPECT_EQ(FindInkRows(unit.Output()).Height(), 0);
    page.AddLedPage(QByteArray(128, '\0'));
    QTextDocument doc;
    render(doc, 64, 16, 1);
    unit.Unbind();
    const RenderResult r = unit.Render();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(page.LedPageEntries(), 1);
    EXPECT_EQ(unit.Output().size(), QSize(64, 16)); // the last render stays
}

// ---- the rich-text page through the shared renderer ----

class RichTextPage : public ::testing::Test {
protected:
    RichTextPage()
    {
        screen.params[Param::Width] = 8;
        screen.params[Param::Height] = 2;
        screen.params[Param::ColourType] = 1;
        ResetToSingle(screen);
    }
    TLCMPanel screen;
    TLCMRtf page;
};

TEST_F(RichTextPage, DefaultPageRendersWithoutTouchingItsDocument)
{
    const RenderResult r = RenderRichTextPage(page, screen);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.ledPages, 1);
    EXPECT_EQ(page.payloadSize, 128);
    EXPECT_EQ(page.Document(), DefaultRtfDocument());
    EXPECT_EQ(page.GetSlotCount(), 1);
}

TEST_F(RichTextPage, ShrunkDocumentIsStoredBack)
{
    QTextDocument big;
    QTextCursor c(&big);
    QTextCharFormat f;
    f.setFontFamilies({QStringLiteral("宋体")});
    f.setFontPointSize(36);
    f.setForeground(QColor(Qt::red));
    c.insertText(QStringLiteral("欢迎您"), f);
    page.Document() = WriteRtf(big);

    const RenderResult r = RenderRichTextPage(page, screen);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_TRUE(r.shrunk);
    QTextDocument stored;
    ASSERT_TRUE(ReadRtf(page.Document(), stored).ok);
    EXPECT_EQ(stored.toPlainText(), QStringLiteral("欢迎您"));
    EXPECT_LT(stored.begin().begin().fragment().charFormat().fontPointSize(), 36);

    const QByteArray once = page.Document();
    EXPECT_FALSE(RenderRichTextPage(page, screen).shrunk);
    EXPECT_EQ(page.Document(), once);
}

TEST_F(RichTextPage, FailuresLeaveNoLedPages)
{
    struct Case {
        const char* name;
        QByteArray document;
        int partition; // of a screen split left and right
    };
    const Case cases[] = {
        {"not RTF at all", QByteArray("hello, sign"), 1},
    };
    screen.partition->type = PartitionLR;
    screen.partition->ClearRects();
    screen.partition->AddRect({0, 0, 32, 16});
    screen.partition->AddRect({32, 0, 64, 16});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        page.AddLedPage(QByteArray(64, '\0'));
        page.payloadSize = 64;
        page.Document() = c.document;
        page.SetPartition(c.partition);
        const RenderResult r = RenderRichTextPage(page, screen);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.message.isEmpty());
        EXPECT_EQ(page.LedPageEntries(), 0);
        EXPECT_EQ(page.payloadSize, 0);
    }
}

TEST_F(RichTextPage, PageRendersIntoItsPartitionAndLeavesTheEditorBound)
{
    screen.partition->type = PartitionLR;
    screen.partition->ClearRects();
    screen.partition->AddRect({0, 0, 32, 16});
    screen.partition->AddRect({32, 0, 64, 16});
    page.SetPartition(2);

    QTextDocument editorDoc;
    TLCMRtf editorPage;
    SharedRenderer().Bind(&editorDoc, screen.params, {0, 0, 64, 16}, &editorPage);
    const RenderResult r = RenderRichTextPage(page, screen);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(page.GetLedPage(0)->size(), 32 * 16 / 8);
    EXPECT_EQ(r.ledPages, 2); // 欢迎您！ is 56 dots wide
    EXPECT_EQ(SharedRenderer().CurrentBinding().document, &editorDoc);
    EXPECT_EQ(SharedRenderer().CurrentBinding().page, &editorPage);
    SharedRenderer().Unbind();
}

} // namespace
