// Rendering rich text into LED pages. The editor re-renders on every pause in typing, so a
// 1000-character document should stay under 50 ms.
#include "model/rtfpage.h"
#include "codec/rtf_reader.h"
#include "render/rtf_renderer.h"

#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>
#include <benchmark/benchmark.h>

using namespace mx;

namespace {

void Add(QTextDocument& doc, const QString& text)
{
    QTextCharFormat f;
    f.setFontFamilies({QStringLiteral("宋体")});
    f.setFontPointSize(10.5);
    f.setForeground(QColor(Qt::red));
    QTextCursor c(&doc);
    c.movePosition(QTextCursor::End);
    c.insertText(text, f);
}

void Fill(QTextDocument& doc, int characters)
{
    static const QString sample = QStringLiteral("欢迎光临本店今日特价商品八折优惠 Welcome! ");
    QString text;
    while (text.size() < characters)
        text += sample;
    text.truncate(characters);
    Add(doc, text);
}

void Run(benchmark::State& state, QTextDocument& doc, int w, int h, int colourType, bool vertical)
{
    TRTFDecodeUnit unit;
    TLCMRtf page;
    page.pagingDirection = vertical ? 1 : 0;
    unit.Bind(&doc, ParamRecord{uint8_t(w / 8), uint8_t(h / 8), uint8_t(colourType)}, {0, 0, w, h}, &page);
    int pages = 0;
    for (auto _ : state) {
        const RenderResult r = unit.Render();
        if (!r.ok)
            state.SkipWithError(r.message.toUtf8().constData());
        pages = r.ledPages;
    }
    state.counters["led_pages"] = pages;
}

void BM_DefaultDocument(benchmark::State& state)
{
    QTextDocument doc;
    ReadRtf(DefaultRtfDocument(), doc);
    Run(state, doc, 64, 16, 1, false);
}
BENCHMARK(BM_DefaultDocument)->Unit(benchmark::kMillisecond);

// 30 LED pages at 64 x 16: 136 characters of 14 dots in one line, or 30 lines of four.
void BM_ThirtyLedPages(benchmark::State& state)
{
    const bool vertical = state.range(0) != 0;
    QTextDocument doc;
    Add(doc, vertical ? QStringLiteral("欢迎光临").repeated(30) : QString(136, QChar(0x6B22)));
    Run(state, doc, 64, 16, 1, vertical);
}
BENCHMARK(BM_ThirtyLedPages)->Arg(0)->Arg(1)->ArgName("vertical")->Unit(benchmark::kMillisecond);

void BM_Characters(benchmark::State& state)
{
    QTextDocument doc;
    Fill(doc, int(state.range(0)));
    const int w = int(state.range(1));
    Run(state, doc, w, w / 4, 1, state.range(2) != 0);
}
BENCHMARK(BM_Characters)
    ->ArgsProduct({{10, 100, 1000}, {64, 128, 256}, {0, 1}})
    ->ArgNames({"chars", "width", "vertical"})
    ->Unit(benchmark::kMillisecond);

} // namespace

#include "gui_main.h"
