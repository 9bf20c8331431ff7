#include "model/imagepage.h"
#include "picture_jpeg_writer.h"
#include "render/picture_page.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace mx;

namespace {

class PicturePage : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.path() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QString writeBmp(const QString& name, const QImage& img)
    {
        const QString path = dir.path() + "/" + name;
        EXPECT_TRUE(img.save(path, "BMP"));
        return path;
    }
    // Left half red, right half blue: what survives a squeeze is easy to see.
    static QImage halves(int w, int h)
    {
        QImage img(w, h, QImage::Format_RGB888);
        img.fill(Qt::red);
        for (int y = 0; y < h; ++y)
            for (int x = w / 2; x < w; ++x)
                img.setPixelColor(x, y, Qt::blue);
        return img;
    }
    QTemporaryDir dir;
    TLCMImage page;
};

TEST_F(PicturePage, PictureIsSqueezedNotCropped)
{
    const QString path = writeBmp("wide.bmp", halves(320, 240));
    const auto r = LoadPicture(page, path, {8, 4, 3}, 64, 32);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(page.Picture().size(), QSize(64, 32));
    EXPECT_EQ(page.Picture().pixelColor(2, 16), QColor(Qt::red));
    EXPECT_EQ(page.Picture().pixelColor(61, 16), QColor(Qt::blue));
    EXPECT_EQ(page.DisplayData().size(), 64 * 32 / 8 * 3);
}

TEST_F(PicturePage, ExtensionDecidesTheDecoder)
{
    const QByteArray jpeg = mxtest::MakeJpeg(halves(64, 32));
    struct Case { const char* name; bool ok; };
    for (auto c : {Case{"a.jpg", true}, Case{"b.JPG", true}, Case{"c.jpeg", true}, Case{"e.JPEG", true},
                   Case{"f.Jpeg", true}, Case{"d.png", false}, Case{"g.jpe", false}, Case{"jpeg", false}}) {
        TLCMImage p;
        const auto r = LoadPicture(p, write(c.name, jpeg), {8, 4, 1}, 64, 32);
        EXPECT_EQ(r.ok, c.ok) << c.name;
        EXPECT_EQ(p.DisplayData().isEmpty(), !c.ok) << c.name;
        if (!c.ok) {
            EXPECT_FALSE(r.message.isEmpty());
        }
    }
}

TEST_F(PicturePage, BrokenFileKeepsThePictureButSendsNothing)
{
    ClearPicture(page, {8, 4, 1}, 64, 32);
    const QImage before = page.Picture();
    QByteArray cut = mxtest::MakeJpeg(halves(640, 480));
    cut.truncate(cut.size() / 3);
    for (const QString& name : {QStringLiteral("cut.jpg"), QStringLiteral("junk.bmp")}) {
        const auto r = LoadPicture(page, write(name, name.endsWith("bmp") ? QByteArray("BM\x01\x02garbage") : cut),
                                   {8, 4, 1}, 64, 32);
        EXPECT_FALSE(r.ok) << name.toStdString();
        EXPECT_TRUE(r.message.contains(name)) << r.message.toStdString();
        EXPECT_TRUE(page.DisplayData().isEmpty());
        EXPECT_EQ(page.GetBlockCount(), 0);
        EXPECT_EQ(page.Picture(), before);
    }
}

TEST_F(PicturePage, ThresholdAt128)
{
    QImage img(8, 1, QImage::Format_RGB888);
    img.fill(Qt::black);
    img.setPixelColor(0, 0, QColor(128, 0, 0));
    img.setPixelColor(1, 0, QColor(129, 0, 0));
    page.SetPicture(img);
    ASSERT_TRUE(ConvertPicture(page, {1, 1, 1}).ok);
    EXPECT_EQ(page.Picture().pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(page.Picture().pixelColor(1, 0), QColor(255, 0, 0));
    EXPECT_EQ(page.DisplayData(), QByteArray(1, char(0x40)));
}

TEST_F(PicturePage, FitOnlyWhenTheAreaChanged)
{
    ASSERT_TRUE(LoadPicture(page, writeBmp("p.bmp", halves(64, 32)), {8, 4, 1}, 64, 32).ok);
    QByteArray sentinel = page.DisplayData();
    sentinel[0] = char(0x5A); // shows whether the data was made again
    page.SetDisplayData(sentinel);
    EXPECT_TRUE(FitPicture(page, {8, 4, 1}, 64, 32).ok);
    EXPECT_EQ(page.DisplayData(), sentinel);

    ASSERT_TRUE(FitPicture(page, {4, 2, 1}, 32, 16).ok);
    EXPECT_EQ(page.Picture().size(), QSize(32, 16));
    EXPECT_EQ(page.DisplayData().size(), 64);
    EXPECT_EQ(page.Picture().pixelColor(2, 2), QColor(Qt::red));
}

TEST_F(PicturePage, AreaTooLargeForTheCardIsRefused)
{
    // 512 x 384 full colour: 73728 bytes, past what 16-bit block offsets reach.
    const auto r = ClearPicture(page, {64, 48, 3}, 512, 384);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.message.contains("65536")) << r.message.toStdString();
    EXPECT_EQ(page.GetBlockCount(), 0);
    EXPECT_TRUE(ClearPicture(page, {128, 64, 1}, 1024, 512).ok) << "65536 bytes still fit";
    EXPECT_EQ(page.GetBlockCount(), 64);
}

TEST(Planes, ThresholdAndBitOrder)
{
    QImage img(16, 2, QImage::Format_RGB888);
    img.fill(Qt::black);
    img.setPixelColor(0, 0, QColor(129, 0, 0));
    img.setPixelColor(1, 0, QColor(128, 0, 0));
    img.setPixelColor(9, 1, QColor(0, 255, 0));
    img.setPixelColor(15, 1, QColor(0, 0, 200));
    struct Case { int colourType; const char* planes; };
    for (auto c : {Case{1, "8000 0000"}, Case{2, "8000 0000 0000 0040"}, Case{3, "8000 0000 0000 0040 0000 0001"}}) {
        QImage work = img;
        ThresholdImage(work, c.colourType);
        EXPECT_EQ(ImageToPlanes(work, c.colourType).toHex(), QByteArray(c.planes).replace(' ', ""))
            << "colour type " << c.colourType;
    }
    QImage green(8, 1, QImage::Format_RGB888);
    green.fill(QColor(0, 255, 0));
    ThresholdImage(green, 1);
    EXPECT_EQ(ImageToPlanes(green, 1), QByteArray(1, '\0')) << "single colour clears green";
}

} // namespace
