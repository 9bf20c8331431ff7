// The virtual controller card: a resynchronising deframer for the command packets, the
// state a card keeps, the 52-byte replies, and the faults it can be told to inject.
// Everything here is thread-safe: the line side (PtyServer) feeds bytes from its thread
// while tests and the program read state and change faults from theirs.
// The card spells out its own command codes and offsets rather than sharing the tool's
// (link/protocol.h): as an independent far end it catches a wrong constant on either side.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QString>
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace mx::sim {

constexpr int kSlotCount = 80;
constexpr int kMinPacket = 52;
constexpr int kMaxPacket = 2048;
constexpr int kReplyLength = 52;
// Assembled LED page data per slot is bounded by the 16-bit continuation offset plus a block.
constexpr int kMaxSlotData = 65535 + 1024;

// A packet that passed the frame checks, with the time its start byte arrived.
struct Packet {
    QByteArray bytes;
    int64_t firstByteUs = 0;
    uint8_t Command() const { return uint8_t(bytes.at(13)); }
    uint16_t Address() const { return uint16_t(uint8_t(bytes.at(3)) | uint8_t(bytes.at(4)) << 8); }
    uint8_t At(int i) const { return uint8_t(bytes.at(i)); }
    int PayloadLength() const { return int(bytes.size()) - kMinPacket; }
};

// Finds packets in a byte stream: start byte 0xA0, 16-bit little-endian length 52...2048,
// end byte 0x50 at length - 1, 16-bit sum of bytes 0...length - 5 at length - 4. Anything
// else is skipped one byte at a time. A start byte whose claimed length has not arrived
// yet does not hold up a complete valid packet behind it.
class Deframer {
public:
    void Feed(const uint8_t* data, int n, int64_t timeUs);
    // The next valid packet, in stream order.
    std::optional<Packet> Next();
    // Skipped bytes since the last call (kept to the first 64 for logging) and their count.
    QByteArray TakeSkipped(int64_t* count = nullptr);
    int Buffered() const { return int(buf_.size()); }
    void Reset();

private:
    bool ValidAt(int pos, int* length) const;
    void Skip(int n);

    QByteArray buf_;
    std::vector<int64_t> times_;
    QByteArray skipped_;
    int64_t skippedCount_ = 0;
};

// A slot's header is packet bytes 16...47 of its first block (0x03); its data is the LED
// page data assembled from that block and the continuation blocks (0x02) by offset.
struct SlotData {
    bool used = false;
    std::array<uint8_t, 32> header {};
    QByteArray data;
    int blocks = 0;
    uint8_t DisplayType() const { return header[25]; }   // packet byte 41
    uint8_t PageIndex() const { return header[26]; }
    uint8_t LastPageIndex() const { return header[27]; }
    int PayloadLengthField() const { return header[28] | header[29] << 8; }
    uint8_t PartitionByte() const { return header[30]; } // packet byte 46
    // Low nibble of byte 46; 0 counts as 1, as the tool sends it.
    int Partition() const { return (header[30] & 0x0F) ? (header[30] & 0x0F) : 1; }
};

struct PowerSchedule {
    uint8_t mode = 0;
    std::array<uint8_t, 4> bcd {};   // on hour, on minute, off hour, off minute, packed BCD
};

struct CardState {
    std::array<uint8_t, 4> version {0x10, 0x02, 0x01, 0x0A};
    std::array<uint8_t, 16> params {8, 8, 1};
    std::array<uint8_t, 32> partitions {0xFF};   // first byte 0xFF: none set
    uint8_t brightness = 15;
    PowerSchedule power;
    QDateTime clock;                 // the card's clock now (it ticks)
    std::array<uint8_t, 8> clockRaw {};   // bytes 16...23 of the last 0x21
    int downloadMark = -1;           // -1 until a 0x19 arrives
    int clears = 0;
    std::array<SlotData, kSlotCount> programs {};   // slot n at index n - 1
    int64_t packets = 0;             // valid packets received
    int64_t replies = 0;             // replies sent (faulty ones included)
    int64_t garbageBytes = 0;        // bytes the deframer skipped

    bool PartitionsSet() const { return partitions[0] != 0xFF; }
    int Width() const { return params[0] * 8; }
    int Height() const { return params[1] * 8; }
};

struct Faults {
    int noiseBytes = 0;          // bytes (never 0xAF) sent before a reply
    int noiseReplies = -1;       // how many replies get them; -1 every reply
    int badChecksumReplies = 0;  // the next K replies carry a wrong checksum
    std::set<uint8_t> silentCommands;   // commands ignored: no state change, no reply
    bool versionOnly = false;    // only 0x35 is answered; everything else is ignored
    bool rejectParamWrite = false;      // 0x23 answered with status 0x04 and not stored
    int noAfBursts = 0;          // the next K replies are 52 bytes without any 0xAF
    int paceBaud = 0;            // > 0: replies wait for the packet's wire time and go out at this speed
};

// What was received and what became of it, for tests and the log.
struct Exchange {
    uint8_t command = 0;
    int length = 0;
    QByteArray packet;
    QByteArray reply;            // as sent, noise included; empty when silent
    QString fault;               // "", "silent", "version-only", "bad-checksum", "no-af", "reject"
    int noise = 0;               // noise bytes sent before the reply
};

// Bytes for the line, not to be sent before dueUs; when paced, at wire speed.
struct Outgoing {
    QByteArray bytes;
    int64_t dueUs = 0;
};

class SimCard {
public:
    SimCard();
    ~SimCard();
    SimCard(const SimCard&) = delete;
    SimCard& operator=(const SimCard&) = delete;

    // Initial state.
    void SetVersion(const std::array<uint8_t, 4>& version);
    void SetParams(const std::array<uint8_t, 16>& params);
    void SetPartitions(const std::array<uint8_t, 32>& table);   // first byte 0xFF: none set
    void SetPartitionsNone();
    void SetBrightness(uint8_t level);
    void SetPowerSchedule(uint8_t mode, int onHour, int onMinute, int offHour, int offMinute);
    void SetClock(const QDateTime& now);

    // Faults; each setter leaves the other faults as they are.
    void SetFaults(const Faults& faults);
    Faults GetFaults() const;
    void ClearFaults();
    void SetNoise(int bytes, int replies = -1);
    void SetBadChecksum(int replies);
    void SetSilent(uint8_t command, bool silent = true);
    void SetVersionOnly(bool on);
    void SetRejectParamWrite(bool on);
    void SetNoAfBurst(int replies);
    void SetPacing(int baud);

    // Outputs. Each answers false when the file or folder cannot be opened or created.
    bool SetLogFile(const QString& path);      // JSON lines, appended
    bool SetStateFile(const QString& path);    // JSON, rewritten whole after each change
    bool SetRenderDir(const QString& dir);     // slot-NN.png per bitmap slot, kept current

    // The line: bytes received at nowUs (steady clock, microseconds) give bytes to send.
    std::vector<Outgoing> Receive(const uint8_t* data, int n, int64_t nowUs);
    // Writes the state file and the PNGs that changed since the last call; false when a
    // write failed.
    bool Flush();

    // One packet handled directly (no deframing, no pacing): the reply, or none if silent.
    std::optional<QByteArray> Handle(const QByteArray& packet);

    CardState State() const;
    SlotData Slot(int number) const;   // 1...80; an empty slot otherwise
    std::vector<Exchange> History() const;
    void ClearHistory();
    // Blocks until at least count exchanges are in the history, or the time-out passes.
    bool WaitForExchanges(size_t count, int timeoutMs) const;

    // The picture a bitmap slot (display type 1 or 2) shows; null for other slots.
    QImage RenderSlot(int number) const;
    // Writes slot-NN.png for every bitmap slot into dir; the number written, -1 on failure.
    int RenderAll(const QString& dir) const;

    // The state as JSON, as the state file holds it.
    QByteArray StateJson() const;

private:
    struct Impl;
    Impl* d;
};

// The LED bit planes of an area as a picture: red, then green (colour types 2, 3), then
// blue (3); each plane height rows of width / 8 bytes, most significant bit leftmost,
// 1 lit (255 in that channel). Missing bytes read as unlit. Null for a bad size.
QImage DecodeBitPlanes(const QByteArray& data, int width, int height, int colourType);

// The area a slot plays in: its partition's rectangle from the table, or the whole screen
// when no table is set or it has no such entry.
struct Area {
    int left = 0, top = 0, width = 0, height = 0;
};
Area SlotArea(const CardState& state, const SlotData& slot);

// Packet checksum helpers, shared with the tests' packet builder.
uint16_t Sum16(const uint8_t* data, int n);

} // namespace mx::sim
