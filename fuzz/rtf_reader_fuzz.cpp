// libFuzzer entry: any bytes through the RTF reader. Besides crashes and sanitizer reports, it
// stops on a document beyond the reader's limits or on text read from something refused as RTF.
#include "codec/rtf_reader.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray rtf = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QTextDocument doc;
    const mx::RtfReadResult r = mx::ReadRtf(rtf, doc);
    if (doc.characterCount() > mx::kRtfMaxChars + mx::kRtfMaxParagraphs)
        __builtin_trap();
    if (!r.ok && !doc.isEmpty())
        __builtin_trap();
    return 0;
}
