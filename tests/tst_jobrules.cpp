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
    const QString longOffer
        = ready + QStringLiteral("long") + QString(52, u'y') + QStringLiteral(".zip");
    const QString cutOff = ready + QStringLiteral("r.zip") + QString(80, u'z');

    QTest::newRow("running, more words")
        << "Running (step 3)" << QStringLiteral("a\\|b") << Status::Running << false
        << QStringList { QStringLiteral("a"), QStringLiteral("b") } << QStringLiteral("b") << false
        << QStringLiteral("") << "runs/u1/case7.7z";
    QTest::newRow("lower-case is unknown")
        << "running" << QStringLiteral("m") << Status::Other << false
        << QStringList { QStringLiteral("m") } << QStringLiteral("m") << false << QStringLiteral("")
        << "runs/u1/case7.7z";
    QTest::newRow("queued") << "Queued (slow queue)" << QStringLiteral("") << Status::Queued
                            << false << QStringList { QStringLiteral("") } << QStringLiteral("")
                            << false << ""
                            << "runs/u1/case7.7z";
    QTest::newRow("failed") << "Failed" << QStringLiteral("x") << Status::Failed << true
                            << QStringList { QStringLiteral("x") } << QStringLiteral("x") << false
                            << ""
                            << "runs/u1/case7.7z";
    QTest::newRow("killed, empty messages kept")
        << "Killed" << QStringLiteral("\\|a\\|") << Status::Killed << true
        << QStringList { QStringLiteral(""), QStringLiteral("a"), QStringLiteral("") }
        << QStringLiteral("") << false << QStringLiteral("") << "runs/u1/case7.7z";
    QTest::newRow("separator is both characters")
        << "Processed" << QStringLiteral("a\\b|c") << Status::Processed << true
        << QStringList { QStringLiteral("a\\b|c") } << QStringLiteral("a\\b|c") << false << ""
        << "runs/u1/case7.7z";
    QTest::newRow("offered zip") << "Processed"
                                 << QStringLiteral("step\\|") + ready
            + QStringLiteral("job-0001_results.zip")
                                 << Status::Processed << true
                                 << QStringList { QStringLiteral("step"),
                                                  ready + QStringLiteral("job-0001_results.zip") }
                                 << ready + QStringLiteral("job-0001_results.zip") << true
                                 << QStringLiteral("job-0001_results.zip") << "runs/u1/case7.zip";
    QTest::newRow("offered tar.gz, trimmed")
        << QStringLiteral("Processed") << ready + QStringLiteral(" out.v2.tar.gz  ")
        << Status::Processed << true << QStringList { ready + QStringLiteral(" out.v2.tar.gz  ") }
        << ready + QStringLiteral(" out.v2.tar.gz  ") << true << "out.v2.tar.gz"
        << "runs/u1/case7.tar.gz";
    QTest::newRow("offered without extension")
        << QStringLiteral("Processed") << ready + QStringLiteral("results") << Status::Processed
        << true << QStringList { ready + QStringLiteral("results") }
        << ready + QStringLiteral("results") << true << QStringLiteral("results")
        << "runs/u1/case7.7z";
    QTest::newRow("offer not last")
        << QStringLiteral("Processed") << ready + QStringLiteral("r.zip\\|x") << Status::Processed
        << true << QStringList { ready + QStringLiteral("r.zip"), QStringLiteral("x") }
        << QStringLiteral("x") << false << QStringLiteral("") << "runs/u1/case7.7z";
    QTest::newRow("offer in the tail of a long message")
        << "Processed" << QString(20, u'x') + longOffer << Status::Processed << true
        << QStringList { QString(20, u'x') + longOffer } << longOffer << true
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
