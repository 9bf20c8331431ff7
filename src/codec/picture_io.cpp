#include "codec/picture_io.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <optional>

#include <jerror.h>
#include <jpeglib.h>

namespace mx {

namespace {

QString TooLargeText(const QString& name, int64_t w, int64_t h)
{
    return QStringLiteral("%1: the picture is %2 x %3 pixels; at most %4 x %4 and %5 megapixels are accepted")
        .arg(name)
        .arg(w)
        .arg(h)
        .arg(kMaxPictureSide)
        .arg(kMaxPicturePixels / 1'000'000);
}

// Empty when the size is acceptable.
QString SizeRefusal(const QString& name, int64_t w, int64_t h)
{
    if (w <= 0 || h <= 0)
        return QStringLiteral("%1: the picture has no pixels (%2 x %3)").arg(name).arg(w).arg(h);
    if (w > kMaxPictureSide || h > kMaxPictureSide || w * h > kMaxPicturePixels)
        return TooLargeText(name, w, h);
    return {};
}

PictureResult Failure(QString message) { return {QImage(), std::move(message)}; }

std::optional<QString> CheckInputSize(const QByteArray& bytes, const QString& name)
{
    if (bytes.isEmpty())
        return QStringLiteral("%1: the file is empty").arg(name);
    if (bytes.size() > kMaxPictureFileBytes)
        return QStringLiteral("%1: the file is larger than %2 MiB").arg(name).arg(kMaxPictureFileBytes >> 20);
    return std::nullopt;
}

// ---- JPEG -------------------------------------------------------------------------------

// Progressive pictures with absurd scan counts decode for minutes; real encoders stay far below.
constexpr int kMaxJpegScans = 256;

enum class JpegStatus { Ok, LibError, Truncated, TooManyScans, TooLarge, OutOfMemory };

// libjpeg's default error manager prints to stderr and calls exit(); this one jumps back to
// the decoder with the reason instead.
struct JpegState {
    jpeg_error_mgr mgr; // first member: libjpeg hands this pointer to the callbacks
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    JpegStatus status;
    bool inHeader;
    bool sawEof;
    char text[JMSG_LENGTH_MAX];
};

JpegState* StateOf(j_common_ptr c) { return reinterpret_cast<JpegState*>(c->err); }

[[noreturn]] void StopJpeg(j_common_ptr c, JpegStatus status)
{
    StateOf(c)->status = status;
    std::longjmp(StateOf(c)->jump, 1);
}

void JpegErrorExit(j_common_ptr c)
{
    (*c->err->format_message)(c, StateOf(c)->text);
    const int code = c->err->msg_code;
    StopJpeg(c, code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY ? JpegStatus::OutOfMemory
                                                                            : JpegStatus::LibError);
}

void JpegOutputMessage(j_common_ptr) {}

// Warnings are where libjpeg reports a file cut short; it would go on with made-up data. A
// missing end marker alone is forgiven: the pixels are all there.
void JpegEmitMessage(j_common_ptr c, int level)
{
    if (level >= 0)
        return; // trace output
    JpegState* st = StateOf(c);
    c->err->num_warnings++;
    auto* d = reinterpret_cast<j_decompress_ptr>(c);
    const int code = c->err->msg_code;
    if (code == JWRN_JPEG_EOF) {
        st->sawEof = true;
        if (st->inHeader)
            StopJpeg(c, JpegStatus::Truncated);
        // The arithmetic decoder never says it ran dry, so the rows still to come decide.
        // Huffman data is judged by the warning below: an EOB run may legitimately end a
        // progressive scan long before its last row.
        if (d->arith_code && d->input_iMCU_row + 1 < d->total_iMCU_rows)
            StopJpeg(c, JpegStatus::Truncated);
    } else if (code == JWRN_HIT_MARKER && d->unread_marker == JPEG_EOI) {
        // The Huffman decoder needed bits and found the end of the picture instead (libjpeg
        // puts an end marker where the file ends).
        StopJpeg(c, JpegStatus::Truncated);
    }
}

void JpegProgress(j_common_ptr c)
{
    if (reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxJpegScans)
        StopJpeg(c, JpegStatus::TooManyScans);
}

int DivUp(int64_t a, int b) { return int((a + b - 1) / b); }

// A progressive picture is complete when every coefficient of every component has been
// refined down to its last bit.
bool ProgressionComplete(j_decompress_ptr d)
{
    if (!d->progressive_mode || d->coef_bits == nullptr)
        return true;
    for (int c = 0; c < d->num_components; ++c)
        for (int k = 0; k < DCTSIZE2; ++k)
            if (d->coef_bits[c][k] != 0)
                return false;
    return true;
}

void CmykRowToRgb(const JSAMPLE* in, uint8_t* out, int width, bool adobeInverted)
{
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
        // Adobe writers store 255 - ink; plain CMYK stores the ink.
        unsigned c = in[0], m = in[1], y = in[2], k = in[3];
        if (!adobeInverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[0] = uint8_t((c * k + 127) / 255);
        out[1] = uint8_t((m * k + 127) / 255);
        out[2] = uint8_t((y * k + 127) / 255);
    }
}

// Holds no object with a destructor: libjpeg's errors longjmp back into this frame.
void RunJpegDecoder(jpeg_decompress_struct* d, JpegState* st, const QByteArray* bytes, QSize target,
                    QImage* out, int64_t* declared)
{
    if (setjmp(st->jump))
        return;
    jpeg_create_decompress(d);
    d->mem->max_memory_to_use = long(kMaxJpegWorkBytes);
    d->progress = &st->progress;
    jpeg_mem_src(d, reinterpret_cast<const unsigned char*>(bytes->constData()), (unsigned long)bytes->size());
    jpeg_read_header(d, TRUE);
    st->inHeader = false;

    declared[0] = d->image_width;
    declared[1] = d->image_height;
    if (d->image_width > JDIMENSION(kMaxPictureSide) || d->image_height > JDIMENSION(kMaxPictureSide)
        || int64_t(d->image_width) * d->image_height > kMaxPicturePixels) {
        st->status = JpegStatus::TooLarge;
        return;
    }
    // Huffman coding spends at least one bit on every block, so a small file cannot honestly
    // declare a huge picture. Arithmetic coding has no such floor; the memory cap bounds it.
    if (!d->arith_code) {
        int64_t blocks = 0;
        for (int c = 0; c < d->num_components; ++c)
            blocks += int64_t(d->comp_info[c].width_in_blocks) * d->comp_info[c].height_in_blocks;
        if (blocks > int64_t(bytes->size()) * 8) {
            st->status = JpegStatus::Truncated;
            return;
        }
    }
    const bool cmyk = d->jpeg_color_space == JCS_CMYK || d->jpeg_color_space == JCS_YCCK;
    d->out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    d->scale_num = 1;
    d->scale_denom = 1;
    if (target.isValid())
        for (const int denom : {8, 4, 2})
            if (DivUp(d->image_width, denom) >= target.width() && DivUp(d->image_height, denom) >= target.height()) {
                d->scale_denom = unsigned(denom);
                break;
            }

    jpeg_start_decompress(d); // a progressive picture is read whole here
    if (st->sawEof && !ProgressionComplete(d)) {
        st->status = JpegStatus::Truncated;
        return;
    }
    *out = QImage(int(d->output_width), int(d->output_height), QImage::Format_RGB888);
    if (out->isNull()) {
        st->status = JpegStatus::OutOfMemory;
        return;
    }
    JSAMPARRAY cmykRow = cmyk ? (*d->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(d), JPOOL_IMAGE,
                                                        d->output_width * 4, 1)
                              : nullptr;
    while (d->output_scanline < d->output_height) {
        uint8_t* line = out->scanLine(int(d->output_scanline));
        if (cmykRow) {
            jpeg_read_scanlines(d, cmykRow, 1);
            CmykRowToRgb(cmykRow[0], line, int(d->output_width), d->saw_Adobe_marker);
        } else {
            JSAMPROW row = line;
            jpeg_read_scanlines(d, &row, 1);
        }
    }
    // The end marker and anything after it carry no pixels, so they are not read.
    st->status = JpegStatus::Ok;
}

// ---- BMP --------------------------------------------------------------------------------

const uint8_t* Bytes(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }
uint32_t U16(const QByteArray& b, int64_t at) { return Bytes(b)[at] | uint32_t(Bytes(b)[at + 1]) << 8; }
uint32_t U32(const QByteArray& b, int64_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

struct BmpHeader {
    int64_t width = 0;
    int64_t height = 0; // rows, whatever the direction
    bool topDown = false;
    uint32_t infoSize = 0;
    uint32_t bits = 0;
    uint32_t compression = 0;
    int64_t pixelsAt = 0;
};

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;

std::optional<BmpHeader> ParseBmpHeader(const QByteArray& b)
{
    if (b.size() < 26 || b[0] != 'B' || b[1] != 'M')
        return std::nullopt;
    BmpHeader h;
    const uint32_t infoSize = U32(b, 14);
    if (infoSize == 12) { // OS/2 core header: unsigned 16-bit sizes, never compressed
        h.width = U16(b, 18);
        h.height = U16(b, 20);
        h.bits = U16(b, 24);
    } else if (infoSize >= 40 && b.size() >= 54) {
        h.width = int32_t(U32(b, 18));
        h.height = int32_t(U32(b, 22));
        h.topDown = h.height < 0;
        h.height = h.height < 0 ? -h.height : h.height; // negative: top-down rows
        h.bits = U16(b, 28);
        h.compression = U32(b, 30);
    } else {
        return std::nullopt;
    }
    h.infoSize = infoSize;
    h.pixelsAt = std::max<int64_t>(U32(b, 10), 14 + int64_t(infoSize));
    return h;
}

// One channel of a 16-bit pixel: where its bits are and how many.
struct ChannelMask {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
};

std::optional<ChannelMask> ParseMask(uint32_t mask)
{
    if (mask == 0 || mask > 0xFFFF)
        return std::nullopt;
    ChannelMask c{mask, 0, 0};
    while (!((mask >> c.shift) & 1))
        ++c.shift;
    while ((mask >> (c.shift + c.bits)) & 1)
        ++c.bits;
    if ((mask >> (c.shift + c.bits)) != 0) // not one run of bits
        return std::nullopt;
    return c;
}

// An n-bit level widened to 8 bits by copying its top bits below it (5 bits: v << 3 | v >> 2),
// so the full level is 255 and the levels spread evenly.
uint8_t Widen(uint32_t v, int bits)
{
    if (bits >= 8)
        return uint8_t(v >> (bits - 8));
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = out << bits | v;
        filled += bits;
    }
    return uint8_t(out >> (filled - 8));
}

// QImage widens 16-bit channels by a plain shift, which leaves 5-bit white at 248 and moves
// every level down; these pictures are decoded here. Masks that are not three runs of bits
// within 16 stay with QImage. The caller has checked that every row is in the file.
std::optional<QImage> DecodeBmp16(const QByteArray& b, const BmpHeader& h)
{
    if (h.bits != 16 || h.infoSize < 40)
        return std::nullopt;
    std::optional<ChannelMask> red, green, blue;
    if (h.compression == kBiRgb) {
        red = ParseMask(0x7C00);
        green = ParseMask(0x03E0);
        blue = ParseMask(0x001F);
    } else if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
        // After a 40-byte header the masks follow it; longer headers hold them at the same place.
        if (b.size() < 66)
            return std::nullopt;
        red = ParseMask(U32(b, 54));
        green = ParseMask(U32(b, 58));
        blue = ParseMask(U32(b, 62));
    } else {
        return std::nullopt;
    }
    if (!red || !green || !blue)
        return std::nullopt;
    const int64_t stride = (h.width * 16 + 31) / 32 * 4;
    if (h.pixelsAt + stride * h.height > b.size())
        return std::nullopt;
    QImage image(int(h.width), int(h.height), QImage::Format_RGB888);
    if (image.isNull())
        return QImage();
    const uint8_t* pixels = Bytes(b) + h.pixelsAt;
    for (int64_t y = 0; y < h.height; ++y) {
        const uint8_t* src = pixels + (h.topDown ? y : h.height - 1 - y) * stride;
        uint8_t* dst = image.scanLine(int(y));
        for (int64_t x = 0; x < h.width; ++x) {
            const uint32_t v = src[2 * x] | uint32_t(src[2 * x + 1]) << 8;
            for (const ChannelMask& c : {*red, *green, *blue})
                *dst++ = Widen((v & c.mask) >> c.shift, c.bits);
        }
    }
    return image;
}

// Whether run-length data reaches its end marker or its last row before the file ends.
bool RleComplete(const QByteArray& b, int64_t at, int64_t rows, bool rle4)
{
    const uint8_t* p = Bytes(b);
    const int64_t size = b.size();
    int64_t row = 0;
    while (at + 1 < size) {
        const uint8_t count = p[at], code = p[at + 1];
        at += 2;
        if (count != 0)
            continue;
        if (code == 0) {
            if (++row >= rows)
                return true;
        } else if (code == 1) {
            return true;
        } else if (code == 2) {
            if (at + 1 >= size)
                return false;
            row += p[at + 1];
            at += 2;
            if (row >= rows)
                return true;
        } else {
            const int64_t n = rle4 ? (code + 1) / 2 : code;
            at += (n + 1) & ~int64_t(1); // absolute runs are padded to 16 bits
        }
    }
    return false;
}

} // namespace

