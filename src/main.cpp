#include "core/AppContext.h"
#include "core/Startup.h"
#include "engine/MDI_Frmmanage.h"
#include "modem/QtSerialPort.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BulkSMS"));
    QApplication::setApplicationVersion(QStringLiteral(BULKSMS_VERSION));

    AppContext ctx(QCoreApplication::applicationDirPath());
    ctx.setSerialPort(std::make_unique<QtSerialPort>(ctx.programFolder()));
    auto showMainWindow = [&ctx] {
        auto* w = new MDI_Frmmanage(ctx);
        ctx.mainWindow = w;
        w->show();
        w->MDIForm_Load();
    };
    if (!Main(ctx, showMainWindow)) return 0;
    return app.exec();
}
