#include "render/preview_text.h"

#include "link/engine_env.h"
#include "model/templates.h"
#include "render/rtf_renderer.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace mx {

namespace {

QString FromUnits(const QList<uint16_t>& units)
{
    QString s;
    s.reserve(units.size());
    for (uint16_t u : units)
        s.append(QChar(u));
    return s;
}

QList<uint16_t> Units(const QString& s)
{
    QList<uint16_t> out;
    out.reserve(s.size());
    for (QChar c : s)
        out.append(c.unicode());
    return out;
}

QList<uint16_t> TwoDigits(int value) { return {uint16_t(u'0' + (value / 10) % 10), uint16_t(u'0' + value % 10)}; }

int CellWidth(QChar c) { return c.unicode() <= 0xFF ? 8 : 16; }

} // namespace

QColor IndexColor(int code)
{
    return QColor(code & 1 ? 255 : 0, code & 2 ? 255 : 0, code & 4 ? 255 : 0);
}

QImage RenderPreviewText(const QString& characters, QSize area, int colourCode)
{
    const int w = area.width();
    const int h = area.height();
    if (w <= 0 || h <= 0)
        return {};
    const bool low = h < kPreviewCellHeight;
    const int rows = low ? 1 : h / kPreviewCellHeight;
    const int firstY = low ? (h - kPreviewCellHeight) / 2 : (h % kPreviewCellHeight) / 2;

    int lines = 1;
    for (int x = 0, i = 0; i < characters.size(); ++i) {
        const int c = CellWidth(characters[i]);
        if (x + c > w) {
            ++lines;
            x = c;
        } else {
            x += c;
        }
    }
    const int screens = (lines + rows - 1) / rows;
    QImage image = NewCanvas(w, screens * h);

    InstallLedFontSubstitutions();
    QFont song(QStringLiteral("宋体"));
    const QFont font = LedFont(song, PointsToPixels(10));
    const int ascent = QFontMetrics(font).ascent();
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setFont(font);
    p.setPen(IndexColor(colourCode));
    int x = 0, y = firstY, line = 0;
    for (qsizetype i = 0; i < characters.size(); ++i) {
        const QChar ch = characters[i];
        const int c = CellWidth(ch);
        if (x + c > w) {
            x = 0;
            ++line;
            y = line % rows != 0 ? y + kPreviewCellHeight : (line / rows) * h + firstY;
        }
        // A pair is one character to draw; its low half keeps its own (empty) cell, as the
        // controller gives every code unit a cell.
        QString glyph(ch);
        if (ch.isHighSurrogate() && i + 1 < characters.size() && characters[i + 1].isLowSurrogate())
            glyph.append(characters[i + 1]);
        if (!ch.isLowSurrogate()) {
            const int screenTop = (line / rows) * h;
            p.setClipRect(QRect(x, y, c, kPreviewCellHeight).intersected(QRect(0, screenTop, w, h)));
            p.drawText(x, y + ascent, glyph);
        }
        x += c;
    }
    return image;
}

QString ExpandClockTemplate(const QString& text)
{
    const QDateTime now = Now();
    const QDate d = now.date();
    const QTime t = now.time();
    static const char16_t kWeekdays[] = u"一二三四五六日";
    return FromUnits(ExpandTemplate(
        text,
        [&](char16_t letter) -> QList<uint16_t> {
            switch (letter) {
            case u'N': return TwoDigits(d.year() % 100);
            case u'Y': return TwoDigits(d.month());
            case u'R': return TwoDigits(d.day());
            case u'S': return TwoDigits(t.hour());
            case u'F': return TwoDigits(t.minute());
            case u'M': return TwoDigits(t.second());
            case u'W': return {uint16_t(kWeekdays[std::clamp(d.dayOfWeek(), 1, 7) - 1])};
            default: return {};
            }
        },
        nullptr));
}

QString ExpandTemperatureTemplate(const QString& text)
{
    return FromUnits(ExpandTemplate(
        text,
        [](char16_t letter) -> QList<uint16_t> {
            switch (letter) {
            case u'W': return Units(QStringLiteral("XXX"));
            case u'S': return Units(QStringLiteral("XX"));
            default: return {};
            }
        },
        nullptr));
}

QString ExpandCountdownTemplate(const QString& text, int digitCount, double targetDate)
{
    const double today = double(QDate(1899, 12, 30).daysTo(Now().date()));
    // An unreadable target counts as today; far-off ones keep only their last digits anyway.
    const double target = std::isfinite(targetDate) ? std::clamp(targetDate, -1e9, 1e9) : today;
    const qint64 days = qint64(std::trunc(std::fabs(target - today))) + (today > target ? 1 : 0);
    const int d = std::clamp(digitCount, 1, 4);
    QList<uint16_t> digits;
    qint64 divisor = 1;
    for (int i = 1; i < d; ++i)
        divisor *= 10;
    for (; divisor > 0; divisor /= 10)
        digits.append(uint16_t(u'0' + (days / divisor) % 10));
    return FromUnits(ExpandTemplate(
        text, [&](char16_t letter) { return letter == u'C' ? digits : QList<uint16_t>{}; }, nullptr));
}

} // namespace mx
