#include "WindowSession.h"

#include "FakeServer.h"
#include "gui/FunctionTestWidget.h"
#include "protocol/Protocol.h"

#include <QSignalSpy>
#include <QTest>

namespace WindowSession {

bool connect(FunctionTestWidget &window, FakeServer &server)
{
    QObject::disconnect(&window, SIGNAL(connectionEstablished()),
                        window.findChild<QWidget *>(QStringLiteral("loginWidget")), nullptr);
    QSignalSpy established(&window, &VLK::CalvaroClientBase::connectionEstablished);
    window.connectToServer(QStringLiteral("127.0.0.1"), server.port());
    return established.wait(5000) && server.waitForClient();
}

bool answer(FunctionTestWidget &window, FakeServer &server, const QByteArray &reply,
            const QString &waitForStatus)
{
    QSignalSpy status(&window, &VLK::CalvaroClientBase::addStatusMessage);
    window.awaitReply();
    server.send(reply);
    return QTest::qWaitFor([&] { return status.contains({ waitForStatus }); });
}

// The log tells only a changed number of jobs, so the list is waited for
// as such.
bool showJobList(FunctionTestWidget &window, FakeServer &server, const QStringList &jobs)
{
    QSignalSpy received(&window, &VLK::CalvaroClientBase::msgReceived);
    window.awaitReply();
    server.send(FakeServer::textList(VLK::MT_JobStatusReply, jobs));
    return QTest::qWaitFor(
        [&] { return received.contains({ QVariant(int(VLK::MT_JobStatusReply)) }); });
}

// The owner's name and the solver follow from the path's first part.
QString jobLine(const QString &path, const QString &status, bool accessible,
                const QString &progressMsg)
{
    const QString user = path.section(QLatin1Char('/'), 0, 0);
    return QStringList { user,        QStringLiteral("solver-") + user,
                         path,        status,
                         progressMsg, accessible ? QStringLiteral("yes") : QStringLiteral("no") }
        .join(QLatin1Char('\n'));
}

} // namespace WindowSession
