#include "StartupBench.h"

#include "BenchSupport.h"

#include "gui/FunctionTestWidget.h"
#include "protocol/ApplicationIdentity.h"

#include <QCoreApplication>

namespace Bench {

namespace {

constexpr int ShowTimeoutMs = 30000;

int reportShown(QWidget &window, const QStringList &arguments)
{
    if (arguments.size() != 1)
        return fail(QStringLiteral("start-up: bad arguments"));
    const Clock::time_point launched { std::chrono::nanoseconds(arguments.at(0).toLongLong()) };
    PaintCounter paints(&window);
    window.show();
    if (!paints.waitForPaintAfter(0, ShowTimeoutMs))
        return fail(QStringLiteral("start-up: window not painted"));
    printResult({ { QStringLiteral("ms"), millisecondsBetween(launched, Clock::now()) } });
    return 0;
}

} // namespace

int runStartupClient(const QStringList &arguments)
{
    VLK::ApplicationIdentity::install();
    FunctionTestWidget window;
    window.setOrganizationAndApplication(QCoreApplication::organizationName(),
                                         QCoreApplication::applicationName());
    window.readSettings();
    return reportShown(window, arguments);
}

int runStartupBaseline(const QStringList &arguments)
{
    QWidget window;
    return reportShown(window, arguments);
}

} // namespace Bench
