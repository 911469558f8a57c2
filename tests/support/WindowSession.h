#pragma once

#include <QString>
#include <QStringList>

class FakeServer;
class FunctionTestWidget;

// The main window connected to a FakeServer without its login panel, so
// that a test decides which replies arrive: job lists, a login.
namespace WindowSession {

bool connect(FunctionTestWidget &window, FakeServer &server);
// Sends reply as the answer the window waits for and returns once the window
// has put waitForStatus into its status log.
bool answer(FunctionTestWidget &window, FakeServer &server, const QByteArray &reply,
            const QString &waitForStatus);
// A job list with jobs (lines as jobLine() makes them), shown in the table.
bool showJobList(FunctionTestWidget &window, FakeServer &server, const QStringList &jobs);
QString jobLine(const QString &path, const QString &status, bool accessible = true,
                const QString &progressMsg = QStringLiteral("started"));

} // namespace WindowSession
