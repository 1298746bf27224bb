#include "core/ActivityLog.h"
#include "core/AppContext.h"
#include "core/CommandLine.h"
#include "core/ProgramFolders.h"
#include "engine/Startup.h"
#include "engine/MDI_Frmmanage.h"
#include "modem/QtSerialPort.h"
#include "ui/Ui.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>
#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char** argv) {
    QStringList list;
    for (int i = 0; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
    return list;
}

void print(std::FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

} // namespace

int main(int argc, char** argv) {
    // --help and --version answer before any window system is touched: they work on a
    // terminal without a display.
    CommandLine line = parseCommandLine(argumentsOf(argc, argv));
    const QString program = argc > 0 ? QFileInfo(QString::fromLocal8Bit(argv[0])).fileName()
                                     : QStringLiteral("varnex-bulksms");
    if (line.help) {
        print(stdout, commandLineHelp(program));
        return 0;
    }
    if (line.version) {
        print(stdout, versionLine() + QLatin1Char('\n'));
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Varnex"));
    QApplication::setApplicationName(QStringLiteral("BulkSMS"));
    QApplication::setApplicationVersion(QStringLiteral(BULKSMS_VERSION));
    // Ties the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(BULKSMS_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(BULKSMS_APP_ID)));

    // Qt took its own options (-platform, -style...) out of the arguments by now.
    if (!line.error.isEmpty()) line = parseCommandLine(QCoreApplication::arguments());
    if (!line.error.isEmpty()) {
        print(stderr, QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(program, line.error));
        return 2;
    }

    // The share folder's place relative to the executable comes from the install layout
    // (../share/varnex-bulksms); helpers the program starts would be found the same way.
    const ProgramFolders folders = chooseProgramFolders(gatherFolderFacts(
        QCoreApplication::applicationDirPath(), line.dataFolder,
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
        QStringLiteral(BULKSMS_SHARE_FROM_BIN)));
    const PreparedDataFolder prepared = prepareDataFolder(folders);
    if (!prepared.error.isEmpty()) {
        print(stderr, prepared.error + QLatin1Char('\n'));
        // Boxes do not wait: the program ends once it has been read.
        ui::MsgBox(prepared.error, [] { QCoreApplication::exit(1); });
        return app.exec();
    }

    AppContext ctx(folders.data, folders.shared);
    ctx.setSerialPort(std::make_unique<QtSerialPort>(ctx.dataFolder()));
    auto showMainWindow = [&ctx, &folders, copied = prepared.databaseCopied] {
        auto* w = new MDI_Frmmanage(ctx);
        ctx.mainWindow = w;
        w->show();
        // The first line of the log: which database this program works on.
        ctx.engine.ActivityLogEnabled = true;
        WriteActivityLog(ctx, databaseInUseNote(folders, copied));
        for (const QString& step : ctx.core.SchemaStepsApplied)
            WriteActivityLog(ctx, QStringLiteral("The database was brought up to date: ") + step);
        w->MDIForm_Load();
    };
    if (!Main(ctx, showMainWindow)) return 0;
    return app.exec();
}
