// Reading pictures for picture pages (JPEG through libjpeg, BMP through QImage), writing the
// stored source picture as a 24-bit BMP file, and stretching a picture onto a page's area.
// Pictures come from the operator's disk and from project files, so nothing here trusts them.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>

namespace mx {

struct PictureResult {
    QImage image;    // Format_RGB888; null on failure
    QString message; // why it failed, naming the file; empty on success
    bool ok() const { return !image.isNull(); }
};

// Bounds on what a picture may claim, checked before any pixel is decoded.
constexpr int kMaxPictureSide = 30000;
constexpr int64_t kMaxPicturePixels = 200'000'000;
constexpr int64_t kMaxPictureFileBytes = int64_t(256) * 1024 * 1024;
// libjpeg's own working memory (a progressive picture keeps every coefficient until the end).
constexpr int64_t kMaxJpegWorkBytes = int64_t(1) << 30;

// Decodes a ".jpg", ".jpeg" or ".bmp" file, by the extension in any letter case; other names are
// refused.
// A valid targetSize lets the JPEG decoder shrink by 1/2, 1/4 or 1/8 while decoding, as long as
// the result stays at least targetSize in both directions.
PictureResult LoadPictureFile(const QString& path, QSize targetSize);

// A file that ends before the picture's last row of blocks fails; a missing end marker is
// forgiven. Greyscale, RGB, CMYK and YCCK pictures all come out as RGB.
PictureResult DecodeJpeg(const QByteArray& bytes, QSize targetSize, const QString& nameForMessages);
// Every BMP variant QImage reads. An uncompressed BMP shorter than its pixel data fails.
PictureResult DecodeBmp(const QByteArray& bytes, const QString& nameForMessages);

// A complete 24-bit BMP file: 14-byte file header, 40-byte info header, bottom-up rows padded
// to 4 bytes, biSizeImage set, resolution 0. The same image always gives the same bytes.
// A null image gives an empty array.
QByteArray EncodeBmp24(const QImage& image);

// The whole picture stretched onto width x height (aspect ratio not kept), RGB888. A direction
// that shrinks is smoothed, one that enlarges repeats pixels, so LED dots stay crisp. A null
// picture gives a black one; a width or height below 1 gives a null image.
QImage StretchTo(const QImage& image, int width, int height);

} // namespace mx
