#pragma once

#include <QString>
#include <QStringList>

// Where the program keeps its data and where it finds the files it ships with.
//
// The data folder holds the user's database (BulkSMS.db) and the ports/ folder of COM
// port links; the program writes there. The shared folder holds what the program ships
// and only reads: the notification sounds and the empty database a new data folder
// starts from.
//
// A portable copy (the build's program folder, or a copied folder) keeps everything
// beside the executable, as long as that folder is writable and holds BulkSMS.db. An
// installed program (in /usr/bin, say) keeps the data in the user's data folder
// (~/.local/share/Varnex/BulkSMS) and reads its shipped files from the share folder
// beside its bin folder (/usr/share/varnex-bulksms). `--data DIR` chooses the data
// folder; one folder per modem, one program per folder.

// Name of the database file, in the data folder and in the shared folder.
inline constexpr char DatabaseFileName[] = "BulkSMS.db";

// What the choice depends on, gathered at start.
struct FolderFacts {
    QString executableFolder;
    bool executableFolderWritable = false;
    bool executableFolderHoldsDatabase = false;
    QString dataArgument;           // --data DIR made absolute; empty when not given
    QString appDataLocation;        // the user's data folder for this program
    QString installedSharedFolder;  // <executable folder>/../share/varnex-bulksms
};

struct ProgramFolders {
    QString data;
    QString shared;
    // The empty database a data folder without one gets a copy of.
    QString shippedDatabase;
};

// Looks at the executable's folder and the file system; `dataArgument` may be relative
// (to the working folder); `shareFromExecutable` is the shared folder relative to the
// executable's folder.
FolderFacts gatherFolderFacts(const QString& executableFolder, const QString& dataArgument,
                              const QString& appDataLocation, const QString& shareFromExecutable);

// The choice itself, nothing but the facts:
//   data:   --data DIR; else the executable's folder when it is writable and holds
//           BulkSMS.db (portable); else the user's data folder.
//   shared: the executable's folder when it is portable; else the installed share folder.
//   shippedDatabase: BulkSMS.db of the installed share folder (a portable folder's own
//           database holds its user's messages and is never copied).
ProgramFolders chooseProgramFolders(const FolderFacts& facts);

struct PreparedDataFolder {
    QString error;              // empty when the folder is ready
    bool databaseCopied = false; // this start gave the folder the shipped database
};

// Makes the data folder ready: creates it when missing, makes sure the program may write
// there, and, when it holds no BulkSMS.db, copies the shipped empty database in (and
// creates ports/). An existing database, even a link to one elsewhere, is never
// replaced. On any failure the error text says what and where, and no partial
// database is left behind.
PreparedDataFolder prepareDataFolder(const ProgramFolders& folders);

// The activity log's note on the database in use.
QString databaseInUseNote(const ProgramFolders& folders, bool databaseCopied);
