// marquix-cli: the engine without a window, for scripts and headless boxes.
#include "marquix-cli.h"

#include "link/portdir.h"
#include "model/panel.h"
#include "render/rich_text.h"
#include "storage/paths.h"

#include <QGuiApplication>
#include <QMap>

#include <cerrno>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace cli {

Args::Args(const QStringList& args, const QStringList& valueOptions, const QStringList& flagOptions)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a.startsWith(QStringLiteral("--"))) {
            QString name = a.mid(2);
            QString value;
            const qsizetype eq = name.indexOf(u'=');
            const bool inlineValue = eq >= 0;
            if (inlineValue) {
                value = name.mid(eq + 1);
                name = name.left(eq);
            }
            if (valueOptions.contains(name)) {
                if (!inlineValue) {
                    if (i + 1 >= args.size()) {
                        error_ = QStringLiteral("option --%1 needs a value").arg(name);
                        return;
                    }
                    value = args[++i];
                }
                values_[name].append(value);
            } else if (inlineValue) {
                error_ = QStringLiteral("option --%1 takes no value").arg(name);
                return;
            } else if (flagOptions.contains(name)) {
                flags_.append(name);
            } else {
                error_ = QStringLiteral("unknown option --%1").arg(name);
                return;
            }
        } else {
            positionals_.append(a);
        }
    }
}

std::optional<int> Args::intValue(const QString& name, int fallback, int lo, int hi)
{
    if (!values_.contains(name))
        return fallback;
    bool ok = false;
    const int v = value(name).toInt(&ok);
    if (!ok || v < lo || v > hi) {
        error_ = QStringLiteral("--%1 must be a number from %2 to %3").arg(name).arg(lo).arg(hi);
        return std::nullopt;
    }
    return v;
}

void out(const QString& line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void err(const QString& line)
{
    std::fputs(line.toUtf8().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

namespace {
const QString& UsageText()
{
    static const QString text = QStringLiteral(
        "usage: marquix-cli COMMAND [options]\n"
        "project commands (PROJECT is a .lcm or .json file):\n"
        "  info PROJECT [--json]\n"
        "  convert IN OUT                     .lcm <-> .json by extension\n"
        "  export-sd PROJECT [--screen N] --dir DIR     writes DIR/led.sd\n"
        "  render PROJECT [--screen N] [--page K] --out DIR [--terminal]   PNGs of the LED pages as sent\n"
        "  send PROJECT [--screen N] (--port N | --device PATH) [--force]   the program to the card;\n"
        "                                     --force sends to a card whose screen is not the project's\n"
        "device commands (--port N | --device PATH) [--address N]:\n"
        "  version | search | clear | sync-clock\n"
        "  brightness [LEVEL]                 read, or set 0..15\n"
        "  power [MODE ON OFF]                read, or set: MODE 0..255, ON and OFF as HH:MM\n"
        "  params [read | write FILE]         the screen-parameter record as JSON\n"
        "  partitions [read | write --rect L,T,R,B ...]\n"
        "  params write --project P [--screen N], partitions write --project P [--screen N]\n"
        "see docs/cli.md");
    return text;
}
} // namespace

int usage(const QString& message)
{
    if (!message.isEmpty())
        err(QStringLiteral("marquix-cli: ") + message);
    err(UsageText());
    return ExitUsage;
}

int help()
{
    out(UsageText());
    return ExitOk;
}

mx::RichTextRenderer RichTextRenderer() { return mx::LayOutRichText; }

bool SelectPort(Args& args, mx::TLCMPanel& screen, bool listed)
{
    if (args.has(QStringLiteral("device")) && args.has(QStringLiteral("port"))) {
        usage(QStringLiteral("give either --port or --device"));
        return false;
    }
    if (args.has(QStringLiteral("device"))) {
        const QString device = args.value(QStringLiteral("device"));
        if (!listed) {
            screen.UseDevice(device);
            return true;
        }
        // The search walks the directory: the device goes first in it, under a number the
        // directory never hands out itself.
        mx::SetPortOverride(mx::kMaxPortNumber, device);
        screen.SetSerialPortNumber(mx::kMaxPortNumber);
        return true;
    }
    const auto port = args.intValue(QStringLiteral("port"), mx::FirstSerialPortNumber(), 1, mx::kMaxPortNumber);
    if (!port) {
        usage(args.error());
        return false;
    }
    screen.SetSerialPortNumber(*port);
    return true;
}

} // namespace cli

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        // Headless boxes often have no session; give Qt the private folder it would pick anyway.
        const QByteArray dir = "/tmp/runtime-" + QByteArray::number(getuid());
        if (mkdir(dir.constData(), 0700) == 0 || errno == EEXIST)
            qputenv("XDG_RUNTIME_DIR", dir);
    }
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Marquix"));
    mx::SetPortSettingsFile(mx::SettingsFilePath());

    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return cli::usage();
    if (args.first() == QStringLiteral("--help") || args.first() == QStringLiteral("help"))
        return cli::help();
    const QString command = args.takeFirst();
    static const QStringList deviceCommands = {"version", "search", "clear", "sync-clock", "brightness",
                                               "power", "params", "partitions"};
    if (deviceCommands.contains(command)) {
        cli::Args parsed(args, {"port", "device", "address", "rect", "screen", "project"});
        if (!parsed.ok())
            return cli::usage(parsed.error());
        return cli::RunDeviceCommand(command, parsed);
    }
    if (command == QLatin1String("send")) {
        cli::Args parsed(args, {"port", "device", "screen"}, {"force"});
        if (!parsed.ok())
            return cli::usage(parsed.error());
        return cli::RunSend(parsed);
    }
    static const QStringList projectCommands = {"info", "convert", "export-sd", "render"};
    if (projectCommands.contains(command)) {
        cli::Args parsed(args, {"screen", "dir", "page", "out"}, {"json", "terminal"});
        if (!parsed.ok())
            return cli::usage(parsed.error());
        return cli::RunProjectCommand(command, parsed);
    }
    return cli::usage(QStringLiteral("unknown command '%1'").arg(command));
}
