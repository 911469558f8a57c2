#include "gui/FunctionTestWidget.h"
#include "protocol/ApplicationIdentity.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    int result = 0;
    {
        QApplication application(argc, argv);
        VLK::ApplicationIdentity::install();
        FunctionTestWidget window(nullptr);
        window.setOrganizationAndApplication(QCoreApplication::organizationName(),
                                             QCoreApplication::applicationName());
        window.readSettings();
        window.show();
        result = application.exec();
        window.writeSettings();
    }
    return result;
}
