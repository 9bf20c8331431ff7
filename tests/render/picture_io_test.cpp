// Picture input and output against files other programs wrote (tests/data/pictures/README.md)
// and against JPEGs made at run time by libjpeg's compressor.
#include "codec/picture_io.h"
#include "render/picture_page.h"

#include "picture_jpeg_writer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

using mx::DecodeBmp;
using mx::DecodeJpeg;
using mx::EncodeBmp24;
using mx::LoadPictureFile;
using mx::PictureResult;
using mx::StretchTo;
using mxtest::JpegKind;
using mxtest::JpegOptions;
using mxtest::MakeJpeg;
using mxtest::Quadrants;

namespace {

QString FixturePath(const QString& name)
{
    return QStringLiteral(MARQUIX_SOURCE_DIR "/tests/data/pictures/") + name;
}

QByteArray Fixture(const QString& name)
{
    QFile f(FixturePath(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

struct Rgb {
    int r, g, b;
};
constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kBlack{0, 0, 0};
// Luminance of the primaries, as a greyscale JPEG holds them.
constexpr Rgb kRedY{76, 76, 76}, kGreenY{150, 150, 150}, kBlueY{29, 29, 29};

testing::AssertionResult Near(const QImage& img, int x, int y, Rgb want, int tol)
{
    const QRgb p = img.pixel(x, y);
    if (std::abs(qRed(p) - want.r) <= tol && std::abs(qGreen(p) - want.g) <= tol
        && std::abs(qBlue(p) - want.b) <= tol)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "pixel (" << x << "," << y << ") is " << qRed(p) << "," << qGreen(p)
                                       << "," << qBlue(p) << ", wanted " << want.r << "," << want.g << ","
                                       << want.b << " within " << tol;
}

// The centres of the four quadrants; the fixtures are drawn that way (see the README).
void ExpectQuadrants(const QImage& img, int tol, Rgb tl = kRed, Rgb tr = kGreen, Rgb bl = kBlue, Rgb br = kWhite)
{
    const int w = img.width(), h = img.height();
    EXPECT_TRUE(Near(img, w / 4, h / 4, tl, tol)) << "top left";
    EXPECT_TRUE(Near(img, 3 * w / 4, h / 4, tr, tol)) << "top right";
    EXPECT_TRUE(Near(img, w / 4, 3 * h / 4, bl, tol)) << "bottom left";
    EXPECT_TRUE(Near(img, 3 * w / 4, 3 * h / 4, br, tol)) << "bottom right";
}

void ExpectFailure(const PictureResult& r, const QString& name, const char* mention)
{
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.image.isNull());
    EXPECT_TRUE(r.message.contains(name)) << r.message.toStdString();
    EXPECT_TRUE(r.message.contains(QLatin1String(mention))) << r.message.toStdString();
}

// Offset of the frame header's marker (SOF0..SOF15 less DHT, JPG and DAC).
qsizetype SofAt(const QByteArray& jpeg)
{
    for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
        const auto m = uint8_t(jpeg[i + 1]);
        if (uint8_t(jpeg[i]) == 0xFF && m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC)
            return i;
    }
    return -1;
}

QByteArray WithJpegSize(QByteArray jpeg, int w, int h)
{
    const qsizetype at = SofAt(jpeg);
    EXPECT_GT(at, 0);
    jpeg[at + 5] = char(h >> 8);
    jpeg[at + 6] = char(h);
    jpeg[at + 7] = char(w >> 8);
    jpeg[at + 8] = char(w);
    return jpeg;
}

void Put32(QByteArray& b, int at, int32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(uint32_t(v) >> (8 * i));
}

const QString kName = QStringLiteral("holiday.jpg");

} // namespace

// ---- BMP ----------------------------------------------------------------------------------

TEST(PictureBmp, ReadsTheVariantsOtherProgramsWrite)
{
    struct Case {
        const char* file;
        int tolerance;
        bool checker; // black and white: white top left and bottom right
    };
    const Case cases[] = {
        {"bmp1.bmp", 0, true},       {"bmp4.bmp", 0, false},      {"bmp8.bmp", 0, false},
        {"bmp8_rle.bmp", 0, false},  {"bmp16_555.bmp", 0, false}, {"bmp16_565.bmp", 0, false},
        {"bmp24.bmp", 0, false},     {"bmp24_topdown.bmp", 0, false}, {"bmp32.bmp", 0, false},
        {"bmp32_v5.bmp", 0, false},  {"bmp_os2.bmp", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const PictureResult r = DecodeBmp(Fixture(c.file), c.file);
        ASSERT_TRUE(r.ok()) << r.message.toStdString();
        EXPECT_TRUE(r.message.isEmpty());
        EXPECT_EQ(r.image.format(), QImage::Format_RGB888);
        EXPECT_EQ(r.image.size(), QSize(30, 20));
        if (c.checker)
            ExpectQuadrants(r.image, 0, kWhite, kBlack, kBlack, kWhite);
        else
            ExpectQuadrants(r.image, c.tolerance);
    }
    // The 8-bit pictures end in a grey ramp, so they need a real 256-entry palette.
    for (const char* file : {"bmp8.bmp", "bmp8_rle.bmp"}) {
        const QImage img = DecodeBmp(Fixture(file), file).image;
        EXPECT_TRUE(Near(img, 0, 19, kBlack, 0)) << file;
        EXPECT_TRUE(Near(img, 29, 19, {232, 232, 232}, 0)) << file;
    }
}

TEST(PictureBmp, SixteenBitChannelsWidenByCopyingTheirTopBits)
{
    // Rows of red, green, blue and grey through every 5-bit level (and every 6-bit one for the
    // green of 5-6-5): a channel of n bits widens to 8 with its top bits copied below, so the
    // full level is 255 and no band of levels reads darker than it is.
    auto w5 = [](int v) { return v << 3 | v >> 2; };
    auto w6 = [](int v) { return v << 2 | v >> 4; };
    QByteArray plain555 = Fixture("bmp16_555_ramp.bmp");
    Put32(plain555, 30, 0); // BI_RGB: no masks given, so 5-5-5
    struct Case {
        const char* name;
        QByteArray bytes;
        bool sixBitGreen;
    };
    const Case cases[] = {
        {"5-6-5 bit fields", Fixture("bmp16_565_ramp.bmp"), true},
        {"5-5-5 bit fields", Fixture("bmp16_555_ramp.bmp"), false},
        {"5-5-5 without bit fields", plain555, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PictureResult r = DecodeBmp(c.bytes, c.name);
        ASSERT_TRUE(r.ok()) << r.message.toStdString();
        ASSERT_EQ(r.image.size(), QSize(64, 4));
        for (int x = 0; x < 64; ++x) {
            const int v = w5(x / 2);
            const int g = c.sixBitGreen ? w6(x) : w5(x / 2);
            EXPECT_TRUE(Near(r.image, x, 0, {v, 0, 0}, 0));
            EXPECT_TRUE(Near(r.image, x, 1, {0, g, 0}, 0));
            EXPECT_TRUE(Near(r.image, x, 2, {0, 0, v}, 0));
            EXPECT_TRUE(Near(r.image, x, 3, {v, g, v}, 0));
        }
        // Level 16 of 31 is 132: above the threshold, so the dot lights.
        QImage lit = r.image;
        mx::ThresholdImage(lit, 3);
        EXPECT_TRUE(Near(lit, 32, 0, kRed, 0));
        EXPECT_TRUE(Near(lit, 30, 0, kBlack, 0));
    }
}

TEST(PictureBmp, EveryTruncationFailsCleanly)
{
    for (const char* file : {"bmp24.bmp", "bmp1.bmp", "bmp8_rle.bmp", "bmp32_v5.bmp", "bmp_os2.bmp", "bmp16_565_ramp.bmp"}) {
        SCOPED_TRACE(file);
        const QByteArray whole = Fixture(file);
        const bool rle = QByteArray(file).contains("rle");
        for (qsizetype n = 0; n < whole.size(); ++n) {
            const PictureResult r = DecodeBmp(whole.left(n), file);
            if (rle && n >= whole.size() - 2) {
                // Only the end-of-bitmap code is missing; every row is there.
                EXPECT_TRUE(r.ok()) << n << ": " << r.message.toStdString();
                continue;
            }
            EXPECT_FALSE(r.ok()) << "prefix of " << n << " bytes";
            EXPECT_TRUE(r.message.startsWith(QLatin1String(file))) << r.message.toStdString();
        }
        EXPECT_TRUE(DecodeBmp(whole, file).ok());
    }
    ExpectFailure(DecodeBmp(Fixture("bmp24.bmp").chopped(1), "a.bmp"), "a.bmp", "ends before the picture is complete");
}

TEST(PictureBmp, RefusesHugeAndBrokenHeaders)
{
    struct Case {
        int32_t width, height;
        const char* mention;
    };
    const Case sizes[] = {
        {30001, 20, "at most 30000 x 30000 and 200 megapixels"},
        {20, -30001, "at most"},                     // top-down, still too tall
        {20000, 20000, "at most"},                   // 400 megapixels
        {14000, 14000, "ends before the picture"},   // allowed size, but the file is tiny
        {0, 20, "no pixels"},
        {30, 0, "no pixels"},
    };
    for (const Case& c : sizes) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        QByteArray b = Fixture("bmp24.bmp");
        Put32(b, 18, c.width);
        Put32(b, 22, c.height);
        ExpectFailure(DecodeBmp(b, "huge.bmp"), "huge.bmp", c.mention);
    }

    QByteArray oddDepth = Fixture("bmp24.bmp");
    oddDepth[28] = 7;
    QByteArray unknownCompression = Fixture("bmp24.bmp");
    unknownCompression[30] = 9;
    QByteArray rleOnTrueColour = Fixture("bmp24.bmp");
    rleOnTrueColour[30] = 1;
    const QByteArray broken[] = {
        oddDepth, unknownCompression, rleOnTrueColour, QByteArray("BM"), QByteArray("BM\0\0\0\0\0\0\0\0\0\0\0\0", 14),
        Fixture("baseline.jpg"),     QByteArray(200, 'x'),
    };
    for (const QByteArray& b : broken) {
        const PictureResult r = DecodeBmp(b, "broken.bmp");
        EXPECT_FALSE(r.ok()) << b.left(16).toHex().toStdString();
        EXPECT_TRUE(r.message.startsWith(QLatin1String("broken.bmp: "))) << r.message.toStdString();
    }
    ExpectFailure(DecodeBmp(QByteArray(), "empty.bmp"), "empty.bmp", "empty");
}

// ---- JPEG ---------------------------------------------------------------------------------

TEST(PictureJpeg, ReadsTheVariantsOtherProgramsWrite)
{
    struct Case {
        const char* file;
        Rgb tl, tr, bl, br;
    };
    const Case cases[] = {
        {"baseline.jpg", kRed, kGreen, kBlue, kWhite},
        {"progressive.jpg", kRed, kGreen, kBlue, kWhite},
        {"arithmetic.jpg", kRed, kGreen, kBlue, kWhite},
        {"ycck.jpg", kRed, kGreen, kBlue, kWhite},
        {"grey.jpg", kRedY, kGreenY, kBlueY, kWhite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const PictureResult r = DecodeJpeg(Fixture(c.file), QSize(), c.file);
        ASSERT_TRUE(r.ok()) << r.message.toStdString();
        EXPECT_TRUE(r.message.isEmpty());
        EXPECT_EQ(r.image.format(), QImage::Format_RGB888);
        EXPECT_EQ(r.image.size(), QSize(30, 20));
        ExpectQuadrants(r.image, 40, c.tl, c.tr, c.bl, c.br);
    }
}

TEST(PictureJpeg, ConvertsEveryColourSpaceToRgb)
{
    struct Case {
        const char* what;
        JpegOptions options;
        bool grey;
    };
    const Case cases[] = {
        {"YCbCr without JFIF or EXIF", {.kind = JpegKind::YCbCr, .jfif = false, .fullChroma = true}, false},
        {"greyscale", {.kind = JpegKind::Grey}, true},
        {"Adobe CMYK, stored inverted", {.kind = JpegKind::AdobeCmyk}, false},
        {"CMYK without an Adobe marker", {.kind = JpegKind::PlainCmyk}, false},
        {"Adobe YCCK", {.kind = JpegKind::Ycck}, false},
        {"progressive CMYK", {.kind = JpegKind::AdobeCmyk, .progressive = true}, false},
    };
    const QImage picture = Quadrants(64, 48);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PictureResult r = DecodeJpeg(MakeJpeg(picture, c.options), QSize(), kName);
        ASSERT_TRUE(r.ok()) << r.message.toStdString();
        EXPECT_EQ(r.image.size(), QSize(64, 48));
        if (c.grey)
            ExpectQuadrants(r.image, 24, kRedY, kGreenY, kBlueY, kWhite);
        else
            ExpectQuadrants(r.image, 24);
    }
}

TEST(PictureJpeg, ScalesWhileDecodingToAtLeastTheTarget)
{
    struct Case {
        QSize picture, target, decoded;
    };
    const Case cases[] = {
        {{800, 600}, QSize(), {800, 600}},         // no target: full size
        {{800, 600}, {64, 32}, {100, 75}},         // 1/8
        {{800, 600}, {100, 75}, {100, 75}},        // 1/8, exactly the target
        {{800, 600}, {101, 75}, {200, 150}},       // 1/4
        {{800, 600}, {128, 96}, {200, 150}},       // 1/4
        {{800, 600}, {400, 300}, {400, 300}},      // 1/2, exactly the target
        {{800, 600}, {401, 300}, {800, 600}},      // nothing smaller is big enough
        {{800, 600}, {64, 500}, {800, 600}},       // one direction is enough to prevent scaling
        {{800, 600}, {1024, 1024}, {800, 600}},    // larger than the picture
        {{801, 601}, {64, 32}, {101, 76}},         // scaled sizes round up
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.picture.width() << "x" << c.picture.height() << " into "
                                        << c.target.width() << "x" << c.target.height());
        const PictureResult r = DecodeJpeg(MakeJpeg(Quadrants(c.picture.width(), c.picture.height())), c.target, kName);
        ASSERT_TRUE(r.ok()) << r.message.toStdString();
        EXPECT_EQ(r.image.size(), c.decoded);
        ExpectQuadrants(r.image, 24);
    }
    // Progressive and greyscale pictures scale too.
    const QImage big = Quadrants(640, 480);
    EXPECT_EQ(DecodeJpeg(MakeJpeg(big, {.progressive = true}), {64, 32}, kName).image.size(), QSize(80, 60));
    EXPECT_EQ(DecodeJpeg(MakeJpeg(big, {.kind = JpegKind::Grey}), {64, 32}, kName).image.size(), QSize(80, 60));
}

TEST(PictureJpeg, EveryTruncationFailsCleanly)
{
    // Cutting the end marker off is forgiven: every pixel is there.
    const std::pair<const char*, QByteArray> files[] = {
        {"baseline.jpg", Fixture("baseline.jpg")},
        {"progressive.jpg", Fixture("progressive.jpg")},
        {"ycck.jpg", Fixture("ycck.jpg")},
        {"multi-row.jpg", MakeJpeg(mxtest::PhotoLike(64, 64), {.quality = 75})},
        {"multi-row-progressive.jpg", MakeJpeg(mxtest::PhotoLike(64, 64), {.quality = 75, .progressive = true})},
        // Flat areas end their scans in long runs of empty blocks, read without further bits.
        {"flat-progressive.jpg", MakeJpeg(Quadrants(64, 256), {.progressive = true})},
    };
    for (const auto& [name, whole] : files) {
        SCOPED_TRACE(name);
        const QString fileName = QLatin1String(name);
        ASSERT_TRUE(DecodeJpeg(whole, QSize(), fileName).ok());
        const PictureResult noEnd = DecodeJpeg(whole.chopped(2), QSize(), fileName);
        EXPECT_TRUE(noEnd.ok()) << noEnd.message.toStdString();
        for (qsizetype n = 0; n < whole.size() - 2; ++n) {
            const PictureResult r = DecodeJpeg(whole.left(n), QSize(), fileName);
            EXPECT_FALSE(r.ok()) << "prefix of " << n << " of " << whole.size() << " bytes";
            EXPECT_TRUE(r.message.startsWith(fileName + QLatin1String(": "))) << r.message.toStdString();
        }
    }
    ExpectFailure(DecodeJpeg(Fixture("baseline.jpg").left(700), QSize(), kName), kName,
                  "ends before the picture is complete");
    // Arithmetic data cannot tell a cut in its last row of blocks, so only cuts before it count.
    const QByteArray arith = MakeJpeg(mxtest::PhotoLike(64, 256), {.arithmetic = true});
    for (const qsizetype n : {arith.size() / 4, arith.size() / 2, arith.size() * 3 / 4})
        ExpectFailure(DecodeJpeg(arith.left(n), QSize(), kName), kName, "ends before the picture is complete");
    EXPECT_TRUE(DecodeJpeg(arith.chopped(2), QSize(), kName).ok());
}

TEST(PictureJpeg, RefusesHugeDeclaredSizesBeforeDecoding)
{
    struct Case {
        int width, height;
        const char* mention;
    };
    const Case cases[] = {
        {30001, 16, "the picture is 30001 x 16 pixels; at most 30000 x 30000 and 200 megapixels"},
        {16, 30001, "at most"},
        {20000, 20000, "at most"},       // 400 megapixels
        {14000, 14000, "ends before"},   // an allowed size no 919-byte file can fill
        {30000, 6666, "ends before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        for (const char* file : {"baseline.jpg", "progressive.jpg"})
            ExpectFailure(DecodeJpeg(WithJpegSize(Fixture(file), c.width, c.height), {64, 32}, kName), kName,
                          c.mention);
    }
    // Arithmetic coding may drop the zeros at its end, so a tiny file can honestly describe a
    // huge flat picture. The memory cap and the scaling bound what it costs.
    const QByteArray arith = MakeJpeg(Quadrants(64, 64), {.progressive = true, .arithmetic = true, .fullChroma = true});
    ExpectFailure(DecodeJpeg(WithJpegSize(arith, 30000, 6666), {64, 32}, kName), kName, "more memory than allowed");
    const QByteArray arithBaseline = MakeJpeg(Quadrants(64, 64), {.arithmetic = true});
    EXPECT_EQ(DecodeJpeg(WithJpegSize(arithBaseline, 12000, 12000), {64, 32}, kName).image.size(), QSize(1500, 1500));
    // Without its end marker the same file is known to be cut short.
    ExpectFailure(DecodeJpeg(WithJpegSize(arithBaseline, 12000, 12000).chopped(2), {64, 32}, kName), kName,
                  "ends before");
}

TEST(PictureJpeg, StopsAPictureWithAbsurdlyManyScans)
{
    // One greyscale component: the DC scan, then every AC coefficient on its own, refined bit
    // by bit from bit `firstBit` down.
    auto scans = [](int firstBit) {
        std::vector<jpeg_scan_info> s;
        s.push_back({1, {0}, 0, 0, 0, 0});
        for (int k = 1; k < 64; ++k) {
            s.push_back({1, {0}, k, k, 0, firstBit});
            for (int bit = firstBit; bit > 0; --bit)
                s.push_back({1, {0}, k, k, bit, bit - 1});
        }
        return s;
    };
    const QImage picture = mxtest::PhotoLike(48, 32);
    const std::vector<jpeg_scan_info> manageable = scans(2), absurd = scans(4);
    ASSERT_EQ(manageable.size(), 190u);
    ASSERT_EQ(absurd.size(), 316u);
    const PictureResult ok = DecodeJpeg(MakeJpeg(picture, {.kind = JpegKind::Grey, .scans = manageable}), QSize(), kName);
    EXPECT_TRUE(ok.ok()) << ok.message.toStdString();
    ExpectFailure(DecodeJpeg(MakeJpeg(picture, {.kind = JpegKind::Grey, .scans = absurd}), QSize(), kName), kName,
                  "more than 256 scans");
}

TEST(PictureJpeg, RefusesWhatIsNotAJpeg)
{
    QByteArray noComponents = Fixture("baseline.jpg");
    noComponents[SofAt(noComponents) + 9] = 0;
    const std::pair<QByteArray, const char*> cases[] = {
        {Fixture("bmp24.bmp"), "Not a JPEG file"},
        {QByteArray("\xFF\xD8", 2), "ends before"},
        {QByteArray("\xFF\xD8\xFF\xD9", 4), "not a readable JPEG picture"},
        {noComponents, "not a readable JPEG picture"},
        {QByteArray(), "the file is empty"},
    };
    for (const auto& [bytes, mention] : cases) {
        SCOPED_TRACE(mention);
        ExpectFailure(DecodeJpeg(bytes, QSize(), kName), kName, mention);
    }
}

// Damaged bytes anywhere: a picture or a message, never a crash or a picture of the wrong size.
TEST(PictureDecoders, SurviveRandomDamage)
{
    const std::pair<const char*, bool> files[] = {
        {"baseline.jpg", true}, {"progressive.jpg", true}, {"arithmetic.jpg", true}, {"ycck.jpg", true},
        {"bmp24.bmp", false},   {"bmp8_rle.bmp", false},   {"bmp16_565.bmp", false}, {"bmp32_v5.bmp", false},
    };
    uint32_t seed = 1;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (const auto& [file, jpeg] : files) {
        SCOPED_TRACE(file);
        const QByteArray whole = Fixture(file);
        for (int round = 0; round < 300; ++round) {
            QByteArray b = whole;
            const int hits = 1 + int(next() % 4);
            for (int i = 0; i < hits; ++i)
                b[qsizetype(next() % uint32_t(b.size()))] = char(next());
            const PictureResult r = jpeg ? DecodeJpeg(b, {8, 8}, file) : DecodeBmp(b, file);
            if (r.ok()) {
                EXPECT_EQ(r.image.format(), QImage::Format_RGB888);
                EXPECT_LE(int64_t(r.image.width()) * r.image.height(), mx::kMaxPicturePixels);
            } else {
                EXPECT_TRUE(r.message.startsWith(QLatin1String(file))) << r.message.toStdString();
            }
        }
    }
}

// ---- BMP writing --------------------------------------------------------------------------

TEST(PictureBmpEncode, WritesTheClassicHeaderAndBottomUpRows)
{
    QImage img(3, 2, QImage::Format_RGB888);
    img.setPixel(0, 0, 0x102030);
    img.setPixel(1, 0, 0x405060);
    img.setPixel(2, 0, 0x708090);
    img.setPixel(0, 1, 0xA0B0C0);
    img.setPixel(1, 1, 0xD0E0F0);
    img.setPixel(2, 1, 0x010203);
    const QByteArray bmp = EncodeBmp24(img);
    const QByteArray expected = QByteArray::fromHex(
        "424d" "4e000000" "0000" "0000" "36000000"                  // file header: size 78, pixels at 54
        "28000000" "03000000" "02000000" "0100" "1800"              // 40-byte info header, 3 x 2, 24 bits
        "00000000" "18000000" "00000000" "00000000" "00000000" "00000000"
        "c0b0a0" "f0e0d0" "030201" "000000"                         // bottom row first, blue first, padded
        "302010" "605040" "908070" "000000");
    EXPECT_EQ(bmp.toHex().toStdString(), expected.toHex().toStdString());

    // The same pixels in another format give the same bytes; a null picture gives none.
    EXPECT_EQ(EncodeBmp24(img.convertToFormat(QImage::Format_ARGB32)), bmp);
    EXPECT_EQ(EncodeBmp24(img), bmp);
    EXPECT_TRUE(EncodeBmp24(QImage()).isEmpty());
}

TEST(PictureBmpEncode, LaysOutPixelsLikeAnotherWriterAndReadsBack)
{
    const QByteArray theirs = Fixture("bmp24.bmp");
    const PictureResult read = DecodeBmp(theirs, "bmp24.bmp");
    ASSERT_TRUE(read.ok());
    const QByteArray ours = EncodeBmp24(read.image);
    ASSERT_EQ(ours.size(), theirs.size());
    EXPECT_EQ(ours.mid(54), theirs.mid(54)) << "pixel data differs from ImageMagick's";
    EXPECT_EQ(ours.left(38), theirs.left(38)) << "header up to the resolution fields";

    for (const QSize size : {QSize(1, 1), QSize(2, 3), QSize(4, 4), QSize(33, 7)}) {
        const QImage img = mxtest::PhotoLike(size.width(), size.height());
        const QByteArray bmp = EncodeBmp24(img);
        EXPECT_EQ(bmp.size(), 54 + ((size.width() * 3 + 3) / 4 * 4) * size.height());
        const PictureResult back = DecodeBmp(bmp, "back.bmp");
        ASSERT_TRUE(back.ok()) << back.message.toStdString();
        EXPECT_EQ(back.image, img) << size.width() << "x" << size.height();
    }
}

// ---- Stretching ---------------------------------------------------------------------------

TEST(PictureStretch, SqueezesTheWholePictureWithoutCropping)
{
    const QImage out = StretchTo(Quadrants(320, 240), 64, 32);
    EXPECT_EQ(out.size(), QSize(64, 32));
    EXPECT_EQ(out.format(), QImage::Format_RGB888);
    // Every corner still shows its quadrant: nothing was cut off or padded.
    EXPECT_TRUE(Near(out, 0, 0, kRed, 0));
    EXPECT_TRUE(Near(out, 63, 0, kGreen, 0));
    EXPECT_TRUE(Near(out, 0, 31, kBlue, 0));
    EXPECT_TRUE(Near(out, 63, 31, kWhite, 0));
    ExpectQuadrants(out, 0);
}

TEST(PictureStretch, SmoothsWhenShrinkingAndRepeatsDotsWhenEnlarging)
{
    QImage stripes(8, 2, QImage::Format_RGB888); // black and white columns
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 2; ++y)
            stripes.setPixel(x, y, x % 2 ? 0xFFFFFF : 0x000000);

    const QImage shrunk = StretchTo(stripes, 4, 2);
    EXPECT_TRUE(Near(shrunk, 1, 0, {128, 128, 128}, 16)) << "averaged, not picked";

    const QImage grown = StretchTo(stripes, 32, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_TRUE(Near(grown, x, y, (x / 4) % 2 ? kWhite : kBlack, 0)) << "crisp 4x4 dots";

    // Narrower but taller: columns are averaged, rows are repeated exactly.
    const QImage mixed = StretchTo(stripes, 4, 6);
    EXPECT_EQ(mixed.size(), QSize(4, 6));
    EXPECT_TRUE(Near(mixed, 2, 0, {128, 128, 128}, 16));
    for (int y = 1; y < 6; ++y)
        EXPECT_EQ(0, memcmp(mixed.constScanLine(0), mixed.constScanLine(y), 4 * 3));

    EXPECT_EQ(StretchTo(stripes, 8, 2), stripes) << "same size: unchanged";
    const QImage fromArgb = StretchTo(stripes.convertToFormat(QImage::Format_ARGB32), 16, 4);
    EXPECT_EQ(fromArgb.format(), QImage::Format_RGB888);
}

TEST(PictureStretch, NoPictureGivesBlackAndNoAreaGivesNothing)
{
    const QImage black = StretchTo(QImage(), 16, 8);
    ASSERT_EQ(black.size(), QSize(16, 8));
    EXPECT_EQ(black.format(), QImage::Format_RGB888);
    EXPECT_TRUE(Near(black, 15, 7, kBlack, 0));
    EXPECT_TRUE(StretchTo(Quadrants(4, 4), 0, 8).isNull());
    EXPECT_TRUE(StretchTo(Quadrants(4, 4), 8, -1).isNull());
}

// ---- Files --------------------------------------------------------------------------------

class PictureFile : public testing::Test {
protected:
    QString Put(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(PictureFile, TheExtensionDecidesInAnyLetterCase)
{
    const QByteArray jpeg = Fixture("baseline.jpg"), bmp = Fixture("bmp24.bmp");
    struct Case {
        const char* name;
        const QByteArray& bytes;
        bool ok;
    };
    const Case cases[] = {
        {"a.jpg", jpeg, true},        {"b.JPG", jpeg, true},  {"c.JpG", jpeg, true},
        {"d.bmp", bmp, true},         {"e.BMP", bmp, true},   {"f.jpeg", jpeg, true},
        {"f2.JPEG", jpeg, true},      {"f3.jpe", jpeg, false},
        {"g.png", bmp, false},        {"jpg", jpeg, false},   {"h.bmp.txt", bmp, false},
        {"i.jpg.bmp", jpeg, false},   // read as BMP: the content does not decide
        {"j.bmp.jpg", jpeg, true},    {"k.jpg", bmp, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = Put(QLatin1String(c.name), c.bytes);
        const PictureResult r = LoadPictureFile(path, QSize());
        EXPECT_EQ(r.ok(), c.ok) << r.message.toStdString();
        if (r.ok())
            ExpectQuadrants(r.image, 40);
        else
            EXPECT_TRUE(r.message.startsWith(path + QLatin1String(": "))) << r.message.toStdString();
    }
    EXPECT_TRUE(LoadPictureFile(Put("l.png", jpeg), QSize()).message.contains(QLatin1String("only .jpg, .jpeg and .bmp")));
}

TEST_F(PictureFile, PassesTheTargetToTheJpegDecoder)
{
    const QString path = Put("photo.jpg", MakeJpeg(mxtest::PhotoLike(800, 600)));
    EXPECT_EQ(LoadPictureFile(path, QSize(64, 32)).image.size(), QSize(100, 75));
    EXPECT_EQ(LoadPictureFile(path, QSize()).image.size(), QSize(800, 600));
    EXPECT_EQ(LoadPictureFile(Put("p.bmp", Fixture("bmp24.bmp")), QSize(8, 8)).image.size(), QSize(30, 20));
}

TEST_F(PictureFile, RefusesWhatCannotBeReadWithoutBlocking)
{
    ExpectFailure(LoadPictureFile(dir.filePath("missing.jpg"), QSize()), dir.filePath("missing.jpg"), "does not exist");

    const QString folder = dir.filePath("folder.jpg");
    ASSERT_TRUE(QDir().mkdir(folder));
    ExpectFailure(LoadPictureFile(folder, QSize()), folder, "not a regular file");

    // Opening a pipe without a writer would wait for ever.
    const QString fifo = dir.filePath("pipe.bmp");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    ExpectFailure(LoadPictureFile(fifo, QSize()), fifo, "not a regular file");

    // A sparse file: refused by its size, without reading it.
    const QString big = Put("big.jpg", Fixture("baseline.jpg"));
    ASSERT_TRUE(QFile::resize(big, mx::kMaxPictureFileBytes + 1));
    ExpectFailure(LoadPictureFile(big, QSize()), big, "larger than 256 MiB");
    ASSERT_TRUE(QFile::resize(big, mx::kMaxPictureFileBytes)); // as large as allowed: zeros after the end
    EXPECT_EQ(LoadPictureFile(big, QSize(8, 8)).image.size(), QSize(15, 10)) << "30 x 20 at 1/2";

    const QString unreadable = Put("secret.bmp", Fixture("bmp24.bmp"));
    QFile::setPermissions(unreadable, QFileDevice::Permissions());
    if (!QFile(unreadable).open(QIODevice::ReadOnly)) // root reads it anyway
        ExpectFailure(LoadPictureFile(unreadable, QSize()), unreadable, "cannot be opened");
}
