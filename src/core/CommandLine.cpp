#include "core/CommandLine.h"

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    auto fail = [&line](const QString& text) {
        if (line.error.isEmpty()) line.error = text;
    };
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            line.help = true;
        } else if (a == QLatin1String("--version")) {
            line.version = true;
        } else if (a == QLatin1String("--data") || a.startsWith(QLatin1String("--data="))) {
            const bool joined = a.size() > 6; // --data=DIR
            if (!joined && i + 1 >= arguments.size()) {
                fail(QStringLiteral("--data needs a folder"));
                continue;
            }
            const QString folder = joined ? a.mid(7) : arguments[++i];
            if (folder.isEmpty())
                fail(QStringLiteral("--data needs a folder"));
            else if (!line.dataFolder.isEmpty() && line.dataFolder != folder)
                fail(QStringLiteral("--data given twice"));
            else
                line.dataFolder = folder;
        } else {
            fail(QStringLiteral("unknown argument: %1").arg(a));
        }
    }
    return line;
}

QString commandLineHelp(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [--data DIR]\n"
               "Varnex - Bulk SMS: sends and receives SMS through a GSM modem.\n"
               "\n"
               "  --data DIR   keep the database and the ports/ folder in DIR (created when\n"
               "               missing; a new folder gets the empty database the program\n"
               "               ships with). Several modems: one folder and one running\n"
               "               program for each.\n"
               "  --help       show this text and end\n"
               "  --version    show the version and end\n"
               "\n"
               "Without --data the data lives beside the program when its folder is writable\n"
               "and holds BulkSMS.db (a portable copy), and otherwise in the user's data\n"
               "folder, ~/.local/share/Varnex/BulkSMS.\n")
        .arg(program);
}

QString versionLine() {
    return QStringLiteral("Varnex - Bulk SMS " BULKSMS_VERSION);
}
