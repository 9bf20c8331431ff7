// marquix-sim: a virtual controller card on a pseudo-terminal, linked at --link PATH.
// Runs until SIGINT or SIGTERM; removes its link on exit.
#include "sim/pty_server.h"
#include "sim/sim_card.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <climits>
#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace {

using mx::sim::SimCard;

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

// "10 02 01 0A", "1002010a", "10:02:01:0a": whole bytes of hexadecimal digits only.
bool ParseHex(const QString& text, int maxBytes, QByteArray& out)
{
    QString digits;
    for (QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char(':') || c == QLatin1Char('-') || c == QLatin1Char(','))
            continue;
        if (!c.isDigit() && !(c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
            return false;
        digits.append(c);
    }
    if (digits.isEmpty() || digits.size() % 2 != 0 || digits.size() / 2 > maxBytes)
        return false;
    out = QByteArray::fromHex(digits.toLatin1());
    return true;
}

bool ParseInt(const QString& text, int lo, int hi, int& out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 0);
    if (!ok || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool ParseHourMinute(const QString& text, int& h, int& m)
{
    const QStringList p = text.split(QLatin1Char(':'));
    return p.size() == 2 && ParseInt(p[0], 0, 23, h) && ParseInt(p[1], 0, 59, m);
}

int Usage(const QString& message)
{
    err() << "marquix-sim: " << message << "\n";
    err().flush();
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("marquix-sim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("A virtual LED controller card on a pseudo-terminal."));
    p.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"), "Create the pseudo-terminal's link at PATH (required).", "PATH");
    const QCommandLineOption versionBytes(QStringLiteral("version-bytes"), "The 4 version bytes, hexadecimal (default 10 02 01 0A).", "HEX");
    const QCommandLineOption params(QStringLiteral("params"), "The screen-parameter record, up to 16 bytes hexadecimal (default 08 08 01).", "HEX");
    const QCommandLineOption partitions(QStringLiteral("partitions"), "The partition table, up to 32 bytes hexadecimal, or 'none' (default none).", "HEX|none");
    const QCommandLineOption brightness(QStringLiteral("brightness"), "Brightness level 0-255 (default 15).", "N");
    const QCommandLineOption power(QStringLiteral("power"), "Power schedule: mode, on time, off time (default 0,00:00,00:00).", "MODE,HH:MM,HH:MM");
    const QCommandLineOption clock(QStringLiteral("clock"), "Start the card's clock at this local time, yyyy-MM-ddTHH:mm:ss (default now).", "TIME");
    const QCommandLineOption log(QStringLiteral("log"), "Append a JSON line per packet, reply and skipped run of bytes to FILE.", "FILE");
    const QCommandLineOption state(QStringLiteral("state"), "Keep FILE rewritten with the card's state as JSON.", "FILE");
    const QCommandLineOption render(QStringLiteral("render"), "Keep DIR/slot-NN.png current for every bitmap slot.", "DIR");
    const QCommandLineOption baud(QStringLiteral("baud"), "Pace replies at this line speed (default: no pacing).", "N");
    const QCommandLineOption noise(QStringLiteral("noise"), "Send N noise bytes (never 0xAF) before each reply.", "N");
    const QCommandLineOption noiseCount(QStringLiteral("noise-count"), "Only the next K replies get noise (default: all).", "K");
    const QCommandLineOption badChecksum(QStringLiteral("bad-checksum"), "Give the next K replies a wrong checksum.", "K");
    const QCommandLineOption silent(QStringLiteral("silent"), "Ignore command CODE (hexadecimal, e.g. 24 or 0x24); repeatable.", "CODE");
    const QCommandLineOption versionOnly(QStringLiteral("version-only"), "Answer only the version command (0x35).");
    const QCommandLineOption rejectParams(QStringLiteral("reject-params"), "Reject parameter writes (0x23) with status 0x04.");
    const QCommandLineOption noAf(QStringLiteral("no-af"), "Replace the next K replies by 52 bytes without any 0xAF.", "K");
    p.addOptions({link, versionBytes, params, partitions, brightness, power, clock, log, state, render, baud,
                  noise, noiseCount, badChecksum, silent, versionOnly, rejectParams, noAf});
    if (!p.parse(QCoreApplication::arguments()))
        return Usage(p.errorText());
    if (p.isSet(QStringLiteral("help")))
        p.showHelp(0);
    if (!p.positionalArguments().isEmpty())
        return Usage(QStringLiteral("unexpected argument %1").arg(p.positionalArguments().first()));
    if (!p.isSet(link) || p.value(link).isEmpty())
        return Usage(QStringLiteral("--link PATH is required"));

    SimCard card;
    QByteArray bytes;
    if (p.isSet(versionBytes)) {
        if (!ParseHex(p.value(versionBytes), 4, bytes) || bytes.size() != 4)
            return Usage(QStringLiteral("--version-bytes needs exactly 4 hexadecimal bytes"));
        card.SetVersion({uint8_t(bytes[0]), uint8_t(bytes[1]), uint8_t(bytes[2]), uint8_t(bytes[3])});
    }
    if (p.isSet(params)) {
        if (!ParseHex(p.value(params), 16, bytes))
            return Usage(QStringLiteral("--params needs 1 to 16 hexadecimal bytes"));
        std::array<uint8_t, 16> rec {};
        std::copy(bytes.begin(), bytes.end(), rec.begin());
        card.SetParams(rec);
    }
    if (p.isSet(partitions)) {
        if (p.value(partitions).compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) {
            card.SetPartitionsNone();
        } else {
            if (!ParseHex(p.value(partitions), 32, bytes))
                return Usage(QStringLiteral("--partitions needs 1 to 32 hexadecimal bytes or 'none'"));
            std::array<uint8_t, 32> table {};
            std::copy(bytes.begin(), bytes.end(), table.begin());
            card.SetPartitions(table);
        }
    }
    int n = 0;
    if (p.isSet(brightness)) {
        if (!ParseInt(p.value(brightness), 0, 255, n))
            return Usage(QStringLiteral("--brightness needs a number 0-255"));
        card.SetBrightness(uint8_t(n));
    }
    if (p.isSet(power)) {
        const QStringList parts = p.value(power).split(QLatin1Char(','));
        int mode = 0, onH = 0, onM = 0, offH = 0, offM = 0;
        if (parts.size() != 3 || !ParseInt(parts[0], 0, 255, mode) || !ParseHourMinute(parts[1], onH, onM) ||
            !ParseHourMinute(parts[2], offH, offM))
            return Usage(QStringLiteral("--power needs MODE,HH:MM,HH:MM"));
        card.SetPowerSchedule(uint8_t(mode), onH, onM, offH, offM);
    }
    if (p.isSet(clock)) {
        const QDateTime t = QDateTime::fromString(p.value(clock), Qt::ISODate);
        if (!t.isValid())
            return Usage(QStringLiteral("--clock needs yyyy-MM-ddTHH:mm:ss"));
        card.SetClock(t);
    }
    if (p.isSet(baud)) {
        if (!ParseInt(p.value(baud), 50, 4000000, n))
            return Usage(QStringLiteral("--baud needs a line speed 50-4000000"));
        card.SetPacing(n);
    }
    if (p.isSet(noise)) {
        int count = -1;
        if (!ParseInt(p.value(noise), 0, 4096, n) ||
            (p.isSet(noiseCount) && !ParseInt(p.value(noiseCount), 0, INT_MAX, count)))
            return Usage(QStringLiteral("--noise needs 0-4096 bytes, --noise-count a count"));
        card.SetNoise(n, count);
    }
    if (p.isSet(badChecksum)) {
        if (!ParseInt(p.value(badChecksum), 0, INT_MAX, n))
            return Usage(QStringLiteral("--bad-checksum needs a count"));
        card.SetBadChecksum(n);
    }
    for (const QString& code : p.values(silent)) {
        QString c = code.trimmed();
        if (c.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            c = c.mid(2);
        bool ok = false;
        const int v = c.toInt(&ok, 16);
        if (!ok || v < 0 || v > 255)
            return Usage(QStringLiteral("--silent needs a hexadecimal command code"));
        card.SetSilent(uint8_t(v));
    }
    card.SetVersionOnly(p.isSet(versionOnly));
    card.SetRejectParamWrite(p.isSet(rejectParams));
    if (p.isSet(noAf)) {
        if (!ParseInt(p.value(noAf), 0, INT_MAX, n))
            return Usage(QStringLiteral("--no-af needs a count"));
        card.SetNoAfBurst(n);
    }
    if (p.isSet(log) && !card.SetLogFile(p.value(log))) {
        err() << "marquix-sim: cannot open log file " << p.value(log) << "\n";
        return 1;
    }
    if (p.isSet(state) && !card.SetStateFile(p.value(state))) {
        err() << "marquix-sim: cannot write state file " << p.value(state) << "\n";
        return 1;
    }
    if (p.isSet(render) && !card.SetRenderDir(p.value(render))) {
        err() << "marquix-sim: cannot create render folder " << p.value(render) << "\n";
        return 1;
    }

    // Signals are taken by sigwait below, never by a handler, so the server thread runs
    // undisturbed and shutdown happens in plain code.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    mx::sim::PtyServer server(card);
    QString error;
    if (!server.Start(p.value(link), &error)) {
        err() << "marquix-sim: " << error << "\n";
        return 1;
    }
    std::printf("%s\n", qPrintable(server.LinkPath()));
    std::fflush(stdout);
    err() << "marquix-sim: serving on " << server.SlavePath() << "\n";
    err().flush();

    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.Stop();
    card.Flush();
    return 0;
}
