// Reading and writing RTF: the project's small documents, and 10 MB ones to show the reader
// stays linear and bounded. Peak memory is the growth of the resident set during one read.
#include "model/rtfpage.h"
#include "codec/rtf_reader.h"
#include "codec/rtf_writer.h"

#include <QGuiApplication>
#include <QStringEncoder>
#include <QTextDocument>

#include "peak_memory.h"

#include <benchmark/benchmark.h>


namespace {

constexpr qsizetype kTenMegabytes = 10 * 1024 * 1024;

QByteArray Hex(const QString& text)
{
    QStringEncoder gbk("GBK");
    QByteArray out;
    for (char b : QByteArray(gbk(text))) {
        out += "\\'";
        out += QByteArray::number(uint8_t(b), 16).rightJustified(2, '0');
    }
    return out;
}

// Paragraphs as a rich-edit control writes them: Chinese in GBK bytes, Latin text, a few fonts,
// colours and styles switching every few words, and an emoji as \u.
QByteArray MixedDocument(qsizetype size)
{
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl{\\f0\\fnil\\fcharset134 " +
                     Hex(QStringLiteral("宋体")) + ";}{\\f1\\fswiss\\fcharset0 Arial;}{\\f2\\fnil\\fcharset134 " +
                     Hex(QStringLiteral("黑体")) + ";}}\r\n{\\colortbl ;\\red255\\green0\\blue0;"
                     "\\red0\\green255\\blue0;\\red255\\green255\\blue0;}\r\n\\viewkind4\\uc1\\pard";
    const QByteArray chinese = Hex(QStringLiteral("欢迎光临本店，今日特价商品八折优惠"));
    const QByteArray paragraph = "\\f0\\fs21\\cf1 " + chinese + "\\f1\\fs20\\cf0\\b  Opening hours 9:00-21:00 \\b0" +
                                 "\\f2\\fs32\\cf2\\i " + chinese + "\\i0\\cf3\\ul  \\u-10179?\\u-8704? sale\\ulnone\\par\r\n";
    while (rtf.size() + paragraph.size() + 3 < size)
        rtf += paragraph;
    rtf += "}\r\n";
    return rtf;
}

// The worst ordinary case for the document: a new format for every character.
QByteArray FormatEveryCharacter(qsizetype size)
{
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg936{\\colortbl ;\\red255\\green0\\blue0;}";
    const QByteArray pair = "\\cf1\\b\\'bb\\'b6\\cf0\\b0 a";
    while (rtf.size() + pair.size() + 2 < size)
        rtf += pair;
    rtf += "}";
    return rtf;
}

using mxbench::PeakMiB;

void Read(benchmark::State& state, const QByteArray& rtf)
{
    int chars = 0, blocks = 0;
    bool truncated = false;
    const double peak = PeakMiB([&] {
        QTextDocument doc;
        truncated = mx::ReadRtf(rtf, doc).truncated;
        chars = doc.characterCount();
        blocks = doc.blockCount();
    });
    for (auto _ : state) {
        QTextDocument doc;
        benchmark::DoNotOptimize(mx::ReadRtf(rtf, doc));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * rtf.size());
    state.counters["peak_MiB"] = peak;
    state.counters["input_MiB"] = double(rtf.size()) / (1024.0 * 1024.0);
    state.counters["chars"] = chars;
    state.counters["paragraphs"] = blocks;
    if (truncated)
        state.SetLabel("truncated");
}

void BM_ReadDefaultDocument(benchmark::State& state) { Read(state, mx::DefaultRtfDocument()); }

void BM_ReadMixed10MB(benchmark::State& state)
{
    static const QByteArray rtf = MixedDocument(kTenMegabytes);
    Read(state, rtf);
}

void BM_ReadFormatEveryCharacter10MB(benchmark::State& state)
{
    static const QByteArray rtf = FormatEveryCharacter(kTenMegabytes);
    Read(state, rtf);
}

void BM_WriteMixed(benchmark::State& state)
{
    QTextDocument doc;
    mx::ReadRtf(MixedDocument(state.range(0)), doc);
    qsizetype written = 0;
    for (auto _ : state) {
        const QByteArray rtf = mx::WriteRtf(doc);
        written = rtf.size();
        benchmark::DoNotOptimize(rtf);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * written);
    state.counters["output_KiB"] = double(written) / 1024.0;
}

} // namespace

BENCHMARK(BM_ReadDefaultDocument);
BENCHMARK(BM_ReadMixed10MB)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadFormatEveryCharacter10MB)->Unit(benchmark::kMillisecond)->Iterations(3);
// 64 KB is the most a rich-text page holds; 10 MB shows the writer is linear too.
BENCHMARK(BM_WriteMixed)->Unit(benchmark::kMillisecond)->Arg(64 * 1024)->Arg(kTenMegabytes)->Iterations(3);

#include "gui_main.h"
