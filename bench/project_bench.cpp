// Loading and saving a full project: one 128 x 32 two-colour screen with 80 pages of every
// kind the tool adds (pictures and rich text among them).
#include "model/imagepage.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"
#include "peak_memory.h"
#include "render/picture_page.h"
#include "storage/project_file.h"

#include <QGuiApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using namespace mx;

const TLCMPanels& Project()
{
    static TLCMPanels project;
    if (project.Count() == 0) {
        TLCMPanel* s = project.AddPanel();
        s->name = project.NextFreeScreenName();
        s->params = {16, 4, 2};
        ResetToSingle(*s);
        const uint16_t kinds[] = {KindText, KindRtf, KindImage, KindTimer, KindTemperature, KindConter};
        for (int i = 0; i < 80; ++i) {
            TLCMSendMsg* page = s->units->Append(kinds[i % 6]);
            if (page->kind == KindText)
                static_cast<TLCMText*>(page)->lines = {QStringLiteral("第%1页 page text").arg(i)};
            if (page->kind == KindImage) {
                QImage pic(128, 32, QImage::Format_RGB888);
                pic.fill(QColor(200, i * 3, 40));
                static_cast<TLCMImage*>(page)->SetPicture(pic);
                ConvertPicture(*static_cast<TLCMImage*>(page), s->params);
            }
        }
    }
    return project;
}

void BM_SaveProject(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.lcm");
    qint64 bytes = 0;
    for (auto _ : state) {
        const StorageResult r = SaveProject(Project(), path);
        benchmark::DoNotOptimize(r.ok);
        bytes = QFileInfo(path).size();
    }
    state.counters["bytes"] = double(bytes);
}

void BM_LoadProject(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.lcm");
    SaveProject(Project(), path);
    double peak = 0;
    for (auto _ : state) {
        peak = mxbench::PeakMiB([&] {
            TLCMPanels loaded;
            const StorageResult r = LoadProject(path, loaded);
            benchmark::DoNotOptimize(r.ok);
        });
    }
    state.counters["peak_MiB"] = peak;
}

BENCHMARK(BM_SaveProject)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadProject)->Unit(benchmark::kMillisecond);

} // namespace

#include "gui_main.h"