PictureResult DecodeJpeg(const QByteArray& bytes, QSize targetSize, const QString& nameForMessages)
{
    const QString& name = nameForMessages;
    if (auto refused = CheckInputSize(bytes, name))
        return Failure(*refused);

    jpeg_decompress_struct d;
    std::memset(&d, 0, sizeof d);
    JpegState st;
    std::memset(&st, 0, sizeof st);
    jpeg_std_error(&st.mgr);
    st.mgr.error_exit = JpegErrorExit;
    st.mgr.output_message = JpegOutputMessage;
    st.mgr.emit_message = JpegEmitMessage;
    st.progress.progress_monitor = JpegProgress;
    st.status = JpegStatus::LibError;
    st.inHeader = true;
    d.err = &st.mgr;

    QImage image;
    int64_t declared[2] = {0, 0};
    RunJpegDecoder(&d, &st, &bytes, targetSize, &image, declared);
    jpeg_destroy_decompress(&d);

    switch (st.status) {
    case JpegStatus::Ok:
        return {std::move(image), QString()};
    case JpegStatus::Truncated:
        return Failure(QStringLiteral("%1: the file ends before the picture is complete").arg(name));
    case JpegStatus::TooManyScans:
        return Failure(QStringLiteral("%1: the JPEG picture has more than %2 scans").arg(name).arg(kMaxJpegScans));
    case JpegStatus::TooLarge:
        return Failure(TooLargeText(name, declared[0], declared[1]));
    case JpegStatus::OutOfMemory:
        return Failure(QStringLiteral("%1: decoding the %2 x %3 picture needs more memory than allowed")
                           .arg(name)
                           .arg(declared[0])
                           .arg(declared[1]));
    case JpegStatus::LibError:
        break;
    }
    return Failure(QStringLiteral("%1: not a readable JPEG picture (%2)").arg(name, QString::fromLocal8Bit(st.text)));
}

