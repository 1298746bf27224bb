#include "core/Database.h"

#include "core/DateTimeText.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <sqlite3.h>

QByteArray databasePassword() {
    return QByteArrayLiteral("tolvek");
}

int QueryResult::column(const QString& name) const {
    for (int i = 0; i < columns.size(); ++i)
        if (columns[i].compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

QVariant QueryResult::value(int row, const QString& name) const {
    const int c = column(name);
    if (c < 0)
        throw DbError(QStringLiteral("Item cannot be found in the collection corresponding to "
                                     "the requested name or ordinal: %1")
                          .arg(name));
    if (row < 0 || row >= rows.size())
        throw DbError(QStringLiteral("Either BOF or EOF is True, or the current record has "
                                     "been deleted."));
    return rows[row][c];
}

Database::~Database() {
    close();
}

void Database::fail(const QString& what) const {
    QString reason = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("no database");
    throw DbError(what.isEmpty() ? reason : what + QStringLiteral(": ") + reason);
}

void Database::open(const QString& path, const QByteArray& key) {
    close();
    if (!QFileInfo(path).isFile())
        throw DbError(QStringLiteral("Could not find file '%1'.").arg(path));
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        QString reason =
            db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        sqlite3_close(db);
        throw DbError(QStringLiteral("Could not open file '%1': %2").arg(path, reason));
    }
    db_ = db;
    try {
        if (sqlite3_key(db_, key.constData(), static_cast<int>(key.size())) != SQLITE_OK)
            fail(QStringLiteral("Could not apply the database password"));
        sqlite3_busy_timeout(db_, 500); // longer locks: retried at the next tick
        // Reading the catalogue proves the key: a foreign or damaged file fails here.
        const int tables =
            static_cast<int>(count(QStringLiteral("select name from sqlite_master")));
        if (tables == 0)
            throw DbError(QStringLiteral("'%1' holds no tables; it is not the program's database.")
                              .arg(path));
        execute(QStringLiteral("PRAGMA foreign_keys = ON"));
        // Decrypted pages stay in memory (up to 64 MiB), so paging through a large
        // folder decrypts its index once rather than at every page.
        execute(QStringLiteral("PRAGMA cache_size = -65536"));
    } catch (const DbError& e) {
        close();
        QString d = e.description();
        if (d.contains(QLatin1String("not a database")) || d.contains(QLatin1String("encrypted")))
            d = QStringLiteral("Not a valid password, or '%1' is not the program's database (%2).")
                    .arg(path, e.description());
        throw DbError(d);
    }
}

void Database::close() {
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

namespace {

// One prepared statement, finalised on scope exit.
class Statement {
public:
    Statement(sqlite3* db, const QString& sql) : db_(db) {
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &stmt_,
                               nullptr) != SQLITE_OK)
            throw DbError(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(const QVariantList& params) {
        const int expected = sqlite3_bind_parameter_count(stmt_);
        if (expected != params.size())
            throw DbError(QStringLiteral("Statement expects %1 values but was given %2.")
                              .arg(expected)
                              .arg(params.size()));
        for (int i = 0; i < params.size(); ++i)
            bindOne(i + 1, params[i]);
    }

    // Makes the statement ready to run again with new values.
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

    // Steps once; true while a row is available.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw DbError(QString::fromUtf8(sqlite3_errmsg(db_)));
    }

    int columnCount() const { return sqlite3_column_count(stmt_); }
    QString columnName(int c) const { return QString::fromUtf8(sqlite3_column_name(stmt_, c)); }

    QVariant columnValue(int c) const {
        switch (sqlite3_column_type(stmt_, c)) {
        case SQLITE_INTEGER:
            return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt_, c)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(stmt_, c));
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, c));
            return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(stmt_, c)));
        }
        case SQLITE_BLOB: {
            const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, c));
            return QVariant(QByteArray(data, sqlite3_column_bytes(stmt_, c)));
        }
        default:
            return QVariant();
        }
    }

