#pragma once

#include <QString>
#include <QStringList>

class Database;

// The database's layout grows with the program: each step brings a database from one
// version (kept in the file's user_version) to the next, adding what a newer program
// needs (a column, an index, a table) and never taking away what an older one wrote.
// data/schema.sql is version 1, the layout the program first shipped with; the shipped
// database is made from it with every step applied, so new and upgraded databases are
// made by the same steps.

// The version this program works with.
int currentSchemaVersion();

// The version of an open database (0 for one made before versions were kept).
int schemaVersion(Database& db);

// Brings an older database up to the current version, all steps in one transaction:
// either every step is in the file afterwards or none is. Returns a line per step
// applied ("" when there was none to apply). A database newer than this program is left
// as it is. Throws DbError when a step fails (the file then stays as it was).
QStringList upgradeSchema(Database& db);