PictureResult DecodeBmp(const QByteArray& bytes, const QString& nameForMessages)
{
    const QString& name = nameForMessages;
    if (auto refused = CheckInputSize(bytes, name))
        return Failure(*refused);
    const std::optional<BmpHeader> header = ParseBmpHeader(bytes);
    if (!header)
        return Failure(QStringLiteral("%1: not a BMP picture").arg(name));
    if (const QString refusal = SizeRefusal(name, header->width, header->height); !refusal.isEmpty())
        return Failure(refusal);

    // QImage keeps whatever it read from a short file and leaves the rest undefined.
    bool complete = true;
    switch (header->compression) {
    case kBiRgb:
    case kBiBitfields:
    case kBiAlphaBitfields:
        if (header->bits != 0) {
            const int64_t stride = (header->width * header->bits + 31) / 32 * 4;
            complete = header->pixelsAt + stride * header->height <= bytes.size();
        }
        break;
    case kBiRle8:
    case kBiRle4:
        complete = RleComplete(bytes, header->pixelsAt, header->height, header->compression == kBiRle4);
        break;
    default:
        break; // QImage refuses what it cannot read
    }
    if (!complete)
        return Failure(QStringLiteral("%1: the file ends before the picture is complete").arg(name));

    if (std::optional<QImage> wide = DecodeBmp16(bytes, *header)) {
        if (wide->isNull())
            return Failure(QStringLiteral("%1: not enough memory for the picture").arg(name));
        return {std::move(*wide), QString()};
    }

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    QImage image;
    if (!reader.read(&image))
        return Failure(QStringLiteral("%1: not a readable BMP picture (%2)").arg(name, reader.errorString()));
    image.convertTo(QImage::Format_RGB888);
    if (image.isNull())
        return Failure(QStringLiteral("%1: not enough memory for the picture").arg(name));
    return {std::move(image), QString()};
}

