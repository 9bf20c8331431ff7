#include "flows/flows.h"
#include "flows/page_render.h"
#include "simfixture.h"
#include "storage/project_json.h"

#include <QFile>
#include <QProcess>

using namespace mx;

namespace {

// What the CLI renders of a page and what the virtual card shows after a real send agree,
// pixel for pixel.
class RenderAgreement : public SimLink {
protected:
    void loadExample(const QString& name)
    {
        const QString dirPath = QStringLiteral(MARQUIX_SOURCE_DIR "/examples");
        QFile f(dirPath + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        TLCMPanels loaded;
        const auto r = ProjectFromJson(f.readAll(), loaded, name, dirPath);
        ASSERT_TRUE(r.ok) << r.message.toStdString();
        project.TakeFrom(loaded);
        screen = project.GetPanel(0);
        screen->SetSerialPortNumber(1);
    }
};

TEST_F(RenderAgreement, CardAndRenderShowTheSamePixels)
{
    loadExample("shop-128x32.json");
    ASSERT_TRUE(screen->Connect(false));
    ASSERT_EQ(screen->WriteParameters(), ParamWriteResult::Ok);
    ASSERT_TRUE(screen->WritePartitions());
    screen->CloseLink();
    const FlowResult sent = SendAllPages(*screen);
    ASSERT_TRUE(sent.ok()) << sent.detail.toStdString();

    int bitmapSlots = 0;
    for (int k = 0; k < screen->units->GetCount(); ++k) {
        TLCMSendMsg* page = screen->units->GetPage(k);
        const int program = page->firstSlot;
        const RenderedPage rendered = RenderPageAsSent(*screen, k);
        if (page->kind != KindRtf && page->kind != KindImage)
            continue;
        ASSERT_TRUE(rendered.ok) << rendered.note.toStdString();
        for (qsizetype j = 0; j < rendered.images.size(); ++j) {
            const QImage onCard = card.RenderSlot(program + int(j)).convertToFormat(QImage::Format_RGB888);
            ASSERT_FALSE(onCard.isNull()) << "slot " << program + j;
            EXPECT_EQ(rendered.images[j], onCard) << "page " << k + 1 << " slot " << program + j;
            ++bitmapSlots;
        }
    }
    EXPECT_EQ(bitmapSlots, 2);

    // The CLI writes the same pictures from the project file.
    const QString lcm = dir.path() + "/shop.lcm";
    ASSERT_TRUE(SaveProject(project, lcm).ok);
    const QString out = dir.path() + "/render";
    QProcess cli;
    cli.start(QStringLiteral(MARQUIX_BINARY_DIR "/marquix-cli"), {"render", lcm, "--out", out});
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    for (int k = 0; k < screen->units->GetCount(); ++k) {
        TLCMSendMsg* page = screen->units->GetPage(k);
        if (page->kind != KindRtf && page->kind != KindImage)
            continue;
        const QImage png(out + QStringLiteral("/page-%1-1.png").arg(k + 1));
        EXPECT_EQ(png.convertToFormat(QImage::Format_RGB888),
                  card.RenderSlot(page->firstSlot).convertToFormat(QImage::Format_RGB888))
            << "page " << k + 1;
    }
}

} // namespace
