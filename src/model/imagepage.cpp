#include "model/imagepage.h"

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

TLCMImage::TLCMImage()
{
    kind = KindImage;
    SetU8(Rec::DisplayType, DisplayPicture);
}

QString TLCMImage::GetName() const { return QStringLiteral("图片"); }
void TLCMImage::Prepare() {}
int TLCMImage::GetSlotCount() { return 1; }

int TLCMImage::GetBlockCount()
{
    return int((displayData_.size() + kBlockSize - 1) / kBlockSize);
}

void TLCMImage::SetDisplayData(QByteArray data)
{
    displayData_ = std::move(data);
    payloadSize = int32_t(displayData_.size());
}

void TLCMImage::ClearPicture(const ParamRecord& params, int width, int height)
{
    picture_ = QImage(std::max(0, width), std::max(0, height), QImage::Format_RGB888);
    picture_.fill(Qt::black);
    storedBmp_.clear();
    ConvertPicture(params);
}

void TLCMImage::ConvertPicture(const ParamRecord& params)
{
    const QImage before = picture_;
    ThresholdImage(picture_, params[Param::ColourType]);
    if (picture_ != before)
        storedBmp_.clear();
    SetDisplayData(picture_.isNull() ? QByteArray() : ImageToPlanes(picture_, params[Param::ColourType]));
}

void TLCMImage::FillPayload()
{
    SetU8(Rec::PageIndex, 0);
    SetU8(Rec::LastPageIndex, 0);
    FillBlockFrom(reinterpret_cast<const uint8_t*>(displayData_.constData()), int(displayData_.size()),
                  blockIndex * kBlockSize);
}

void TLCMImage::BuildPacket()
{
    if (blockIndex > 0)
        BuildContinuation(uint16_t(blockIndex * kBlockSize));
    else
        TLCMSendMsg::BuildPacket();
}

} // namespace mx
