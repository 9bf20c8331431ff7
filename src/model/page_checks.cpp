#include "model/page_checks.h"

#include "model/imagepage.h"
#include "model/rtfpage.h"

namespace mx {

QString PageRefusal(const TLCMSendMsg& page)
{
    auto tooLarge = [](const char* what, qsizetype bytes) {
        return QStringLiteral("its %1 takes %2 bytes; the card addresses at most %3 bytes of one")
            .arg(QLatin1String(what))
            .arg(bytes)
            .arg(kMaxLedPageBytes);
    };
    switch (page.kind) {
    case KindText:
    case KindTimer:
    case KindTemperature:
    case KindConter:
        return {};
    case KindImage: {
        const qsizetype n = static_cast<const TLCMImage&>(page).DisplayData().size();
        return n > kMaxLedPageBytes ? tooLarge("picture data", n) : QString();
    }
    case KindRtf: {
        const auto& rtf = static_cast<const TLCMRtf&>(page);
        for (int i = 0; i < rtf.LedPageEntries(); ++i)
            if (rtf.GetLedPage(i)->size() > kMaxLedPageBytes)
                return tooLarge("LED page", rtf.GetLedPage(i)->size());
        return {};
    }
    case KindTimerEx:
        return QStringLiteral("the card cannot show a dial page");
    default:
        return QStringLiteral("the card has no use for a page of kind 0x%1").arg(page.kind, 4, 16, QChar(u'0'));
    }
}

} // namespace mx
