#include "core/ProgramFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <filesystem>
#include <system_error>

namespace {

QString databaseIn(const QString& folder) {
    return QDir(folder).filePath(QLatin1String(DatabaseFileName));
}

// Exists, or is a link (even one whose target is gone): either way it is not ours to
// replace.
bool occupied(const QString& path) {
    const QFileInfo fi(path);
    return fi.exists() || fi.isSymLink();
}

// Creates `folder` and its parents; the reason when it cannot.
QString makeFolder(const QString& folder) {
    std::error_code ec;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), ec);
    if (ec) return QString::fromLocal8Bit(ec.message());
    if (!QFileInfo(folder).isDir()) return QStringLiteral("it is not a folder");
    return {};
}

QString notWritable(const QString& folder, const QString& reason) {
    return QStringLiteral(
               "The data folder %1 cannot be written (%2).\n\nThe program keeps its database "
               "there. Make the folder writable for your user, or start the program with "
               "--data and a folder you may write to.")
        .arg(QDir::toNativeSeparators(folder), reason);
}

} // namespace

FolderFacts gatherFolderFacts(const QString& executableFolder, const QString& dataArgument,
                              const QString& appDataLocation, const QString& shareFromExecutable) {
    FolderFacts facts;
    facts.executableFolder = QDir::cleanPath(executableFolder);
    const QFileInfo folder(facts.executableFolder);
    facts.executableFolderWritable = folder.isDir() && folder.isWritable();
    facts.executableFolderHoldsDatabase = QFileInfo::exists(databaseIn(facts.executableFolder));
    if (!dataArgument.isEmpty())
        facts.dataArgument = QDir::cleanPath(QDir::current().absoluteFilePath(dataArgument));
    facts.appDataLocation = appDataLocation.isEmpty() ? QString() : QDir::cleanPath(appDataLocation);
    facts.installedSharedFolder =
        QDir::cleanPath(QDir(facts.executableFolder).filePath(shareFromExecutable));
    return facts;
}

ProgramFolders chooseProgramFolders(const FolderFacts& facts) {
    const bool portable = facts.executableFolderWritable && facts.executableFolderHoldsDatabase;
    ProgramFolders f;
    if (!facts.dataArgument.isEmpty())
        f.data = facts.dataArgument;
    else if (portable)
        f.data = facts.executableFolder;
    else
        f.data = facts.appDataLocation;
    f.shared = portable ? facts.executableFolder : facts.installedSharedFolder;
    f.shippedDatabase = databaseIn(facts.installedSharedFolder);
    return f;
}

PreparedDataFolder prepareDataFolder(const ProgramFolders& folders) {
    PreparedDataFolder result;
    if (folders.data.isEmpty()) {
        result.error = QStringLiteral(
            "The program found no folder for its data (is HOME set?). Start it with --data "
            "and the folder to use.");
        return result;
    }
    const QString database = databaseIn(folders.data);
    const bool needsDatabase = !occupied(database);
    if (needsDatabase && !QFileInfo(folders.shippedDatabase).isFile()) {
        result.error = QStringLiteral(
                           "The data folder %1 holds no database, and the empty database the "
                           "program ships with (%2) is missing, so there is none to start "
                           "from.\n\nInstall the program again, or put a BulkSMS.db into %1.")
                           .arg(QDir::toNativeSeparators(folders.data),
                                QDir::toNativeSeparators(folders.shippedDatabase));
        return result;
    }
    if (const QString reason = makeFolder(folders.data); !reason.isEmpty()) {
        result.error = QStringLiteral("The data folder %1 cannot be created (%2).")
                           .arg(QDir::toNativeSeparators(folders.data), reason);
        return result;
    }
    // A real write, not the permission bits: they do not tell a read-only mount, nor what
    // root may not write.
    {
        QTemporaryFile probe(QDir(folders.data).filePath(QStringLiteral(".write-check-XXXXXX")));
        if (!probe.open()) {
            result.error = notWritable(folders.data, probe.errorString());
            return result;
        }
    }
    if (!needsDatabase) return result;

    // QFile::copy writes a temporary file and renames it: BulkSMS.db is never a half
    // copy, and a database that appeared meanwhile is not replaced. The copy is the
    // user's own, whatever the shipped file's mode.
    QFile source(folders.shippedDatabase);
    if (!source.copy(database)) {
        result.error = QStringLiteral("The empty database could not be copied from %1 to %2 (%3).")
                           .arg(QDir::toNativeSeparators(folders.shippedDatabase),
                                QDir::toNativeSeparators(database), source.errorString());
        return result;
    }
    QFile::setPermissions(database, QFile::ReadOwner | QFile::WriteOwner);
    result.databaseCopied = true;
    QDir(folders.data).mkpath(QStringLiteral("ports"));
    return result;
}

QString databaseInUseNote(const ProgramFolders& folders, bool databaseCopied) {
    const QString database = QDir::toNativeSeparators(databaseIn(folders.data));
    if (!databaseCopied) return QStringLiteral("Database in use: %1").arg(database);
    return QStringLiteral("Database in use: %1 (new: a copy of the empty database %2)")
        .arg(database, QDir::toNativeSeparators(folders.shippedDatabase));
}
