#include "gui/FunctionTestWidget.h"
#include "gui/Settings.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    int result = 0;
    {
        QApplication application(argc, argv);
        FunctionTestWidget window(nullptr);
        window.setOrganizationAndApplication(QLatin1String(VLK::Settings::Organization),
                                             QLatin1String(VLK::Settings::Application));
        window.readSettings();
        window.show();
        result = application.exec();
        window.writeSettings();
    }
    return result;
}
