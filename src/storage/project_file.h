// Loading and saving whole projects.
#pragma once

#include <QByteArray>
#include <QString>

namespace mx {

class TLCMPanels;

struct StorageResult {
    bool ok = false;
    QString message;        // for the operator: names the file and what went wrong
    qint64 offset = -1;     // where a damaged file went wrong
};

QByteArray EncodeProject(const TLCMPanels& project, QString* error = nullptr);
// Reads into the project only when the whole file is sound; a damaged file leaves it as it was.
StorageResult DecodeProject(const QByteArray& bytes, TLCMPanels& project, const QString& nameForMessages);

StorageResult LoadProject(const QString& path, TLCMPanels& project);
// Written whole or not at all: a temporary file beside the target, then a rename.
StorageResult SaveProject(const TLCMPanels& project, const QString& path);
// Writes bytes to a file whole or not at all.
StorageResult WriteFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace mx
