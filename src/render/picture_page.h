// Pictures on picture pages: fitting to the page's area, reducing to the screen's colours and
// converting into the bit planes the card shows.
#pragma once

#include "model/hwcommands.h"
#include "model/page_checks.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace mx {

class TLCMImage;

int PlaneCount(int colourType);
// W x H / 8 bytes per plane: red, then green (colour types 2 and 3), then blue (3); rows from
// the top, the most significant bit the leftmost dot, a bit set when its channel is non-zero.
QByteArray ImageToPlanes(const QImage& image, int colourType);
// The picture bit planes stand for: lit channels 255, the rest 0; missing bytes read as unlit.
QImage PlanesToImage(const QByteArray& planes, int width, int height, int colourType);
// Every channel the screen cannot show cleared, the others set to 0 or 255 above 128.
void ThresholdImage(QImage& image, int colourType);

constexpr int kMaxPictureDataBytes = kMaxLedPageBytes;

struct PictureOutcome {
    bool ok = false;
    QString message; // why the page has no display data
};

// A black picture of the area, converted.
PictureOutcome ClearPicture(TLCMImage& page, const ParamRecord& params, int width, int height);
// Threshold and convert the page's current picture.
PictureOutcome ConvertPicture(TLCMImage& page, const ParamRecord& params);
// Loads a .jpg, .jpeg or .bmp, stretched onto the area. On failure the page keeps its picture but
// has no display data, so it sends nothing.
PictureOutcome LoadPicture(TLCMImage& page, const QString& path, const ParamRecord& params, int width, int height);
// Refits the current picture to an area of another size; nothing happens when it fits.
PictureOutcome FitPicture(TLCMImage& page, const ParamRecord& params, int width, int height);

} // namespace mx
