#include "codec/record_stream.h"

#include <cstring>

namespace mx {

void RecordWriter::U16(uint16_t v)
{
    U8(uint8_t(v));
    U8(uint8_t(v >> 8));
}

void RecordWriter::I32(int32_t v)
{
    const auto u = uint32_t(v);
    for (int i = 0; i < 4; ++i)
        U8(uint8_t(u >> (8 * i)));
}

void RecordWriter::F64(double v)
{
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i)
        U8(uint8_t(u >> (8 * i)));
}

void RecordWriter::Tag(const char* name, int width)
{
    QByteArray tag(name);
    tag.resize(width, '\0');
    bytes_.append(tag);
}

void RecordWriter::Text(const QString& text)
{
    if (text.size() > 0xFFFF)
        Fail(QStringLiteral("a text of %1 characters is longer than a project file can hold (65535)").arg(text.size()));
    const qsizetype n = std::min<qsizetype>(text.size(), 0xFFFF);
    U16(uint16_t(n));
    for (qsizetype i = 0; i < n; ++i)
        U16(text[i].unicode());
}

void RecordWriter::TextList(const QStringList& list)
{
    if (list.size() > 0xFFFF)
        Fail(QStringLiteral("a list of %1 lines is longer than a project file can hold (65535)").arg(list.size()));
    const qsizetype n = std::min<qsizetype>(list.size(), 0xFFFF);
    U16(uint16_t(n));
    for (qsizetype i = 0; i < n; ++i)
        Text(list[i]);
}

bool RecordReader::Fail(const QString& what)
{
    if (error_.isEmpty()) {
        error_ = what;
        errorOffset_ = pos_;
    }
    return false;
}

bool RecordReader::need(qsizetype n, const char* what)
{
    if (Failed())
        return false;
    if (n < 0 || n > Remaining())
        return Fail(QStringLiteral("%1: the file ends after %2 of %3 bytes")
                        .arg(QString::fromUtf8(what))
                        .arg(Remaining())
                        .arg(n));
    return true;
}

bool RecordReader::U8(uint8_t& v)
{
    if (!need(1, "byte"))
        return false;
    v = uint8_t(data_[pos_++]);
    return true;
}

bool RecordReader::U16(uint16_t& v)
{
    if (!need(2, "16-bit value"))
        return false;
    v = uint16_t(uint8_t(data_[pos_]) | uint8_t(data_[pos_ + 1]) << 8);
    pos_ += 2;
    return true;
}

bool RecordReader::I32(int32_t& v)
{
    if (!need(4, "32-bit value"))
        return false;
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= uint32_t(uint8_t(data_[pos_ + i])) << (8 * i);
    v = int32_t(u);
    pos_ += 4;
    return true;
}

bool RecordReader::F64(double& v)
{
    if (!need(8, "date"))
        return false;
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i)
        u |= uint64_t(uint8_t(data_[pos_ + i])) << (8 * i);
    std::memcpy(&v, &u, 8);
    pos_ += 8;
    return true;
}

bool RecordReader::Bytes(void* out, qsizetype n, const char* what)
{
    if (!need(n, what))
        return false;
    std::memcpy(out, data_.constData() + pos_, size_t(n));
    pos_ += n;
    return true;
}

bool RecordReader::Bytes(QByteArray& out, qsizetype n, const char* what)
{
    if (!need(n, what))
        return false;
    out = data_.mid(pos_, n);
    pos_ += n;
    return true;
}

bool RecordReader::Tag(const char* name, int width)
{
    const qsizetype at = pos_;
    if (!need(width, "record tag"))
        return false;
    // The name and its terminating NUL; what follows in the padding is not examined.
    QByteArray want(name);
    if (want.size() < width)
        want.append('\0');
    if (data_.mid(pos_, want.size()) != want) {
        QByteArray seen = data_.mid(pos_, width);
        seen.replace('\0', ' ');
        Fail(QStringLiteral("expected the record \"%1\", found \"%2\"")
                 .arg(QString::fromLatin1(name), QString::fromLatin1(seen.trimmed())));
        errorOffset_ = at;
        return false;
    }
    pos_ += width;
    return true;
}

bool RecordReader::Text(QString& text, const char* what)
{
    uint16_t n = 0;
    if (!U16(n) || !need(qsizetype(n) * 2, what))
        return false;
    QString s(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        s[i] = QChar(uint16_t(uint8_t(data_[pos_ + 2 * i]) | uint8_t(data_[pos_ + 2 * i + 1]) << 8));
    pos_ += qsizetype(n) * 2;
    const qsizetype nul = s.indexOf(QChar(0));
    text = nul < 0 ? s : s.left(nul);
    return true;
}

bool RecordReader::TextList(QStringList& list, const char* what)
{
    uint16_t n = 0;
    if (!U16(n) || !Count(n, 0xFFFF, 2, what))
        return false;
    QStringList out;
    for (int i = 0; i < n; ++i) {
        QString t;
        if (!Text(t, what))
            return false;
        out.append(t);
    }
    list = out;
    return true;
}

bool RecordReader::Count(int32_t count, int32_t limit, qsizetype minRecordSize, const char* what)
{
    if (Failed())
        return false;
    if (count < 0 || count > limit)
        return Fail(QStringLiteral("%1: %2 is not a plausible count (0 to %3)")
                        .arg(QString::fromUtf8(what))
                        .arg(count)
                        .arg(limit));
    if (qsizetype(count) * minRecordSize > Remaining())
        return Fail(QStringLiteral("%1: %2 records cannot fit in the %3 bytes left")
                        .arg(QString::fromUtf8(what))
                        .arg(count)
                        .arg(Remaining()));
    return true;
}

} // namespace mx
