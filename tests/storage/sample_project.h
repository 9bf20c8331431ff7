// A project with a page of every kind, values off their defaults, for storage tests.
#pragma once

#include "model/imagepage.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"
#include "render/picture_page.h"
#include "testutil.h"

namespace mxtest {
using namespace mx;

inline // One screen holding a page of every kind, with values off their defaults.
void fillEveryKind(TLCMPanels& project)
{
    mxtest::FixedClock clock(QDateTime(QDate(2025, 3, 4), QTime(5, 6, 7, 890)));
    TLCMPanel* s = project.AddPanel();
    s->name = project.NextFreeScreenName();
    s->params = {16, 4, 2, 1, 0, uint8_t(-3), 0x42, 1, 0x77, 2, 3, 15, 4};
    s->partition->type = PartitionLR;
    s->partition->ClearRects();
    s->partition->AddRect({0, 0, 64, 32});
    s->partition->AddRect({64, 0, 128, 32});
    s->SetSerialPortNumber(3);

    auto* t = static_cast<TLCMText*>(s->units->InsertInPartition(1, KindText));
    t->lines = {QStringLiteral("第一行"), QString(), QStringLiteral("line 3")};
    t->SetU8(Rec::Effect, 7);
    auto* r = static_cast<TLCMRtf*>(s->units->InsertInPartition(1, KindRtf));
    r->pagingDirection = 1;
    r->ledPageCount = 4;
    r->name = QStringLiteral("标题");
    auto* img = static_cast<TLCMImage*>(s->units->InsertInPartition(2, KindImage));
    QImage pic(64, 32, QImage::Format_RGB888);
    pic.fill(Qt::black);
    pic.setPixelColor(3, 4, Qt::red);
    img->SetPicture(pic);
    ConvertPicture(*img, s->params);
    auto* clk = static_cast<TLCMTimer*>(s->units->InsertInPartition(2, KindTimer));
    clk->SetTemplate(ClockTemplates()[2]);
    clk->SetDialMode(true);
    auto* temp = static_cast<TLCMTemperature*>(s->units->InsertInPartition(2, KindTemperature));
    temp->SetTemplate(QString());
    auto* cnt = static_cast<TLCMConter*>(s->units->InsertInPartition(2, KindConter));
    cnt->digitCount = 5;
    cnt->targetDate = 46000.25;
    cnt->SetU8(Rec::AllDates, 0);
    s->units->InsertInPartition(2, KindTimerEx);
}

} // namespace mxtest
