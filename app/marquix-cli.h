// Shared pieces of marquix-cli's subcommands.
#pragma once

#include <QString>
#include <QMap>
#include <QStringList>

#include <optional>

#include "flows/program.h"

namespace mx {
class TLCMPanel;
class TLCMPanels;
}

namespace cli {

enum Exit { ExitOk = 0, ExitDevice = 1, ExitUsage = 2, ExitInput = 3 };

// The command line after the subcommand: options with values, flags and positionals.
class Args {
public:
    Args(const QStringList& args, const QStringList& valueOptions, const QStringList& flagOptions = {});
    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    bool has(const QString& name) const { return values_.contains(name) || flags_.contains(name); }
    QString value(const QString& name) const { return values_.value(name).value(0); }
    QStringList values(const QString& name) const { return values_.value(name); }
    // The option as an integer in [lo, hi]; nullopt (and an error) when malformed.
    std::optional<int> intValue(const QString& name, int fallback, int lo, int hi);
    const QStringList& positionals() const { return positionals_; }

private:
    QMap<QString, QStringList> values_;
    QStringList flags_;
    QStringList positionals_;
    QString error_;
};

void out(const QString& line);
void err(const QString& line);
int usage(const QString& message = {});
// The usage on standard output, for --help: no error.
int help();

// Points the screen at --port N or --device PATH (default: the first port of the directory);
// listed: the device is put into the port directory (the search walks it). Answers false
// with a message on bad usage.
bool SelectPort(Args& args, mx::TLCMPanel& screen, bool listed = false);

int RunDeviceCommand(const QString& command, Args& args);
int RunProjectCommand(const QString& command, Args& args);
int RunSend(Args& args);

// Loads a .lcm or .json project; ExitInput with a message when it cannot.
int LoadAnyProject(const QString& path, mx::TLCMPanels& project);
// The screen of --screen N (1-based, default 1); none with a usage message.
mx::TLCMPanel* SelectScreen(Args& args, mx::TLCMPanels& project);
// How the CLI lays out rich-text pages before they leave the program.
mx::RichTextRenderer RichTextRenderer();

} // namespace cli
