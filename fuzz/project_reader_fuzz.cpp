// libFuzzer entry: any bytes given to the project reader must give a project or a message.
#include "model/panel.h"
#include "storage/project_file.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
    mx::TLCMPanels project;
    const auto r = mx::DecodeProject(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), project, "fuzz");
    if (!r.ok && r.message.isEmpty())
        std::abort(); // a refusal must say why
    if (r.ok) {
        // What was read must save again.
        QString error;
        mx::EncodeProject(project, &error);
    }
    return 0;
}
