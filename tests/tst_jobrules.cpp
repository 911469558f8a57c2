#include "protocol/JobRules.h"

#include <QTest>

using namespace VLK;
using Status = JobRules::Status;

Q_DECLARE_METATYPE(JobRules::Status)

class TestJobRules : public QObject
{
    Q_OBJECT

private slots:
    void jobReading_data();
    void jobReading();
};

void TestJobRules::jobReading_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("progressMsg");
    QTest::addColumn<Status>("kind");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("shownTail");
    QTest::addColumn<bool>("offersResult");
    QTest::addColumn<QString>("offeredName");
    QTest::addColumn<QString>("suggestion"); // for the base name "runs/u1/case7"

    const QString ready = QStringLiteral("Ready for download: ");
    // An offer that fills the shown tail exactly, after 20 characters cut off.
    const QString longOffer = ready + QStringLiteral("long") + QString(52, 'y') + ".zip";
    const QString cutOff = ready + "r.zip" + QString(80, 'z');

    QTest::newRow("running, more words")
        << "Running (step 3)"
        << "a\\|b" << Status::Running << false << QStringList { "a", "b" } << "b" << false << ""
        << "runs/u1/case7.7z";
    QTest::newRow("lower-case is unknown")
        << "running"
        << "m" << Status::Other << false << QStringList { "m" } << "m" << false << ""
        << "runs/u1/case7.7z";
    QTest::newRow("queued") << "Queued (slow queue)"
                            << "" << Status::Queued << false << QStringList { "" } << "" << false
                            << ""
                            << "runs/u1/case7.7z";
    QTest::newRow("failed") << "Failed"
                            << "x" << Status::Failed << true << QStringList { "x" } << "x" << false
                            << ""
                            << "runs/u1/case7.7z";
    QTest::newRow("killed, empty messages kept")
        << "Killed"
        << "\\|a\\|" << Status::Killed << true << QStringList { "", "a", "" } << "" << false << ""
        << "runs/u1/case7.7z";
    QTest::newRow("separator is both characters")
        << "Processed"
        << "a\\b|c" << Status::Processed << true << QStringList { "a\\b|c" } << "a\\b|c" << false
        << ""
        << "runs/u1/case7.7z";
    QTest::newRow("offered zip") << "Processed"
                                 << "step\\|" + ready + "job-0001_results.zip" << Status::Processed
                                 << true << QStringList { "step", ready + "job-0001_results.zip" }
                                 << ready + "job-0001_results.zip" << true << "job-0001_results.zip"
                                 << "runs/u1/case7.zip";
    QTest::newRow("offered tar.gz, trimmed")
        << "Processed" << ready + " out.v2.tar.gz  " << Status::Processed << true
        << QStringList { ready + " out.v2.tar.gz  " } << ready + " out.v2.tar.gz  " << true
        << "out.v2.tar.gz"
        << "runs/u1/case7.tar.gz";
    QTest::newRow("offered without extension")
        << "Processed" << ready + "results" << Status::Processed << true
        << QStringList { ready + "results" } << ready + "results" << true << "results"
        << "runs/u1/case7.7z";
    QTest::newRow("offer not last")
        << "Processed" << ready + "r.zip\\|x" << Status::Processed << true
        << QStringList { ready + "r.zip", "x" } << "x" << false << ""
        << "runs/u1/case7.7z";
    QTest::newRow("offer in the tail of a long message")
        << "Processed" << QString(20, 'x') + longOffer << Status::Processed << true
        << QStringList { QString(20, 'x') + longOffer } << longOffer << true
        << longOffer.mid(ready.size()) << "runs/u1/case7.zip";
    QTest::newRow("offer cut off") << "Processed" << cutOff << Status::Processed << true
                                   << QStringList { cutOff } << cutOff.right(80) << false << ""
                                   << "runs/u1/case7.7z";
}

void TestJobRules::jobReading()
{
    QFETCH(QString, status);
    QFETCH(QString, progressMsg);
    QFETCH(Status, kind);
    QFETCH(bool, finished);
    QFETCH(QStringList, messages);
    QFETCH(QString, shownTail);
    QFETCH(bool, offersResult);
    QFETCH(QString, offeredName);
    QFETCH(QString, suggestion);

    QCOMPARE(JobRules::statusOf(status), kind);
    QCOMPARE(JobRules::isFinished(kind), finished);
    QCOMPARE(JobRules::splitMessages(progressMsg), messages);
    QCOMPARE(JobRules::joinMessages(messages), progressMsg);
    QCOMPARE(JobRules::lastMessage(progressMsg).toString(), messages.last());
    QCOMPARE(JobRules::lastMessageTail(progressMsg).toString(), shownTail);
    QCOMPARE(progressMsg.mid(JobRules::lastMessageTailStart(progressMsg)), shownTail);
    QCOMPARE(JobRules::offersResult(progressMsg), offersResult);
    QCOMPARE(JobRules::offeredResultName(progressMsg).toString(), offeredName);
    QCOMPARE(JobRules::resultFileName(QStringLiteral("runs/u1/case7"), progressMsg), suggestion);
    // The window reads the rules back from the shown tail alone.
    QCOMPARE(JobRules::resultFileName(QStringLiteral("runs/u1/case7"), shownTail), suggestion);
}

QTEST_GUILESS_MAIN(TestJobRules)
#include "tst_jobrules.moc"
