// The byte streams of project-file records: little-endian integers, tags, texts and text
// lists. The reader trusts nothing: every read is checked against what remains, and the
// first failure is kept with the offset where it happened.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace mx {

class RecordWriter {
public:
    void U8(uint8_t v) { bytes_.append(char(v)); }
    void U16(uint16_t v);
    void I32(int32_t v);
    void F64(double v);
    void Bytes(const void* data, qsizetype n) { bytes_.append(static_cast<const char*>(data), n); }
    void Bytes(const QByteArray& b) { bytes_.append(b); }
    // The name padded with NUL bytes to the width.
    void Tag(const char* name, int width = 16);
    // u16 count of UTF-16 code units, then the units. A longer text fails the writer rather
    // than being cut.
    void Text(const QString& text);
    void TextList(const QStringList& list);

    const QByteArray& Data() const { return bytes_; }
    qsizetype Size() const { return bytes_.size(); }

    // A record that cannot be stored as it is: the first reason is kept, and the caller
    // must not write the result.
    void Fail(const QString& why)
    {
        if (error_.isEmpty())
            error_ = why;
    }
    bool Failed() const { return !error_.isEmpty(); }
    QString Error() const { return error_; }

private:
    QByteArray bytes_;
    QString error_;
};

class RecordReader {
public:
    explicit RecordReader(QByteArray data) : data_(std::move(data)) {}

    bool U8(uint8_t& v);
    bool U16(uint16_t& v);
    bool I32(int32_t& v);
    bool F64(double& v);
    bool Bytes(void* out, qsizetype n, const char* what);
    bool Bytes(QByteArray& out, qsizetype n, const char* what);
    // Checks the tag: the name, then a NUL, within the tag's width.
    bool Tag(const char* name, int width = 16);
    // A text ends at its first NUL, as stored texts may carry one.
    bool Text(QString& text, const char* what);
    bool TextList(QStringList& list, const char* what);
    // A count read from the file, refused when negative, above the limit, or when the
    // remaining bytes cannot hold count records of at least minRecordSize bytes.
    bool Count(int32_t count, int32_t limit, qsizetype minRecordSize, const char* what);

    // Records the first failure; answers false so callers can return it.
    bool Fail(const QString& what);
    // Puts where the failure happened in front of it ("screen 2: page 3: ...").
    bool Context(const QString& where)
    {
        if (Failed())
            error_ = where + QStringLiteral(": ") + error_;
        return false;
    }
    bool Failed() const { return !error_.isEmpty(); }
    QString Error() const { return error_; }
    qsizetype ErrorOffset() const { return errorOffset_; }
    qsizetype Offset() const { return pos_; }
    qsizetype Remaining() const { return data_.size() - pos_; }
    bool AtEnd() const { return pos_ >= data_.size(); }

private:
    bool need(qsizetype n, const char* what);

    QByteArray data_;
    qsizetype pos_ = 0;
    QString error_;
    qsizetype errorOffset_ = -1;
};

} // namespace mx
