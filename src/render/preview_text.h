// The preview of text the controller lays out itself in its 16-dot font: text pages, and the
// clock, temperature and countdown templates expanded with sample values.
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

namespace mx {

// Colour code 0 to 7: bit 0 red, bit 1 green, bit 2 blue, each channel 0 or 255. Only the low
// three bits of other values count.
QColor IndexColor(int code);

constexpr int kPreviewCellHeight = 16;

// One area-sized frame per screenful, stacked downwards: 16-dot rows of cells 8 dots wide for
// code units up to 0xFF and 16 for the others, a row ending only where the next cell would not
// fit, the rows of a screenful centred vertically. An area lower than 16 dots gets one row per
// screenful, centred, so the middle of each 16-dot cell shows and the rest is cut evenly above
// and below. A null image for an empty area.
QImage RenderPreviewText(const QString& characters, QSize area, int colourCode);

// Placeholders "{" letter "}" expanded with what the controller would show, read from the
// engine's clock once; the result is cut where the controller's 255-unit buffer ends.
QString ExpandClockTemplate(const QString& text);
// Temperature and humidity become XXX and XX.
QString ExpandTemperatureTemplate(const QString& text);
// "{C}" becomes the last digitCount digits of the days between today and the target date (days
// since 30 December 1899), plus one once the target has passed. The count is clamped to 1 to 4,
// the digit fields the controller has, as the page encodes it.
QString ExpandCountdownTemplate(const QString& text, int digitCount, double targetDate);

} // namespace mx
