// `station quality` and `station report --html FILE`: the line-quality
// figures of a period (docs/quality.md) as text, JSON or one HTML page.
#pragma once

#include "Command.h"
#include "QualityFigures.h"

namespace bms::cli {

// Whether the station command's words are this file's.
bool IsStationQualityCommand(const QStringList& args, bool html);

std::unique_ptr<Command> MakeStationQualityCommand(Session& session);

// The report as one self-contained HTML page, its charts drawn in it as SVG
// (StationQualityHtml.cpp). `charts`: the control charts of the measurements
// with alerts.
QString QualityHtml(const records::QualityFigures& figures, const std::vector<records::ControlChart>& charts,
                    const QString& title);

} // namespace bms::cli
