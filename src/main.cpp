#include "gui/FunctionTestWidget.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    int result = 0;
    {
        QApplication application(argc, argv);
        FunctionTestWidget window(nullptr);
        window.setOrganizationAndApplication(QStringLiteral("Orvand"), QStringLiteral("CalvaroClient"));
        window.readSettings();
        window.show();
        result = application.exec();
        window.writeSettings();
    }
    return result;
}
