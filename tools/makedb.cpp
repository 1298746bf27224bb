// Makes the shipped database: a new SQLCipher file keyed with the program's password,
// filled from the schema script. Usage: makedb SCHEMA.sql OUTPUT.db
#include "core/Database.h"
#include "core/SchemaSteps.h"

#include <QFile>
#include <cstdio>
#include <sqlite3.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: makedb SCHEMA.sql OUTPUT.db\n");
        return 2;
    }
    QFile schema(QString::fromLocal8Bit(argv[1]));
    if (!schema.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "makedb: cannot read %s\n", argv[1]);
        return 1;
    }
    const QByteArray script = schema.readAll();
    if (QFile::exists(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "makedb: %s exists; refusing to overwrite it\n", argv[2]);
        return 1;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[2], &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        std::fprintf(stderr, "makedb: cannot create %s: %s\n", argv[2], sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    const QByteArray key = databasePassword();
    char* err = nullptr;
    int rc = sqlite3_key(db, key.constData(), static_cast<int>(key.size()));
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, script.constData(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "makedb: %s\n", err ? err : sqlite3_errmsg(db));
        sqlite3_free(err);
        sqlite3_close(db);
        QFile::remove(QString::fromLocal8Bit(argv[2]));
        return 1;
    }
    sqlite3_close(db);
    // The shipped database has every layout step: it is made as an older one is upgraded.
    try {
        Database made;
        made.open(QString::fromLocal8Bit(argv[2]), key);
        upgradeSchema(made);
    } catch (const DbError& e) {
        std::fprintf(stderr, "makedb: %s\n", e.description().toLocal8Bit().constData());
        QFile::remove(QString::fromLocal8Bit(argv[2]));
        return 1;
    }
    return 0;
}
