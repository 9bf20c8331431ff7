// JPEG files made at run time with libjpeg's own compressor, for pictures too big to commit
// and for colour spaces the fixture tools do not write.
#pragma once

#include <QByteArray>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace mxtest {

enum class JpegKind { YCbCr, Grey, AdobeCmyk, PlainCmyk, Ycck };

struct JpegOptions {
    JpegKind kind = JpegKind::YCbCr;
    int quality = 90;
    bool progressive = false;
    bool arithmetic = false;
    bool jfif = true;                        // false: no APPn marker at all
    bool fullChroma = false;                 // 4:4:4 instead of 4:2:0
    std::vector<jpeg_scan_info> scans = {}; // a scan script of its own, when not empty
};

inline QByteArray MakeJpeg(const QImage& picture, const JpegOptions& o = {})
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err); // a fault here is a fault of the test itself
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);

    const bool grey = o.kind == JpegKind::Grey;
    const bool cmyk = o.kind == JpegKind::AdobeCmyk || o.kind == JpegKind::PlainCmyk || o.kind == JpegKind::Ycck;
    c.image_width = JDIMENSION(rgb.width());
    c.image_height = JDIMENSION(rgb.height());
    c.input_components = cmyk ? 4 : 3;
    c.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    if (grey)
        jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    if (o.kind == JpegKind::Ycck)
        jpeg_set_colorspace(&c, JCS_YCCK);
    if (o.kind == JpegKind::PlainCmyk)
        c.write_Adobe_marker = FALSE;
    c.write_JFIF_header = o.jfif && !cmyk ? TRUE : FALSE;
    jpeg_set_quality(&c, o.quality, TRUE);
    if (o.fullChroma)
        for (int i = 0; i < c.num_components; ++i)
            c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    if (o.progressive)
        jpeg_simple_progression(&c);
    if (!o.scans.empty()) {
        c.scan_info = o.scans.data();
        c.num_scans = int(o.scans.size());
    }
    c.arith_code = o.arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);

    std::vector<JSAMPLE> row(size_t(rgb.width()) * 4);
    while (c.next_scanline < c.image_height) {
        const uchar* src = rgb.constScanLine(int(c.next_scanline));
        JSAMPROW r = const_cast<JSAMPROW>(src);
        if (cmyk) {
            // Pure colours only: ink is 255 - channel, black stays 0 (the pictures are RGB primaries).
            for (int x = 0; x < rgb.width(); ++x) {
                for (int ch = 0; ch < 3; ++ch) {
                    const int ink = 255 - src[x * 3 + ch];
                    row[size_t(x) * 4 + size_t(ch)] = JSAMPLE(o.kind == JpegKind::PlainCmyk ? ink : 255 - ink);
                }
                row[size_t(x) * 4 + 3] = JSAMPLE(o.kind == JpegKind::PlainCmyk ? 0 : 255);
            }
            r = row.data();
        }
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(outSize));
    std::free(out);
    return bytes;
}

// Four flat quadrants: red top left, green top right, blue bottom left, white bottom right.
inline QImage Quadrants(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool left = x < w / 2, top = y < h / 2;
            img.setPixel(x, y, top ? (left ? 0xFF0000 : 0x00FF00) : (left ? 0x0000FF : 0xFFFFFF));
        }
    return img;
}

// Smooth gradients with some texture, so the compressed size is like a photograph's.
inline QImage PhotoLike(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y) {
        uchar* p = img.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int((seed >> 16) & 15);
            p[0] = uchar((x * 255 / w + noise) & 255);
            p[1] = uchar((y * 255 / h + noise) & 255);
            p[2] = uchar(((x + y) * 128 / (w + h) + ((x / 40 + y / 40) % 2) * 100 + noise) & 255);
        }
    }
    return img;
}

} // namespace mxtest
