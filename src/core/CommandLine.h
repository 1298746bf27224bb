#pragma once

#include <QString>
#include <QStringList>

// The program's few command-line options:
//   --data DIR   (or --data=DIR) the data folder to use
//   --help, -h   the usage text on standard output; no window opens
//   --version    the program's name and version on standard output; no window opens
struct CommandLine {
    bool help = false;
    bool version = false;
    QString dataFolder;
    // The first thing not understood; empty when all was. --help and --version still
    // count when the line holds something else too.
    QString error;
};

// `arguments` as QCoreApplication::arguments() gives them: the program first.
CommandLine parseCommandLine(const QStringList& arguments);

// The usage text; `program` is the name the program was started by.
QString commandLineHelp(const QString& program);
// "Varnex - Bulk SMS 1.0.0"
QString versionLine();
