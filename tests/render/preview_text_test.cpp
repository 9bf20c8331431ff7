// Preview text in 16-dot cells, and the template expansions under a fixed clock.
#include "link/engine_env.h"
#include "render/preview_text.h"
#include "render/rtf_renderer.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace mx;

namespace {

bool HasInk(const QImage& img, const QRect& r) { return FindInkRows(img.copy(r)).Height() > 0; }

// One visible character at a position, the rest blank cells of the same width.
QString Alone(int index, QChar c, int count)
{
    const QChar blank = c.unicode() <= 0xFF ? QChar(u' ') : QChar(0x3000);
    QString s(count, blank);
    s[index] = c;
    return s;
}

TEST(IndexColor, BitsAreChannels)
{
    const QColor expected[] = {Qt::black, Qt::red, Qt::green, Qt::yellow, Qt::blue, Qt::magenta, Qt::cyan, Qt::white};
    for (int code = 0; code < 8; ++code)
        EXPECT_EQ(IndexColor(code), expected[code]) << code;
    EXPECT_EQ(IndexColor(9), QColor(Qt::red));
}

TEST(RenderPreviewText, CellsRowsAndScreenfuls)
{
    struct Case {
        const char* name;
        QSize area;
        QString text;
        QSize image;
        QRect cell; // where the visible character's ink must lie
    };
    const Case cases[] = {
        {"eight narrow characters fill a 64-dot row", {64, 16}, Alone(7, u'H', 8), {64, 16}, {56, 0, 8, 16}},
        {"the ninth starts the next row (a screenful of its own)", {64, 16}, Alone(8, u'H', 9), {64, 32}, {0, 16, 8, 16}},
        {"four CJK characters fill a row", {64, 16}, Alone(3, u'欢', 4), {64, 16}, {48, 0, 16, 16}},
        {"a CJK character never straddles a row end", {32, 16}, QStringLiteral("   欢"), {32, 32}, {0, 16, 16, 16}},
        {"48 x 16: one row a screenful", {48, 16}, Alone(3, u'欢', 4), {48, 32}, {0, 16, 16, 16}},
        {"64 x 40: first row at y 4", {64, 40}, Alone(0, u'欢', 9), {64, 80}, {0, 4, 16, 16}},
        {"64 x 40: second row at y 20", {64, 40}, Alone(4, u'欢', 9), {64, 80}, {0, 20, 16, 16}},
        {"64 x 40: second screenful at y 44", {64, 40}, Alone(8, u'欢', 9), {64, 80}, {0, 44, 16, 16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage img = RenderPreviewText(c.text, c.area, 1);
        ASSERT_EQ(img.size(), c.image);
        EXPECT_TRUE(HasInk(img, c.cell));
        // Everything but the cell stays black.
        QImage rest = img.copy();
        for (int y = c.cell.top(); y <= c.cell.bottom(); ++y)
            for (int x = c.cell.left(); x <= c.cell.right(); ++x)
                rest.setPixelColor(x, y, Qt::black);
        EXPECT_EQ(FindInkRows(rest).Height(), 0);
    }
}

TEST(RenderPreviewText, CrispDotsInTheCodesColour)
{
    const QImage img = RenderPreviewText(QStringLiteral("温度25℃ ok"), {128, 16}, 2);
    ASSERT_EQ(img.size(), QSize(128, 16));
    int lit = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            ASSERT_TRUE(c == QColor(Qt::black) || c == QColor(Qt::green)) << x << "," << y;
            lit += c == QColor(Qt::green);
        }
    EXPECT_GT(lit, 40);
    const mxtest::OutputDir out;
    ASSERT_TRUE(out.IsValid());
    EXPECT_TRUE(img.scaled(img.size() * 8).save(out.File("preview-128x16-x8.png")));
}

TEST(RenderPreviewText, AreasLowerThanACell)
{
    // One row a screenful, its middle showing: 8 rows of each 16-dot cell.
    const QImage img = RenderPreviewText(QStringLiteral("欢迎您！欢"), {64, 8}, 1);
    ASSERT_EQ(img.size(), QSize(64, 16));
    EXPECT_TRUE(HasInk(img, {0, 0, 64, 8}));
    EXPECT_TRUE(HasInk(img, {0, 8, 16, 8}));
    EXPECT_FALSE(HasInk(img, {16, 8, 48, 8}));
    EXPECT_TRUE(RenderPreviewText(QStringLiteral("x"), {0, 16}, 1).isNull());
    EXPECT_TRUE(RenderPreviewText(QStringLiteral("x"), {64, 0}, 1).isNull());
}

class Templates : public ::testing::Test {
protected:
    void at(QDate d, QTime t = QTime(7, 4, 9))
    {
        SetClock([d, t] { return QDateTime(d, t); });
    }
    void TearDown() override { SetClock({}); }
    static double day(QDate d) { return double(QDate(1899, 12, 30).daysTo(d)); }
};

TEST_F(Templates, Clock)
{
    at(QDate(2031, 3, 5)); // a Wednesday
    EXPECT_EQ(ExpandClockTemplate(QStringLiteral("20{N}-{Y}-{R} {S}:{F}:{M}")), QStringLiteral("2031-03-05 07:04:09"));
    EXPECT_EQ(ExpandClockTemplate(QStringLiteral("星期{W}")), QStringLiteral("星期三"));
    EXPECT_EQ(ExpandClockTemplate(QStringLiteral("{Q} {N")), QStringLiteral("{Q} {N"));
    EXPECT_EQ(ExpandClockTemplate(QStringLiteral("end {")), QStringLiteral("end {"));
    at(QDate(2031, 3, 9));
    EXPECT_EQ(ExpandClockTemplate(QStringLiteral("{W}")), QStringLiteral("日"));
    at(QDate(2031, 3, 10));
    EXPECT_EQ(ExpandClockTemplate(QStringLiteral("{W}")), QStringLiteral("一"));
    at(QDate(1999, 12, 31), QTime(23, 59, 58));
    EXPECT_EQ(ExpandClockTemplate(QStringLiteral("{N}{Y}{R}{S}{F}{M}")), QStringLiteral("991231235958"));
}

TEST_F(Templates, Temperature)
{
    EXPECT_EQ(ExpandTemperatureTemplate(QStringLiteral("温度{W}℃湿度{S}%")), QStringLiteral("温度XXX℃湿度XX%"));
    EXPECT_EQ(ExpandTemperatureTemplate(QStringLiteral("{N}{w}")), QStringLiteral("{N}{w}"));
}

TEST_F(Templates, Countdown)
{
    const QDate today(2031, 3, 5);
    at(today, QTime(15, 30));
    struct Case {
        const char* name;
        double target;
        int digits;
        const char* expected;
    };
    const Case cases[] = {
        {"ten days ahead, three digits", day(today) + 10, 3, "010"},
        {"ten days ahead, one digit", day(today) + 10, 1, "0"},
        {"a time of day is truncated", day(today) + 10.75, 3, "010"},
        {"today", day(today), 3, "000"},
        {"one day past: one apart, plus one", day(today) - 1, 1, "2"},
        {"yesterday evening: no whole day, plus one", day(today) - 0.25, 2, "01"},
        {"only the last digits of many", day(today) + 12345, 4, "2345"},
        {"digit counts clamp to the card's four", day(today) + 12345, 7, "2345"},
        {"and to at least one", day(today) + 12345, 0, "5"},
        {"an unreadable date counts as today", std::nan(""), 3, "000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExpandCountdownTemplate(QStringLiteral("离还有{C}天"), c.digits, c.target),
                  QStringLiteral("离还有%1天").arg(QLatin1String(c.expected)));
    }
    EXPECT_EQ(ExpandCountdownTemplate(QStringLiteral("{W}{c}"), 3, day(today)), QStringLiteral("{W}{c}"));
}

TEST_F(Templates, ExpansionStopsAtTheControllersBuffer)
{
    at(QDate(2031, 3, 5));
    const QString longText = QString(254, u'a') + QStringLiteral("{N}tail");
    EXPECT_EQ(ExpandClockTemplate(longText), QString(254, u'a') + u'3');
    EXPECT_EQ(ExpandTemperatureTemplate(QString(300, u'b')).size(), 255);
}

} // namespace
