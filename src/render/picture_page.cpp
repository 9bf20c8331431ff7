#include "render/picture_page.h"

#include "model/imagepage.h"
#include "codec/picture_io.h"

#include <algorithm>

namespace mx {

int PlaneCount(int colourType)
{
    return colourType == ColourFull ? 3 : colourType == ColourDouble ? 2 : 1;
}

void ThresholdImage(QImage& image, int colourType)
{
    if (colourType < ColourSingle || colourType > ColourFull)
        return;
    if (image.format() != QImage::Format_RGB888)
        image = image.convertToFormat(QImage::Format_RGB888);
    auto on = [](uint8_t v) { return uint8_t(v > 128 ? 255 : 0); };
    for (int y = 0; y < image.height(); ++y) {
        uint8_t* p = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x, p += 3) {
            p[0] = on(p[0]);
            p[1] = colourType >= ColourDouble ? on(p[1]) : 0;
            p[2] = colourType == ColourFull ? on(p[2]) : 0;
        }
    }
}

QByteArray ImageToPlanes(const QImage& source, int colourType)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    const int w = image.width();
    const int h = image.height();
    const int rowBytes = w / 8;
    const int planeBytes = rowBytes * h;
    const int planes = PlaneCount(colourType);
    QByteArray out(qsizetype(planeBytes) * planes, '\0');
    auto* dst = reinterpret_cast<uint8_t*>(out.data());
    for (int plane = 0; plane < planes; ++plane) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = image.constScanLine(y);
            uint8_t* d = dst + plane * planeBytes + y * rowBytes;
            for (int x = 0; x < rowBytes * 8; ++x)
                if (row[x * 3 + plane] != 0)
                    d[x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    }
    return out;
}

QImage PlanesToImage(const QByteArray& planes, int width, int height, int colourType)
{
    if (width < 8 || height < 1)
        return {};
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(Qt::black);
    const int rowBytes = width / 8;
    const qsizetype planeBytes = qsizetype(rowBytes) * height;
    const auto* src = reinterpret_cast<const uint8_t*>(planes.constData());
    for (int plane = 0; plane < PlaneCount(colourType); ++plane)
        for (int y = 0; y < height; ++y) {
            uint8_t* row = image.scanLine(y);
            for (int x = 0; x < rowBytes * 8; ++x) {
                const qsizetype at = plane * planeBytes + qsizetype(y) * rowBytes + x / 8;
                if (at < planes.size() && (src[at] & (0x80 >> (x % 8))))
                    row[x * 3 + plane] = 255;
            }
        }
    return image;
}

PictureOutcome ConvertPicture(TLCMImage& page, const ParamRecord& params)
{
    const int colourType = params[Param::ColourType];
    QImage image = page.Picture();
    if (image.isNull()) {
        page.SetDisplayData({});
        return {false, QStringLiteral("the page has no picture")};
    }
    const qint64 size = qint64(image.width() / 8) * image.height() * PlaneCount(colourType);
    if (size > kMaxPictureDataBytes) {
        page.SetDisplayData({});
        return {false, QStringLiteral("an area of %1 x %2 dots in %3 colour planes needs %4 bytes; the card "
                                      "takes at most %5 for one picture")
                           .arg(image.width())
                           .arg(image.height())
                           .arg(PlaneCount(colourType))
                           .arg(size)
                           .arg(kMaxPictureDataBytes)};
    }
    ThresholdImage(image, colourType);
    if (image != page.Picture())
        page.SetPicture(image);
    page.SetDisplayData(ImageToPlanes(image, colourType));
    return {true, {}};
}

PictureOutcome ClearPicture(TLCMImage& page, const ParamRecord& params, int width, int height)
{
    QImage black(std::max(1, width), std::max(1, height), QImage::Format_RGB888);
    black.fill(Qt::black);
    page.SetPicture(black);
    return ConvertPicture(page, params);
}

PictureOutcome LoadPicture(TLCMImage& page, const QString& path, const ParamRecord& params, int width, int height)
{
    page.SetDisplayData({});
    if (width < 1 || height < 1)
        return {false, QStringLiteral("the page has no area to show a picture in")};
    const PictureResult loaded = LoadPictureFile(path, QSize(width, height));
    if (!loaded.ok())
        return {false, loaded.message};
    page.SetPicture(StretchTo(loaded.image, width, height));
    return ConvertPicture(page, params);
}

PictureOutcome FitPicture(TLCMImage& page, const ParamRecord& params, int width, int height)
{
    if (page.Picture().size() == QSize(width, height))
        return {!page.DisplayData().isEmpty(), {}};
    if (width < 1 || height < 1) {
        page.SetDisplayData({});
        return {false, QStringLiteral("the page has no area to show a picture in")};
    }
    QImage fitted(width, height, QImage::Format_RGB888);
    fitted.fill(Qt::black);
    if (!page.Picture().isNull())
        fitted = StretchTo(page.Picture(), width, height);
    page.SetPicture(fitted);
    return ConvertPicture(page, params);
}

} // namespace mx