private:
    void bindOne(int i, const QVariant& v) {
        int rc = SQLITE_OK;
        if (v.isNull() || !v.isValid()) {
            rc = sqlite3_bind_null(stmt_, i);
        } else {
            switch (v.typeId()) {
            case QMetaType::Bool:
                rc = sqlite3_bind_int(stmt_, i, v.toBool() ? -1 : 0);
                break;
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::LongLong:
            case QMetaType::ULongLong:
            case QMetaType::Short:
            case QMetaType::UShort:
                rc = sqlite3_bind_int64(stmt_, i, v.toLongLong());
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                rc = sqlite3_bind_double(stmt_, i, v.toDouble());
                break;
            case QMetaType::QDateTime:
                rc = bindText(i, dateTimeText(v.toDateTime()));
                break;
            case QMetaType::QDate:
                rc = bindText(i, dayStartText(v.toDate()));
                break;
            default:
                rc = bindText(i, v.toString());
                break;
            }
        }
        if (rc != SQLITE_OK) throw DbError(QString::fromUtf8(sqlite3_errmsg(db_)));
    }

    int bindText(int i, const QString& s) {
        const QByteArray utf8 = s.toUtf8();
        return sqlite3_bind_text(stmt_, i, utf8.constData(), static_cast<int>(utf8.size()),
                                 SQLITE_TRANSIENT);
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

} // namespace

int Database::execute(const QString& sql, const QVariantList& params) {
    if (!db_) throw DbError(QStringLiteral("Operation is not allowed when the object is closed."));
    Statement st(db_, jetToSqlite(sql));
    st.bind(params);
    while (st.step()) {
    }
    return sqlite3_changes(db_);
}

qsizetype Database::executeEach(const QString& sql, qsizetype count,
                                const std::function<QVariantList(qsizetype)>& valuesFor,
                                qsizetype* ran) {
    if (ran) *ran = 0;
    if (!db_) throw DbError(QStringLiteral("Operation is not allowed when the object is closed."));
    Statement st(db_, jetToSqlite(sql));
    for (qsizetype i = 0; i < count; ++i) {
        st.bind(valuesFor(i));
        while (st.step()) {
        }
        st.reset();
        if (ran) *ran = i + 1;
    }
    return count;
}

QueryResult Database::query(const QString& sql, const QVariantList& params) {
    if (!db_) throw DbError(QStringLiteral("Operation is not allowed when the object is closed."));
    Statement st(db_, jetToSqlite(sql));
    st.bind(params);
    QueryResult result;
    const int n = st.columnCount();
    for (int c = 0; c < n; ++c)
        result.columns << st.columnName(c);
    while (st.step()) {
        QVariantList row;
        row.reserve(n);
        for (int c = 0; c < n; ++c)
            row << st.columnValue(c);
        result.rows << row;
    }
    return result;
}

qint64 Database::count(const QString& sql, const QVariantList& params) {
    const QueryResult r =
        query(QStringLiteral("select count(*) from (") + sql + QStringLiteral(")"), params);
    return r.rows.value(0).value(0).toLongLong();
}

