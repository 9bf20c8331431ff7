#include "model/imagepage.h"

#include <algorithm>

namespace mx {

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