PictureResult LoadPictureFile(const QString& path, QSize targetSize)
{
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot < 0 ? QString() : fileName.mid(dot).toLower();
    const bool jpeg = ext == QLatin1String(".jpg") || ext == QLatin1String(".jpeg");
    if (!jpeg && ext != QLatin1String(".bmp"))
        return Failure(QStringLiteral("%1: only .jpg, .jpeg and .bmp pictures can be loaded").arg(path));
    if (!info.exists())
        return Failure(QStringLiteral("%1: the file does not exist").arg(path));
    // A pipe or a device would block or never end.
    if (!info.isFile())
        return Failure(QStringLiteral("%1: not a regular file").arg(path));
    if (info.size() > kMaxPictureFileBytes)
        return Failure(QStringLiteral("%1: the file is larger than %2 MiB").arg(path).arg(kMaxPictureFileBytes >> 20));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure(QStringLiteral("%1: cannot be opened (%2)").arg(path, file.errorString()));
    const QByteArray bytes = file.read(kMaxPictureFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return Failure(QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString()));
    return jpeg ? DecodeJpeg(bytes, targetSize, path) : DecodeBmp(bytes, path);
}

QByteArray EncodeBmp24(const QImage& source)
{
    if (source.isNull())
        return {};
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    const int64_t w = image.width();
    const int64_t h = image.height();
    const int64_t stride = (w * 3 + 3) & ~int64_t(3);
    const int64_t pixelBytes = stride * h;
    if (image.isNull() || 54 + pixelBytes > INT32_MAX)
        return {};

    QByteArray out(qsizetype(54 + pixelBytes), '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    auto put16 = [&](int at, uint32_t v) {
        p[at] = uint8_t(v);
        p[at + 1] = uint8_t(v >> 8);
    };
    auto put32 = [&](int at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    p[0] = 'B';
    p[1] = 'M';
    put32(2, uint32_t(54 + pixelBytes)); // file size
    put32(10, 54);                       // pixel data offset
    put32(14, 40);                       // info header size
    put32(18, uint32_t(w));
    put32(22, uint32_t(h)); // positive: bottom-up
    put16(26, 1);           // planes
    put16(28, 24);          // bits per pixel
    put32(34, uint32_t(pixelBytes));
    // Compression, resolution and palette counts stay 0; so does the row padding.
    for (int64_t y = 0; y < h; ++y) {
        const uint8_t* src = image.constScanLine(int(h - 1 - y));
        uint8_t* dst = p + 54 + y * stride;
        for (int64_t x = 0; x < w; ++x) {
            dst[x * 3] = src[x * 3 + 2];
            dst[x * 3 + 1] = src[x * 3 + 1];
            dst[x * 3 + 2] = src[x * 3];
        }
    }
    return out;
}

QImage StretchTo(const QImage& source, int width, int height)
{
    if (width < 1 || height < 1)
        return {};
    if (source.isNull()) {
        QImage black(width, height, QImage::Format_RGB888);
        black.fill(Qt::black);
        return black;
    }
    QImage image = source.convertToFormat(QImage::Format_RGB888);
    // Shrink smoothly first, in the directions that shrink, then repeat pixels for the rest.
    const int midW = std::min(width, image.width());
    const int midH = std::min(height, image.height());
    if (midW != image.width() || midH != image.height())
        image = image.scaled(midW, midH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (midW != width || midH != height)
        image = image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return image.convertToFormat(QImage::Format_RGB888);
}

} // namespace mx
