// marquix-cli send: the whole program of a screen to its card, with progress and a clean stop.
#include "marquix-cli.h"

#include "flows/flows.h"
#include "model/panel.h"
#include "flows/outcome_text.h"

#include <QDir>

#include <atomic>
#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace cli {
namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) { g_stop = true; }

class ProgressPrinter {
public:
    ProgressPrinter() : terminal_(isatty(STDOUT_FILENO) != 0) {}
    void show(const mx::SendEvent& e, int pageCount)
    {
        if (terminal_) {
            const int width = 30;
            const int filled = e.percent * width / 100;
            std::fprintf(stdout, "\r[%s%s] %3d%%  page %d/%d  %d packets", QByteArray(filled, '#').constData(),
                         QByteArray(width - filled, '.').constData(), e.percent, e.page + 1, pageCount, e.packets);
            std::fflush(stdout);
            drawn_ = true;
        } else if (e.percent / 10 != lastTenth_ || e.page != lastPage_) {
            // Plain lines for logs: one per page, and one per tenth of the way.
            out(QStringLiteral("progress %1% page %2/%3 packets %4").arg(e.percent).arg(e.page + 1).arg(pageCount).arg(e.packets));
        }
        lastTenth_ = e.percent / 10;
        lastPage_ = e.page;
    }
    void end()
    {
        if (drawn_)
            std::fputc('\n', stdout);
    }

private:
    bool terminal_;
    bool drawn_ = false;
    int lastTenth_ = -1;
    int lastPage_ = -1;
};

} // namespace

int RunSend(Args& args)
{
    const QStringList& pos = args.positionals();
    if (pos.size() != 1)
        return usage(QStringLiteral("send PROJECT --screen N (--port N | --device PATH) [--force]"));
    mx::TLCMPanels project;
    if (const int rc = LoadAnyProject(pos[0], project))
        return rc;
    mx::TLCMPanel* screen = SelectScreen(args, project);
    if (!screen)
        return ExitUsage;
    if (!SelectPort(args, *screen))
        return ExitUsage;

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    ProgressPrinter printer;
    mx::SendOptions options;
    options.render = RichTextRenderer();
    const int pageCount = screen->units->GetCount();
    options.progress = [&](const mx::SendEvent& e) { printer.show(e, pageCount); };
    options.stop = [] { return g_stop.load(); };
    const bool force = args.has(QStringLiteral("force"));
    options.confirmScreen = [&](const mx::ScreenMismatch& m) {
        if (force)
            err(QStringLiteral("warning: %1; sending anyway (--force)").arg(m.Describe()));
        return force;
    };
    const mx::FlowResult r = mx::SendAllPages(*screen, options);
    printer.end();

    if (r.outcome == mx::Outcome::NothingToSend) {
        err(QStringLiteral("%1 has no pages; nothing was sent.").arg(screen->GetName()));
        return ExitDevice;
    }
    const mx::SendSummary& s = r.summary;
    const QString summary = QStringLiteral("%1 page(s), %2 slot(s), %3 packet(s), %4 bytes in %5 s")
                                .arg(s.pages)
                                .arg(s.slots)
                                .arg(s.packets)
                                .arg(s.bytes)
                                .arg(double(s.ms) / 1000.0, 0, 'f', 2);
    for (const QString& w : r.warnings)
        err(QStringLiteral("warning: %1").arg(w));
    if (r.ok()) {
        out(mx::text::Success());
        out(summary);
        return ExitOk;
    }
    err(mx::text::OutcomeText(r.outcome));
    if (!r.detail.isEmpty())
        err(r.detail);
    if (r.outcome == mx::Outcome::ScreenMismatch)
        err(QStringLiteral("set the card's screen (params write --project) or give --force to send anyway"));
    err(summary);
    return ExitDevice;
}

} // namespace cli
