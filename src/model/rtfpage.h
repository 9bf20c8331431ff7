// A formatted document shown as bitmaps: the renderer turns it into LED pages of the page's
// area, and each LED page goes to a program slot of its own.
#pragma once

#include "model/sendmsg.h"

#include <QByteArray>
#include <QList>

namespace mx {

constexpr int kMaxRtfSlots = 30;
constexpr int kProgramSlots = 80;

// The default document: 欢迎您！ in red, 宋体 10.5 pt; 279 bytes with its trailing zero.
QByteArray DefaultRtfDocument();

class TLCMRtf : public TLCMSendMsg {
public:
    TLCMRtf();

    QString GetName() const override;
    void FillPayload() override;
    void BuildPacket() override;
    int GetBlockCount() override;
    int GetSlotCount() override;
    void Prepare() override;
    void WriteToFile(RecordWriter& out) const override;
    bool ReadFromFile(RecordReader& in) override;

    QByteArray& Document() { return document_; }
    const QByteArray& Document() const { return document_; }
    void SetNameFromText(const QString& text);

    const QByteArray* GetLedPage(int index) const;
    void AddLedPage(QByteArray data) { ledPages_.append(std::move(data)); }
    void ClearLedPages() { ledPages_.clear(); }
    int LedPageEntries() const { return int(ledPages_.size()); }
    void Reset();

    int32_t ledPageCount = 1;
    uint8_t pagingDirection = 0; // 0 horizontal, 1 vertical
    QString name;

private:
    int BlocksPerLedPage() const;

    QByteArray document_;
    QList<QByteArray> ledPages_;
};

} // namespace mx
