#include "storage/project_file.h"

#include "model/panel.h"
#include "codec/limits.h"
#include "codec/record_stream.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace mx {

QByteArray EncodeProject(const TLCMPanels& project, QString* error)
{
    RecordWriter out;
    project.WriteToFile(out);
    if (out.Failed()) {
        if (error)
            *error = out.Error();
        return {};
    }
    return out.Data();
}

StorageResult DecodeProject(const QByteArray& bytes, TLCMPanels& project, const QString& name)
{
    RecordReader in(bytes);
    if (!project.ReadFromFile(in))
        return {false, QStringLiteral("%1 is damaged at byte %2: %3").arg(name).arg(in.ErrorOffset()).arg(in.Error()),
                in.ErrorOffset()};
    return {true, {}, -1};
}

StorageResult LoadProject(const QString& path, TLCMPanels& project)
{
    const QString name = QDir::toNativeSeparators(path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {false, QStringLiteral("%1 cannot be opened: %2").arg(name, f.errorString()), -1};
    if (f.size() > kMaxProjectFileBytes)
        return {false, QStringLiteral("%1 is %2 bytes, more than a project can be").arg(name).arg(f.size()), -1};
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return {false, QStringLiteral("%1 cannot be read: %2").arg(name, f.errorString()), -1};
    return DecodeProject(bytes, project, name);
}

StorageResult WriteFileAtomically(const QString& path, const QByteArray& bytes)
{
    const QString name = QDir::toNativeSeparators(path);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {false, QStringLiteral("%1 cannot be written: %2").arg(name, f.errorString()), -1};
    if (f.write(bytes) != bytes.size()) {
        const QString why = f.errorString();
        f.cancelWriting();
        return {false, QStringLiteral("%1 cannot be written: %2").arg(name, why), -1};
    }
    if (!f.commit())
        return {false, QStringLiteral("%1 cannot be written: %2").arg(name, f.errorString()), -1};
    return {true, {}, -1};
}

StorageResult SaveProject(const TLCMPanels& project, const QString& path)
{
    QString error;
    const QByteArray bytes = EncodeProject(project, &error);
    if (!error.isEmpty())
        return {false, QStringLiteral("%1 was not saved: %2").arg(QDir::toNativeSeparators(path), error), -1};
    return WriteFileAtomically(path, bytes);
}

} // namespace mx