qint64 Database::lastInsertId() const {
    return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

void Database::transaction(const std::function<void()>& fn) {
    execute(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        fn();
    } catch (...) {
        if (db_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    execute(QStringLiteral("COMMIT"));
}

void Database::executeScript(const QString& script) {
    if (!db_) throw DbError(QStringLiteral("Operation is not allowed when the object is closed."));
    char* err = nullptr;
    if (sqlite3_exec(db_, script.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
        const QString reason = QString::fromUtf8(err ? err : "unknown error");
        sqlite3_free(err);
        throw DbError(reason);
    }
}

// ---------------------------------------------------------------------------------
// The program's SQL dialect

namespace {

QString sqlQuote(const QString& text) {
    QString s = text;
    s.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

// A #...# literal's content to the stored text form.
QString dateLiteral(const QString& content) {
    static const QRegularExpression re(
        QStringLiteral(R"re(^\s*(?:(\d{4})-(\d{1,2})-(\d{1,2})|(\d{1,2})/(\d{1,2})/(\d{4})))re"
                       R"((?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?\s*([AaPp][Mm])?)?\s*$)"));
    const auto m = re.match(content);
    if (!m.hasMatch())
        throw DbError(
            QStringLiteral("Syntax error in date in query expression '#%1#'.").arg(content));
    int year, month, day;
    if (!m.captured(1).isEmpty()) {
        year = m.captured(1).toInt();
        month = m.captured(2).toInt();
        day = m.captured(3).toInt();
    } else {
        month = m.captured(4).toInt();
        day = m.captured(5).toInt();
        year = m.captured(6).toInt();
    }
    int hour = 0, minute = 0, second = 0;
    if (!m.captured(7).isEmpty()) {
        hour = m.captured(7).toInt();
        minute = m.captured(8).toInt();
        second = m.captured(9).isEmpty() ? 0 : m.captured(9).toInt();
        const QString ampm = m.captured(10).toUpper();
        // Like the original dialect: 12 AM is midnight, 1-11 PM add twelve hours, and an
        // hour already past noon keeps its value whatever the suffix says.
        if (ampm == QLatin1String("AM") && hour == 12)
            hour = 0;
        else if (ampm == QLatin1String("PM") && hour < 12)
            hour += 12;
    }
    // Built from the date and time parts, not through a local moment: on a day whose
    // midnight a clock change skips, 00:00:00 does not exist as a local time, but the
    // day's range must still start there.
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        throw DbError(
            QStringLiteral("Syntax error in date in query expression '#%1#'.").arg(content));
    return sqlQuote(dateText(date) + QLatin1Char(' ') + time.toString(QStringLiteral("HH:mm:ss")));
}

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

} // namespace

QString jetToSqlite(const QString& sql) {
    QString out;
    out.reserve(sql.size() + 16);
    const int n = static_cast<int>(sql.size());
    int i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'')) {
            // A single-quoted text, '' standing for one quote inside; copied as it is.
            int j = i + 1;
            while (j < n) {
                if (sql[j] == QLatin1Char('\'')) {
                    if (j + 1 < n && sql[j + 1] == QLatin1Char('\'')) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            if (j >= n)
                throw DbError(QStringLiteral("Syntax error: unterminated text in '%1'.").arg(sql));
            out += QStringView(sql).mid(i, j - i + 1);
            i = j + 1;
        } else if (c == QLatin1Char('"')) {
            // A double-quoted text, "" standing for one quote inside.
            QString text;
            int j = i + 1;
            bool closed = false;
            while (j < n) {
                if (sql[j] == QLatin1Char('"')) {
                    if (j + 1 < n && sql[j + 1] == QLatin1Char('"')) {
                        text += QLatin1Char('"');
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                text += sql[j];
                ++j;
            }
            if (!closed)
                throw DbError(QStringLiteral("Syntax error: unterminated text in '%1'.").arg(sql));
            out += sqlQuote(text);
            i = j + 1;
        } else if (c == QLatin1Char('#')) {
            const int j = static_cast<int>(sql.indexOf(QLatin1Char('#'), i + 1));
            if (j < 0)
                throw DbError(QStringLiteral("Syntax error in date in query expression '%1'.")
                                  .arg(sql.mid(i)));
            out += dateLiteral(sql.mid(i + 1, j - i - 1));
            i = j + 1;
        } else if (c.isLetter() || c == QLatin1Char('_')) {
            int j = i;
            while (j < n && isWordChar(sql[j]))
                ++j;
            const QStringView word = QStringView(sql).mid(i, j - i);
            const bool qualified =
                i > 0 && (sql[i - 1] == QLatin1Char('.') || sql[i - 1] == QLatin1Char('['));
            if (!qualified && word.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
                out += QLatin1String("-1");
            else if (!qualified && word.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
                out += QLatin1String("0");
            else
                out += word;
            i = j;
        } else if (c == QLatin1Char('[')) {
            // A bracketed name: copied through, the brackets kept (SQLite accepts them).
            const int j = static_cast<int>(sql.indexOf(QLatin1Char(']'), i + 1));
            if (j < 0)
                throw DbError(QStringLiteral("Syntax error: unterminated name in '%1'.").arg(sql));
            out += QStringView(sql).mid(i, j - i + 1);
            i = j + 1;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}
