// One still picture fitted to the page's area, reduced to the screen's colours and sent as
// bit planes to one program slot.
#pragma once

#include "model/hwcommands.h"
#include "model/sendmsg.h"

#include <QByteArray>
#include <QImage>

namespace mx {

class TLCMImage : public TLCMSendMsg {
public:
    TLCMImage();

    QString GetName() const override;
    void FillPayload() override;
    void BuildPacket() override;
    int GetBlockCount() override;
    int GetSlotCount() override;
    void Prepare() override;
    void WriteToFile(RecordWriter& out) const override;
    bool ReadFromFile(RecordReader& in) override;

    // Fitting, thresholding and converting pictures: render/picture_page.h.
    const QImage& Picture() const { return picture_; }
    void SetPicture(QImage image)
    {
        picture_ = std::move(image);
        storedBmp_.clear();
    }
    const QByteArray& DisplayData() const { return displayData_; }
    // The picture as the project file holds it: BMP bytes and the width and height beside them.
    struct Stored {
        QByteArray bmp;
        int32_t width, height;
    };
    Stored StoredPicture() const;
    void SetStoredPicture(const QByteArray& bmp, int32_t width, int32_t height);
    void SetDisplayData(QByteArray data);

    uint8_t reserved = 0;

private:
    // The picture as a project file held it, written back unchanged until the picture changes,
    // so a loaded project saves to the same bytes.
    QByteArray storedBmp_;
    int32_t storedWidth_ = 0, storedHeight_ = 0;
    QImage picture_;
    QByteArray displayData_;
};

} // namespace mx
