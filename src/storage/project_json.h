// A readable JSON form of a project, for examples, scripts and review. Converting a project
// file to JSON and back gives the same bytes.
#pragma once

#include "model/hwcommands.h"
#include "storage/project_file.h"

#include <QJsonObject>

#include <optional>

namespace mx {

class TLCMPanels;

QByteArray ProjectToJson(const TLCMPanels& project);
// baseDir resolves "pictureFile" entries. A damaged document leaves the project as it was.
StorageResult ProjectFromJson(const QByteArray& json, TLCMPanels& project, const QString& nameForMessages,
                              const QString& baseDir = {});

// The screen-parameter record with its fields named; "record" holds all 16 bytes.
QJsonObject ParamsToJson(const ParamRecord& params);
// Starts from "record" (or a new screen's record) and applies each named field that differs.
std::optional<ParamRecord> ParamsFromJson(const QJsonObject& object, QString* error);

} // namespace mx
