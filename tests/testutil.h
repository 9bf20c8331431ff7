// Small helpers shared by the tests.
#pragma once

#include "link/engine_env.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <cstdint>
#include <span>
#include <vector>

namespace mxtest {

inline std::vector<uint8_t> Hex(const char* text)
{
    const QByteArray bytes = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    return {bytes.begin(), bytes.end()};
}

inline std::vector<uint8_t> Bytes(const uint8_t* data, int n) { return {data, data + n}; }
inline std::vector<uint8_t> Bytes(std::span<const uint8_t> s) { return {s.begin(), s.end()}; }

// Fixes the engine's clock for the lifetime of the object.
class FixedClock {
public:
    explicit FixedClock(QDateTime at) { mx::SetClock([at] { return at; }); }
    ~FixedClock() { mx::SetClock({}); }
};

// A folder for pictures a test leaves to be looked at: $MARQUIX_TEST_OUTPUT when it is set,
// else a temporary one that goes with the object, so runs side by side never share a file.
class OutputDir {
public:
    OutputDir()
    {
        const QString chosen = qEnvironmentVariable("MARQUIX_TEST_OUTPUT");
        path_ = chosen.isEmpty() ? temporary_.path() : chosen;
        QDir().mkpath(path_);
    }
    bool IsValid() const { return !path_.isEmpty() && QDir(path_).exists(); }
    QString File(const QString& name) const { return path_ + u'/' + name; }

private:
    QTemporaryDir temporary_;
    QString path_;
};

// A well-formed 52-byte reply with the given data bytes at 16.. and status at 13.
inline std::vector<uint8_t> Reply(std::vector<uint8_t> data = {}, uint8_t status = 0)
{
    std::vector<uint8_t> r(52, 0);
    r[0] = 0xAF;
    r[13] = status;
    for (size_t i = 0; i < data.size() && i < 32; ++i)
        r[16 + i] = data[i];
    uint16_t sum = 0;
    for (int i = 0; i < 48; ++i)
        sum = uint16_t(sum + r[size_t(i)]);
    r[48] = uint8_t(sum);
    r[49] = uint8_t(sum >> 8);
    r[51] = 0x5F;
    return r;
}

} // namespace mxtest
