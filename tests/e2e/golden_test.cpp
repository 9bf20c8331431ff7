// Golden transcripts: every packet and reply of sending each example project to a virtual card
// set to the project's screen, and the example's SD export, kept under tests/data/golden/. A
// change that moves one byte on the wire or in a file fails here; when the change is meant,
// scripts/update-golden writes them anew and the diff shows what moved.
#include "flows/flows.h"
#include "flows/sd_export.h"
#include "simfixture.h"
#include "storage/project_json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace mx;

namespace {

const QString kGoldenDir = QStringLiteral(MARQUIX_SOURCE_DIR "/tests/data/golden");

bool updating() { return !qEnvironmentVariableIsEmpty("MARQUIX_UPDATE_GOLDEN"); }

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Compares with the kept file, or writes it when updating.
void checkGolden(const QString& name, const QByteArray& got)
{
    const QString path = kGoldenDir + u'/' + name;
    if (updating()) {
        QDir().mkpath(kGoldenDir);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write(got);
        return;
    }
    const QByteArray want = readAll(path);
    ASSERT_FALSE(want.isEmpty()) << path.toStdString() << " is missing: run scripts/update-golden";
    if (want == got)
        return;
    qsizetype at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at])
        ++at;
    FAIL() << name.toStdString() << " differs from byte " << at << " on (" << got.size() << " bytes, kept "
           << want.size() << "); if the change is meant, run scripts/update-golden";
}

class Golden : public SimLink, public ::testing::WithParamInterface<QString> {
protected:
    void load(TLCMPanels& into)
    {
        const QString json = QStringLiteral(MARQUIX_SOURCE_DIR "/examples/") + GetParam() + ".json";
        const StorageResult r = ProjectFromJson(readAll(json), into, json, QFileInfo(json).absolutePath());
        ASSERT_TRUE(r.ok) << r.message.toStdString();
    }
};

TEST_P(Golden, SendTranscript)
{
    TLCMPanels example;
    ASSERT_NO_FATAL_FAILURE(load(example));
    TLCMPanel& s = *example.GetPanel(0);
    // The card already holds the project's screen and layout, as after the settings dialogs.
    card.SetParams(s.params);
    if (s.partition->GetCount() > 1) {
        std::array<uint8_t, 32> table{};
        EncodePartitionTable(*s.partition, table.data());
        card.SetPartitions(table);
    }
    s.SetSerialPortNumber(1);
    const FlowResult r = SendAllPages(s);
    ASSERT_EQ(r.outcome, Outcome::Success) << r.detail.toStdString();

    QByteArray transcript;
    for (const sim::Exchange& e : card.History()) {
        transcript += "> " + e.packet.toHex(' ') + '\n';
        transcript += "< " + e.reply.toHex(' ') + '\n';
    }
    checkGolden(GetParam() + ".send.txt", transcript);
}

TEST_P(Golden, SdExport)
{
    TLCMPanels example;
    ASSERT_NO_FATAL_FAILURE(load(example));
    QTemporaryDir out;
    const ExportOutcome r = ExportSd(*example.GetPanel(0), out.path());
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    checkGolden(GetParam() + ".led.sd", readAll(r.path));
}

INSTANTIATE_TEST_SUITE_P(Examples, Golden,
                         ::testing::Values(QStringLiteral("text-64x16"), QStringLiteral("shop-128x32"),
                                           QStringLiteral("photo-256x64")),
                         [](const auto& info) {
                             QString n = info.param;
                             return n.replace(u'-', u'_').toStdString();
                         });

} // namespace
