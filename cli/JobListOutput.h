#pragma once

#include "protocol/Protocol.h"

#include <QJsonArray>
#include <QList>
#include <QString>

namespace Cli {

// The jobs as an aligned table with a heading: user, solver, status, path and
// the last progress message.
QString jobTable(const QList<VLK::JobInfo> &jobs);
// The jobs as JSON objects with the five fields of a job line, whether it is
// accessible, and its progress messages as a list.
QJsonArray jobsAsJson(const QList<VLK::JobInfo> &jobs);

} // namespace Cli
