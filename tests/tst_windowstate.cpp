#include "WindowFixture.h"
#include "WindowSession.h"
#include "gui/FunctionTestWidget.h"
#include "gui/WindowStateStore.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTest>
#include <QtMath>

#include <memory>

using namespace VLK;
using WindowSession::jobLine;

namespace {

const QStringList ThreeJobs
    = { jobLine(QStringLiteral("alice/job-1/a.prja"), QStringLiteral("Queued")),
        jobLine(QStringLiteral("bob/job-2/b.prja"), QStringLiteral("Running")),
        jobLine(QStringLiteral("carol/job-3/c.prja"), QStringLiteral("Processed")) };

// Relative luminance and contrast ratio as the accessibility guidelines
// define them, worked out here on their own.
double luminance(const QColor &colour)
{
    double sum = 0;
    const double weights[] = { 0.2126, 0.7152, 0.0722 };
    const double channels[] = { colour.redF(), colour.greenF(), colour.blueF() };
    for (int i = 0; i < 3; ++i) {
        const double c = channels[i];
        sum += weights[i] * (c <= 0.03928 ? c / 12.92 : qPow((c + 0.055) / 1.055, 2.4));
    }
    return sum;
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// The dark variant of the Fusion style's colours that applications commonly set.
QPalette darkFusionPalette()
{
    QPalette palette;
    const QColor window(53, 53, 53), base(42, 42, 42), alternateBase(66, 66, 66);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, alternateBase);
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    return palette;
}

} // namespace

class TestWindowState : public WindowFixture
{
    Q_OBJECT

private slots:
    void stateSurvivesARestart_data();
    void stateSurvivesARestart();
    void defaultSizeShowsEightJobRows();
    void statusColoursStayReadable_data();
    void statusColoursStayReadable();

private:
    void tearDownWindow() override { m_window.reset(); }
    void startWindow();
    QTableWidget *table()
    {
        return m_window->findChild<QTableWidget *>(QStringLiteral("tableWidgetStatus"));
    }

    std::unique_ptr<FunctionTestWidget> m_window;
};

void TestWindowState::startWindow()
{
    m_window = std::make_unique<FunctionTestWidget>();
    m_window->setOrganizationAndApplication(Organization, Application);
    m_window->readSettings();
}

void TestWindowState::stateSurvivesARestart_data()
{
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("restored");

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QTest::newRow("on the screen")
        << QRect(screen.topLeft() + QPoint(40, 30), QSize(640, 480)) << true;
    QTest::newRow("on a monitor since removed")
        << QRect(screen.bottomRight() + QPoint(400, 300), QSize(640, 480)) << false;
    QTest::newRow("larger than any screen") << QRect(screen.topLeft(), screen.size() * 2) << false;
}

void TestWindowState::stateSurvivesARestart()
{
    QFETCH(QRect, geometry);
    QFETCH(bool, restored);

    startWindow();
    m_window->setGeometry(geometry);
    QVERIFY(WindowSession::connect(*m_window, *m_server));
    QVERIFY(WindowSession::showJobList(*m_window, *m_server, ThreeJobs));
    table()->setColumnWidth(3, 234);
    table()->sortByColumn(0, Qt::DescendingOrder);
    m_window->writeSettings();

    m_server = std::make_unique<FakeServer>();
    QVERIFY(m_server->listen());
    startWindow();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    if (restored) {
        QCOMPARE(m_window->geometry(), geometry);
    } else {
        QCOMPARE(m_window->size(), WindowStateStore::defaultSize().boundedTo(available.size()));
        QVERIFY(available.contains(m_window->geometry()));
    }
    QVERIFY(WindowSession::connect(*m_window, *m_server));
    QVERIFY(WindowSession::showJobList(*m_window, *m_server, ThreeJobs));
    QCOMPARE(table()->columnWidth(3), 234);
    QCOMPARE(table()->horizontalHeader()->sortIndicatorSection(), 0);
    QCOMPARE(table()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(table()->item(0, 0)->text(), QStringLiteral("carol"));
}

void TestWindowState::defaultSizeShowsEightJobRows()
{
    startWindow();
    // This screen may be smaller than the 1280 x 1024 that the size is for.
    m_window->resize(WindowStateStore::defaultSize());
    QVERIFY(WindowStateStore::defaultSize().width() <= 1280
            && WindowStateStore::defaultSize().height() <= 1024 - 64);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(WindowSession::connect(*m_window, *m_server));
    QStringList jobs;
    for (int i = 0; i < 20; ++i)
        jobs.append(ThreeJobs.at(i % 3));
    QVERIFY(WindowSession::showJobList(*m_window, *m_server, jobs));
    QVERIFY2(table()->viewport()->height() >= 8 * table()->rowHeight(0),
             qPrintable(QString::number(table()->viewport()->height())));
}

void TestWindowState::statusColoursStayReadable_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::addColumn<bool>("dark");

    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    QTest::newRow("light Fusion") << fusion->standardPalette() << false;
    QTest::newRow("dark Fusion") << darkFusionPalette() << true;
}

void TestWindowState::statusColoursStayReadable()
{
    QFETCH(QPalette, palette);
    QFETCH(bool, dark);

    startWindow();
    m_window->setPalette(palette);
    QVERIFY(WindowSession::connect(*m_window, *m_server));
    QVERIFY(WindowSession::showJobList(*m_window, *m_server, ThreeJobs));
    const QColor specified[] = { QColor(0, 200, 0), QColor(200, 0, 0) };
    for (int row = 0; row < 2; ++row) {
        const QTableWidgetItem *status = table()->item(row, 2);
        QVERIFY(status->text().startsWith(row == 0 ? QStringLiteral("Queued")
                                                   : QStringLiteral("Running")));
        const QColor shown = status->foreground().color();
        if (!dark) {
            QCOMPARE(shown, specified[row]);
            continue;
        }
        QCOMPARE(shown.hslHue(), specified[row].hslHue());
        QVERIFY(shown.lightness() >= specified[row].lightness());
        for (const QPalette::ColorRole rowColour : { QPalette::Base, QPalette::AlternateBase })
            QVERIFY2(contrast(shown, palette.color(rowColour)) >= 3.0,
                     qPrintable(QStringLiteral("%1 on %2: %3")
                                    .arg(shown.name(), palette.color(rowColour).name())
                                    .arg(contrast(shown, palette.color(rowColour)))));
    }
}

QTEST_MAIN(TestWindowState)
#include "tst_windowstate.moc"
