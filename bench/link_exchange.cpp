// One exchange over a real pseudo-terminal against the simulator: the serial layer's own
// cost on top of the wire time. Paced runs report overhead_pct = measured / wire time - 1,
// wire time being (packet bytes + 52) x 10 / baud.
#include "link/cncomm.h"
#include "model/object.h"
#include "link/portdir.h"
#include "link/rs232.h"
#include "sim/pty_server.h"
#include "sim/sim_card.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>

namespace {

// The packet the tool would send: the engine's own frame code, program number 1.
QByteArray MakePacket(uint8_t cmd, const QByteArray& payload = {})
{
    mx::TLCMUnit unit;
    unit.commandCode = cmd;
    unit.SetPayload(reinterpret_cast<const uint8_t*>(payload.constData()), int(payload.size()));
    unit.BuildHeader();
    unit.Packet()[16] = 1;
    unit.CopyPayload();
    unit.FinishPacket();
    return QByteArray(reinterpret_cast<const char*>(unit.Packet()), unit.PacketLength());
}

struct Line {
    QTemporaryDir dir;
    mx::sim::SimCard card;
    mx::sim::PtyServer server {card};
    mx::CnComm port;
    uint8_t buffer[mx::kReceiveBufferSize] = {};
    int fill = 0;

    explicit Line(int paceBaud)
    {
        card.SetPacing(paceBaud);
        const QString link = dir.path() + "/card";
        server.Start(link);
        mx::SetPortOverride(42, link);
        mx::OpenPortAt(port, 42, 57600);
    }
    ~Line() { port.Close(); }

    bool Exchange(const QByteArray& pkt)
    {
        uint8_t reply[52];
        fill = 0;
        mx::WriteChunked(port, reinterpret_cast<const uint8_t*>(pkt.constData()), int(pkt.size()));
        return mx::ReceiveExact(port, reply, 52, buffer, fill, 100);
    }
};

void RunExchange(benchmark::State& state, int baud, int payload)
{
    Line line(baud);
    const QByteArray pkt = MakePacket(payload ? 0x03 : 0x35, QByteArray(payload, '\x5A'));
    int failures = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state)
        failures += !line.Exchange(pkt);
    const double totalMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const double meanMs = totalMs / double(state.iterations());
    state.counters["failures"] = failures;
    state.counters["mean_ms"] = meanMs;
    if (baud > 0) {
        const double wireMs = double(pkt.size() + 52) * 10.0 * 1000.0 / baud;
        state.counters["wire_ms"] = wireMs;
        state.counters["overhead_pct"] = (meanMs / wireMs - 1.0) * 100.0;
    }
}

void BM_VersionExchangeUnpaced(benchmark::State& s) { RunExchange(s, 0, 0); }
void BM_VersionExchange57600(benchmark::State& s) { RunExchange(s, 57600, 0); }
void BM_PageBlockExchange57600(benchmark::State& s) { RunExchange(s, 57600, 1024); }

void BM_OpenClose(benchmark::State& state)
{
    Line line(0);
    line.port.Close();
    for (auto _ : state) {
        mx::OpenPortAt(line.port, 42, 57600);
        line.port.Close();
    }
}

BENCHMARK(BM_VersionExchangeUnpaced)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(500);
BENCHMARK(BM_VersionExchange57600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(60);
BENCHMARK(BM_PageBlockExchange57600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(12);
BENCHMARK(BM_OpenClose)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(500);

} // namespace

BENCHMARK_MAIN();
