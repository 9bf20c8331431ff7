#include "sim/sim_card.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>

namespace mx::sim {
namespace {

constexpr uint8_t kStart = 0xA0;
constexpr uint8_t kEnd = 0x50;
constexpr uint8_t kReplyStart = 0xAF;
constexpr uint8_t kReplyEnd = 0x5F;
constexpr uint8_t kStatusRejected = 0x04;
constexpr size_t kHistoryLimit = 4096;
constexpr int kSkippedKept = 64;

enum class Check { Valid, Invalid, Incomplete };

uint8_t ToBcd(int v)
{
    return uint8_t(((v / 10) % 10) * 16 + v % 10);
}

int FromBcd(uint8_t b)
{
    return (b >> 4) * 10 + (b & 0x0F);
}

bool IsBcd(uint8_t b)
{
    return (b >> 4) <= 9 && (b & 0x0F) <= 9;
}

QString Hex(const uint8_t* p, int n)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(p), n).toHex(' ')).toUpper();
}

QString Hex(const QByteArray& b)
{
    return QString::fromLatin1(b.toHex(' ')).toUpper();
}

template <size_t N>
QString Hex(const std::array<uint8_t, N>& a)
{
    return Hex(a.data(), int(N));
}

QString Code(uint8_t cmd)
{
    return QStringLiteral("0x") + QString::number(cmd, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

QString CommandName(uint8_t cmd)
{
    switch (cmd) {
    case 0x02: return QStringLiteral("page-continuation");
    case 0x03: return QStringLiteral("page");
    case 0x06: return QStringLiteral("clear");
    case 0x10: return QStringLiteral("set-brightness");
    case 0x13: return QStringLiteral("read-brightness");
    case 0x19: return QStringLiteral("download-mark");
    case 0x21: return QStringLiteral("set-clock");
    case 0x23: return QStringLiteral("write-params");
    case 0x24: return QStringLiteral("read-params");
    case 0x26: return QStringLiteral("set-power");
    case 0x27: return QStringLiteral("read-power");
    case 0x29: return QStringLiteral("write-partitions");
    case 0x2A: return QStringLiteral("read-partitions");
    case 0x35: return QStringLiteral("version");
    default: return QStringLiteral("unknown");
    }
}

QString BcdTime(uint8_t h, uint8_t m)
{
    return QStringLiteral("%1:%2").arg(FromBcd(h), 2, 10, QLatin1Char('0')).arg(FromBcd(m), 2, 10, QLatin1Char('0'));
}

QJsonArray PartitionEntries(const uint8_t* table)
{
    QJsonArray out;
    for (int i = 0; i < 4; ++i) {
        const uint8_t* e = table + 8 * i;
        if (e[0] != 1)
            break;
        out.append(QJsonObject {{"left", e[1] * 8}, {"top", e[2] * 8}, {"width", e[3] * 8}, {"height", e[4] * 8}});
    }
    return out;
}

std::optional<QDateTime> DecodeClock(const uint8_t* p)
{
    for (int i = 0; i < 6; ++i)
        if (!IsBcd(p[i]))
            return std::nullopt;
    const QDate date(2000 + FromBcd(p[0]), FromBcd(p[1]), FromBcd(p[2]));
    const QTime time(FromBcd(p[3]), FromBcd(p[4]), FromBcd(p[5]));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

QJsonObject DecodeFields(const Packet& p)
{
    QJsonObject f;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(p.bytes.constData());
    switch (p.Command()) {
    case 0x23:
        f["params"] = Hex(b + 16, 16);
        f["width"] = b[16] * 8;
        f["height"] = b[17] * 8;
        f["colourType"] = b[18];
        break;
    case 0x29:
        f["partitions"] = b[16] == 0xFF ? QJsonValue() : QJsonValue(PartitionEntries(b + 16));
        break;
    case 0x10:
        f["level"] = b[16];
        break;
    case 0x26:
        f["mode"] = b[16];
        f["on"] = BcdTime(b[17], b[18]);
        f["off"] = BcdTime(b[19], b[20]);
        break;
    case 0x21:
        if (auto dt = DecodeClock(b + 16))
            f["clock"] = dt->toString(Qt::ISODate);
        else
            f["clock"] = QStringLiteral("invalid");
        f["weekday"] = FromBcd(b[22]);
        f["flag"] = b[23];
        break;
    case 0x19:
        f["value"] = b[16];
        break;
    case 0x03:
    case 0x02:
        f["program"] = b[16] | b[17] << 8;
        if (p.Command() == 0x02)
            f["offset"] = b[18] | b[19] << 8;
        else {
            f["effect"] = b[18];
            f["borderFlash"] = b[19];
        }
        f["speed"] = b[20];
        f["stay"] = b[21];
        f["colour"] = b[40];
        f["displayType"] = b[41];
        f["pageIndex"] = b[42];
        f["lastPageIndex"] = b[43];
        f["payloadLengthField"] = b[44] | b[45] << 8;
        f["partition"] = b[46] & 0x0F;
        f["clearFirst"] = (b[46] & 0x80) != 0;
        f["dataLength"] = p.PayloadLength();
        break;
    default:
        break;
    }
    return f;
}

int64_t SteadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

uint16_t Sum16(const uint8_t* data, int n)
{
    uint32_t s = 0;
    for (int i = 0; i < n; ++i)
        s += data[i];
    return uint16_t(s);
}

// ---- Deframer ----------------------------------------------------------------------------

namespace {
Check CheckAt(const QByteArray& buf, int pos, int* length)
{
    const int avail = int(buf.size()) - pos;
    const auto* b = reinterpret_cast<const uint8_t*>(buf.constData()) + pos;
    if (avail < 1 || b[0] != kStart)
        return Check::Invalid;
    if (avail < 3)
        return Check::Incomplete;
    const int len = b[1] | b[2] << 8;
    if (len < kMinPacket || len > kMaxPacket)
        return Check::Invalid;
    if (avail < len)
        return Check::Incomplete;
    if (b[len - 1] != kEnd)
        return Check::Invalid;
    const uint16_t sum = uint16_t(b[len - 4] | b[len - 3] << 8);
    if (Sum16(b, len - 4) != sum)
        return Check::Invalid;
    *length = len;
    return Check::Valid;
}
} // namespace

void Deframer::Feed(const uint8_t* data, int n, int64_t timeUs)
{
    if (data == nullptr || n <= 0)
        return;
    buf_.append(reinterpret_cast<const char*>(data), n);
    times_.insert(times_.end(), size_t(n), timeUs);
}

void Deframer::Skip(int n)
{
    if (n <= 0)
        return;
    const int keep = std::min<int>(n, kSkippedKept - int(skipped_.size()));
    if (keep > 0)
        skipped_.append(buf_.constData(), keep);
    skippedCount_ += n;
    buf_.remove(0, n);
    times_.erase(times_.begin(), times_.begin() + n);
}

std::optional<Packet> Deframer::Next()
{
    for (;;) {
        if (buf_.isEmpty())
            return std::nullopt;
        const int start = int(buf_.indexOf(char(kStart)));
        if (start < 0) {
            Skip(int(buf_.size()));
            return std::nullopt;
        }
        Skip(start);
        int len = 0;
        Check c = CheckAt(buf_, 0, &len);
        if (c == Check::Invalid) {
            Skip(1);
            continue;
        }
        if (c == Check::Incomplete) {
            // The start byte may be noise claiming a length that never comes; a complete
            // valid packet further on wins over it.
            int found = -1;
            for (int j = 1; j < buf_.size() && found < 0; ++j) {
                if (uint8_t(buf_.at(j)) == kStart && CheckAt(buf_, j, &len) == Check::Valid)
                    found = j;
            }
            if (found < 0)
                return std::nullopt;
            Skip(found);
        }
        Packet p;
        p.bytes = buf_.left(len);
        p.firstByteUs = times_.front();
        buf_.remove(0, len);
        times_.erase(times_.begin(), times_.begin() + len);
        return p;
    }
}

QByteArray Deframer::TakeSkipped(int64_t* count)
{
    if (count)
        *count = skippedCount_;
    QByteArray out;
    out.swap(skipped_);
    skippedCount_ = 0;
    return out;
}

void Deframer::Reset()
{
    buf_.clear();
    times_.clear();
    skipped_.clear();
    skippedCount_ = 0;
}

// ---- Pictures ----------------------------------------------------------------------------

QImage DecodeBitPlanes(const QByteArray& data, int width, int height, int colourType)
{
    if (width <= 0 || height <= 0 || width % 8 != 0 || width > 4096 || height > 4096)
        return {};
    const int planes = colourType == 2 ? 2 : colourType == 3 ? 3 : 1;
    const int rowBytes = width / 8;
    const qsizetype planeBytes = qsizetype(rowBytes) * height;
    QImage img(width, height, QImage::Format_RGB888);
    img.fill(Qt::black);
    const auto* b = reinterpret_cast<const uint8_t*>(data.constData());
    for (int p = 0; p < planes; ++p) {
        for (int y = 0; y < height; ++y) {
            uchar* line = img.scanLine(y);
            for (int bx = 0; bx < rowBytes; ++bx) {
                const qsizetype idx = p * planeBytes + qsizetype(y) * rowBytes + bx;
                if (idx >= data.size())
                    break;
                const uint8_t v = b[idx];
                for (int bit = 0; bit < 8; ++bit)
                    if (v & (0x80 >> bit))
                        line[(bx * 8 + bit) * 3 + p] = 255;
            }
        }
    }
    return img;
}

Area SlotArea(const CardState& state, const SlotData& slot)
{
    Area whole {0, 0, state.Width(), state.Height()};
    if (!state.PartitionsSet())
        return whole;
    const int k = slot.Partition();
    for (int i = 0; i < 4; ++i) {
        const uint8_t* e = state.partitions.data() + 8 * i;
        if (e[0] != 1)
            break;
        if (i == k - 1)
            return {e[1] * 8, e[2] * 8, e[3] * 8, e[4] * 8};
    }
    return whole;
}

// ---- The card ----------------------------------------------------------------------------

struct SimCard::Impl {
    mutable std::mutex mutex;
    mutable std::condition_variable historyGrew;
    CardState state;
    QDateTime clockBase;
    int64_t clockBaseUs = 0;
    Faults faults;
    Deframer deframer;
    std::vector<Exchange> history;
    uint32_t noiseSeed = 0x2545F491u;

    QFile log;
    QString statePath;
    QString renderDir;
    bool stateDirty = false;
    bool renderAllDirty = false;
    bool clearRenders = false;
    std::set<int> dirtySlots;

    QDateTime ClockNow() const
    {
        return clockBase.addMSecs((SteadyUs() - clockBaseUs) / 1000);
    }

    uint8_t NoiseByte()
    {
        noiseSeed = noiseSeed * 1664525u + 1013904223u;
        uint8_t v = uint8_t(noiseSeed >> 24);
        return v == kReplyStart ? uint8_t(0x55) : v;
    }

    void Log(const QJsonObject& entry)
    {
        if (!log.isOpen())
            return;
        QJsonObject e = entry;
        e.insert("time", QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
        log.write(QJsonDocument(e).toJson(QJsonDocument::Compact));
        log.write("\n");
        log.flush();
    }

    QByteArray BuildReply(uint16_t address, uint8_t cmd, uint8_t status, const uint8_t* data)
    {
        QByteArray r(kReplyLength, '\0');
        auto* b = reinterpret_cast<uint8_t*>(r.data());
        b[0] = kReplyStart;
        b[1] = kReplyLength;
        b[3] = uint8_t(address);
        b[4] = uint8_t(address >> 8);
        b[13] = status;
        b[14] = cmd;
        std::memcpy(b + 16, data, 32);
        const uint16_t sum = Sum16(b, 48);
        b[48] = uint8_t(sum);
        b[49] = uint8_t(sum >> 8);
        b[51] = kReplyEnd;
        return r;
    }

    void StorePage(const Packet& p)
    {
        const auto* b = reinterpret_cast<const uint8_t*>(p.bytes.constData());
        const int program = b[16] | b[17] << 8;
        if (program < 1 || program > kSlotCount)
            return;
        SlotData& slot = state.programs[size_t(program - 1)];
        const QByteArray payload = p.bytes.mid(48, p.PayloadLength());
        if (p.Command() == 0x03) {
            slot = SlotData {};
            slot.used = true;
            std::memcpy(slot.header.data(), b + 16, 32);
            slot.data = payload;
            slot.blocks = 1;
        } else {
            const int offset = b[18] | b[19] << 8;
            if (offset + payload.size() > kMaxSlotData)
                return;
            if (!slot.used) {
                // A continuation without its first block: keep the data, header stays empty.
                slot.used = true;
            }
            if (slot.data.size() < offset + payload.size())
                slot.data.resize(offset + payload.size(), '\0');
            std::memcpy(slot.data.data() + offset, payload.constData(), size_t(payload.size()));
            ++slot.blocks;
        }
        dirtySlots.insert(program);
    }

    // Runs the command on the state; the reply (before reply faults), or none.
    std::optional<QByteArray> Execute(const Packet& p, Exchange& ex)
    {
        const uint8_t cmd = p.Command();
        const auto* b = reinterpret_cast<const uint8_t*>(p.bytes.constData());
        if (faults.versionOnly && cmd != 0x35) {
            ex.fault = QStringLiteral("version-only");
            return std::nullopt;
        }
        if (faults.silentCommands.count(cmd)) {
            ex.fault = QStringLiteral("silent");
            return std::nullopt;
        }
        uint8_t data[32] = {};
        uint8_t status = 0;
        switch (cmd) {
        case 0x35:
            std::memcpy(data, state.version.data(), 4);
            break;
        case 0x24:
            std::memcpy(data, state.params.data(), 13);
            break;
        case 0x23:
            if (faults.rejectParamWrite) {
                status = kStatusRejected;
                ex.fault = QStringLiteral("reject");
            } else {
                std::memcpy(state.params.data(), b + 16, 16);
                renderAllDirty = true;
            }
            break;
        case 0x29:
            std::memcpy(state.partitions.data(), b + 16, 32);
            renderAllDirty = true;
            break;
        case 0x2A:
            std::memcpy(data, state.partitions.data(), 32);
            break;
        case 0x10:
            state.brightness = b[16];
            break;
        case 0x13:
            data[0] = state.brightness;
            break;
        case 0x26:
            state.power.mode = b[16];
            std::memcpy(state.power.bcd.data(), b + 17, 4);
            break;
        case 0x27:
            data[1] = state.power.mode;
            std::memcpy(data + 2, state.power.bcd.data(), 4);
            break;
        case 0x21:
            std::memcpy(state.clockRaw.data(), b + 16, 8);
            if (auto dt = DecodeClock(b + 16)) {
                clockBase = *dt;
                clockBaseUs = SteadyUs();
            }
            break;
        case 0x06:
            for (SlotData& s : state.programs)
                s = SlotData {};
            ++state.clears;
            dirtySlots.clear();
            clearRenders = true;
            break;
        case 0x19:
            state.downloadMark = b[16];
            break;
        case 0x03:
        case 0x02:
            StorePage(p);
            break;
        default:
            break;
        }
        return BuildReply(p.Address(), cmd, status, data);
    }

    void ApplyReplyFaults(QByteArray& reply, Exchange& ex)
    {
        if (faults.noAfBursts > 0) {
            --faults.noAfBursts;
            for (char& c : reply)
                c = char(NoiseByte());
            ex.fault = QStringLiteral("no-af");
            return;
        }
        if (faults.badChecksumReplies > 0) {
            --faults.badChecksumReplies;
            reply[48] = char(uint8_t(reply[48]) + 1);
            if (ex.fault.isEmpty())
                ex.fault = QStringLiteral("bad-checksum");
        }
        if (faults.noiseBytes > 0 && faults.noiseReplies != 0) {
            if (faults.noiseReplies > 0)
                --faults.noiseReplies;
            QByteArray noise;
            for (int i = 0; i < faults.noiseBytes; ++i)
                noise.append(char(NoiseByte()));
            reply.prepend(noise);
            ex.noise = faults.noiseBytes;
        }
    }

    std::optional<QByteArray> HandleLocked(const Packet& p)
    {
        ++state.packets;
        stateDirty = true;   // the counters change even when the card stays silent
        Exchange ex;
        ex.command = p.Command();
        ex.length = int(p.bytes.size());
        ex.packet = p.bytes;
        std::optional<QByteArray> reply = Execute(p, ex);
        if (reply) {
            ApplyReplyFaults(*reply, ex);
            ex.reply = *reply;
            ++state.replies;
        }
        QJsonObject in {{"dir", "in"},
                        {"cmd", Code(p.Command())},
                        {"name", CommandName(p.Command())},
                        {"address", p.Address()},
                        {"length", ex.length},
                        {"hex", Hex(p.bytes)},
                        {"fields", DecodeFields(p)}};
        if (!ex.fault.isEmpty() && !reply)
            in.insert("fault", ex.fault);
        Log(in);
        if (reply) {
            QJsonObject out {{"dir", "out"}, {"cmd", Code(p.Command())}, {"length", int(reply->size())},
                             {"hex", Hex(*reply)}};
            if (!ex.fault.isEmpty())
                out.insert("fault", ex.fault);
            if (ex.noise > 0)
                out.insert("noise", ex.noise);
            Log(out);
        }
        history.push_back(std::move(ex));
        if (history.size() > kHistoryLimit)
            history.erase(history.begin(), history.begin() + qsizetype(history.size() - kHistoryLimit));
        historyGrew.notify_all();
        return reply;
    }

    QJsonObject StateObject() const
    {
        QJsonObject o;
        o["version"] = Hex(state.version);
        o["params"] = QJsonObject {{"hex", Hex(state.params)},
                                   {"width", state.Width()},
                                   {"height", state.Height()},
                                   {"colourType", state.params[2]}};
        o["partitionsSet"] = state.PartitionsSet();
        o["partitionsHex"] = Hex(state.partitions);
        o["partitions"] = state.PartitionsSet() ? PartitionEntries(state.partitions.data()) : QJsonArray();
        o["brightness"] = state.brightness;
        o["power"] = QJsonObject {{"mode", state.power.mode},
                                  {"on", BcdTime(state.power.bcd[0], state.power.bcd[1])},
                                  {"off", BcdTime(state.power.bcd[2], state.power.bcd[3])},
                                  {"hex", Hex(state.power.bcd)}};
        o["clock"] = ClockNow().toString(Qt::ISODate);
        o["clockRaw"] = Hex(state.clockRaw);
        o["downloadMark"] = state.downloadMark < 0 ? QJsonValue() : QJsonValue(state.downloadMark);
        o["clears"] = state.clears;
        QJsonArray slotArray;
        for (int i = 0; i < kSlotCount; ++i) {
            const SlotData& s = state.programs[size_t(i)];
            if (!s.used)
                continue;
            slotArray.append(QJsonObject {{"slot", i + 1},
                                      {"displayType", s.DisplayType()},
                                      {"pageIndex", s.PageIndex()},
                                      {"lastPageIndex", s.LastPageIndex()},
                                      {"partition", s.PartitionByte() & 0x0F},
                                      {"clearFirst", (s.PartitionByte() & 0x80) != 0},
                                      {"payloadLengthField", s.PayloadLengthField()},
                                      {"blocks", s.blocks},
                                      {"dataLength", int(s.data.size())},
                                      {"header", Hex(s.header)},
                                      {"data", Hex(s.data)}});
        }
        o["slots"] = slotArray;
        o["packets"] = qint64(state.packets);
        o["replies"] = qint64(state.replies);
        o["garbageBytes"] = qint64(state.garbageBytes);
        return o;
    }

    QImage Render(int number) const
    {
        if (number < 1 || number > kSlotCount)
            return {};
        const SlotData& s = state.programs[size_t(number - 1)];
        if (!s.used || (s.DisplayType() != 1 && s.DisplayType() != 2))
            return {};
        const Area a = SlotArea(state, s);
        return DecodeBitPlanes(s.data, a.width, a.height, state.params[2]);
    }

    static QString SlotFile(const QString& dir, int number)
    {
        return dir + QStringLiteral("/slot-%1.png").arg(number, 2, 10, QLatin1Char('0'));
    }

    static bool WritePng(const QImage& img, const QString& path)
    {
        QSaveFile f(path);
        if (!f.open(QIODevice::WriteOnly) || !img.save(&f, "PNG"))
            return false;
        return f.commit();
    }
};

SimCard::SimCard() : d(new Impl)
{
    d->clockBase = QDateTime::currentDateTime();
    d->clockBaseUs = SteadyUs();
}

SimCard::~SimCard()
{
    delete d;
}

void SimCard::SetVersion(const std::array<uint8_t, 4>& version)
{
    std::lock_guard lock(d->mutex);
    d->state.version = version;
    d->stateDirty = true;
}

void SimCard::SetParams(const std::array<uint8_t, 16>& params)
{
    std::lock_guard lock(d->mutex);
    d->state.params = params;
    d->stateDirty = d->renderAllDirty = true;
}

void SimCard::SetPartitions(const std::array<uint8_t, 32>& table)
{
    std::lock_guard lock(d->mutex);
    d->state.partitions = table;
    d->stateDirty = d->renderAllDirty = true;
}

void SimCard::SetPartitionsNone()
{
    std::array<uint8_t, 32> none {};
    none[0] = 0xFF;
    SetPartitions(none);
}

void SimCard::SetBrightness(uint8_t level)
{
    std::lock_guard lock(d->mutex);
    d->state.brightness = level;
    d->stateDirty = true;
}

void SimCard::SetPowerSchedule(uint8_t mode, int onHour, int onMinute, int offHour, int offMinute)
{
    std::lock_guard lock(d->mutex);
    d->state.power.mode = mode;
    d->state.power.bcd = {ToBcd(onHour), ToBcd(onMinute), ToBcd(offHour), ToBcd(offMinute)};
    d->stateDirty = true;
}

void SimCard::SetClock(const QDateTime& now)
{
    std::lock_guard lock(d->mutex);
    d->clockBase = now;
    d->clockBaseUs = SteadyUs();
    d->stateDirty = true;
}

void SimCard::SetFaults(const Faults& faults)
{
    std::lock_guard lock(d->mutex);
    d->faults = faults;
}

Faults SimCard::GetFaults() const
{
    std::lock_guard lock(d->mutex);
    return d->faults;
}

void SimCard::ClearFaults()
{
    SetFaults(Faults {});
}

void SimCard::SetNoise(int bytes, int replies)
{
    std::lock_guard lock(d->mutex);
    d->faults.noiseBytes = std::clamp(bytes, 0, 4096);
    d->faults.noiseReplies = replies;
}

void SimCard::SetBadChecksum(int replies)
{
    std::lock_guard lock(d->mutex);
    d->faults.badChecksumReplies = std::max(replies, 0);
}

void SimCard::SetSilent(uint8_t command, bool silent)
{
    std::lock_guard lock(d->mutex);
    if (silent)
        d->faults.silentCommands.insert(command);
    else
        d->faults.silentCommands.erase(command);
}

void SimCard::SetVersionOnly(bool on)
{
    std::lock_guard lock(d->mutex);
    d->faults.versionOnly = on;
}

void SimCard::SetRejectParamWrite(bool on)
{
    std::lock_guard lock(d->mutex);
    d->faults.rejectParamWrite = on;
}

void SimCard::SetNoAfBurst(int replies)
{
    std::lock_guard lock(d->mutex);
    d->faults.noAfBursts = std::max(replies, 0);
}

void SimCard::SetPacing(int baud)
{
    std::lock_guard lock(d->mutex);
    d->faults.paceBaud = std::max(baud, 0);
}

bool SimCard::SetLogFile(const QString& path)
{
    std::lock_guard lock(d->mutex);
    d->log.close();
    if (path.isEmpty())
        return true;
    d->log.setFileName(path);
    return d->log.open(QIODevice::WriteOnly | QIODevice::Append);
}

bool SimCard::SetStateFile(const QString& path)
{
    {
        std::lock_guard lock(d->mutex);
        d->statePath = path;
        d->stateDirty = true;
    }
    return path.isEmpty() || Flush();
}

bool SimCard::SetRenderDir(const QString& dir)
{
    std::lock_guard lock(d->mutex);
    if (!dir.isEmpty() && !QDir().mkpath(dir))
        return false;   // the folder in use, if any, stays
    d->renderDir = dir;
    d->renderAllDirty = true;
    return true;
}

std::vector<Outgoing> SimCard::Receive(const uint8_t* data, int n, int64_t nowUs)
{
    std::lock_guard lock(d->mutex);
    std::vector<Outgoing> out;
    d->deframer.Feed(data, n, nowUs);
    auto noteSkipped = [&] {
        int64_t count = 0;
        const QByteArray skipped = d->deframer.TakeSkipped(&count);
        if (count > 0) {
            d->state.garbageBytes += count;
            d->stateDirty = true;
            d->Log(QJsonObject {{"dir", "garbage"}, {"bytes", qint64(count)}, {"hex", Hex(skipped)}});
        }
    };
    while (auto p = d->deframer.Next()) {
        noteSkipped();
        auto reply = d->HandleLocked(*p);
        if (!reply)
            continue;
        int64_t due = nowUs;
        if (d->faults.paceBaud > 0)
            due = std::max(nowUs, p->firstByteUs + int64_t(p->bytes.size()) * 10 * 1000000 / d->faults.paceBaud);
        out.push_back({*reply, due});
    }
    noteSkipped();
    return out;
}

std::optional<QByteArray> SimCard::Handle(const QByteArray& packet)
{
    int len = 0;
    if (CheckAt(packet, 0, &len) != Check::Valid || len != packet.size())
        return std::nullopt;
    std::lock_guard lock(d->mutex);
    Packet p;
    p.bytes = packet;
    p.firstByteUs = SteadyUs();
    return d->HandleLocked(p);
}

bool SimCard::Flush()
{
    std::lock_guard lock(d->mutex);
    bool ok = true;
    if (d->stateDirty && !d->statePath.isEmpty()) {
        QSaveFile f(d->statePath);
        ok = f.open(QIODevice::WriteOnly) &&
             f.write(QJsonDocument(d->StateObject()).toJson(QJsonDocument::Indented)) >= 0 && f.commit();
    }
    d->stateDirty = false;
    if (d->renderDir.isEmpty()) {
        d->dirtySlots.clear();
        d->renderAllDirty = d->clearRenders = false;
        return ok;
    }
    if (d->clearRenders) {
        QDir dir(d->renderDir);
        for (const QString& name : dir.entryList({QStringLiteral("slot-*.png")}, QDir::Files))
            dir.remove(name);
        d->clearRenders = false;
    }
    std::set<int> todo = d->dirtySlots;
    if (d->renderAllDirty)
        for (int n = 1; n <= kSlotCount; ++n)
            todo.insert(n);
    for (int n : todo) {
        const QImage img = d->Render(n);
        if (!img.isNull() && !Impl::WritePng(img, Impl::SlotFile(d->renderDir, n)))
            ok = false;
    }
    d->dirtySlots.clear();
    d->renderAllDirty = false;
    return ok;
}

CardState SimCard::State() const
{
    std::lock_guard lock(d->mutex);
    CardState s = d->state;
    s.clock = d->ClockNow();
    return s;
}

SlotData SimCard::Slot(int number) const
{
    std::lock_guard lock(d->mutex);
    if (number < 1 || number > kSlotCount)
        return {};
    return d->state.programs[size_t(number - 1)];
}

std::vector<Exchange> SimCard::History() const
{
    std::lock_guard lock(d->mutex);
    return d->history;
}

void SimCard::ClearHistory()
{
    std::lock_guard lock(d->mutex);
    d->history.clear();
}

bool SimCard::WaitForExchanges(size_t count, int timeoutMs) const
{
    std::unique_lock lock(d->mutex);
    return d->historyGrew.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return d->history.size() >= count; });
}

QImage SimCard::RenderSlot(int number) const
{
    std::lock_guard lock(d->mutex);
    return d->Render(number);
}

int SimCard::RenderAll(const QString& dir) const
{
    if (!QDir().mkpath(dir))
        return -1;
    std::lock_guard lock(d->mutex);
    int written = 0;
    for (int n = 1; n <= kSlotCount; ++n) {
        const QImage img = d->Render(n);
        if (img.isNull())
            continue;
        if (!Impl::WritePng(img, Impl::SlotFile(dir, n)))
            return -1;
        ++written;
    }
    return written;
}

QByteArray SimCard::StateJson() const
{
    std::lock_guard lock(d->mutex);
    return QJsonDocument(d->StateObject()).toJson(QJsonDocument::Indented);
}

} // namespace mx::sim
