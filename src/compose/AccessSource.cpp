// Access databases (Jet 3 and Jet 4 .mdb files) through mdbtools' libmdb.
#include "compose/ImportSource.h"

#include <QFile>
#include <QFileInfo>
#include <charconv>
#include <mdbtools.h>

namespace {

// The flags above the row offset in a data page's row table.
constexpr int rowOffsetMask = 0x1FFF;

QString fromUtf8Owned(char* text) {
    QString s = QString::fromUtf8(text ? text : "");
    g_free(text);
    return s;
}

template <class Number> QString shortestText(Number value) {
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (r.ec != std::errc()) return plainNumberText(static_cast<double>(value));
    QString s = QString::fromLatin1(buf, r.ptr - buf);
    return s == QLatin1String("-0") ? QStringLiteral("0") : s;
}

// An opened table: its definition and columns, freed on scope exit.
class OpenTable {
public:
    OpenTable(MdbCatalogEntry* entry, const QString& name) {
        def_ = mdb_read_table(entry);
        if (!def_ || !mdb_read_columns(def_)) {
            if (def_) mdb_free_tabledef(def_);
            throw SourceError(
                QStringLiteral("The table '%1' cannot be read: the file is damaged.").arg(name));
        }
    }
    ~OpenTable() { mdb_free_tabledef(def_); }
    OpenTable(const OpenTable&) = delete;
    OpenTable& operator=(const OpenTable&) = delete;
    MdbTableDef* def() const { return def_; }
    int columnCount() const { return static_cast<int>(def_->columns->len); }
    MdbColumn* column(int i) const {
        return static_cast<MdbColumn*>(g_ptr_array_index(def_->columns, i));
    }

private:
    MdbTableDef* def_ = nullptr;
};

class AccessDatabase : public TabularSource {
public:
    explicit AccessDatabase(const QString& path) : path_(path) {
        const QFileInfo info(path);
        if (!info.exists()) throw SourceError(QStringLiteral("File not found: '%1'.").arg(path));
        // libmdb trusts the file's layout; look at its header first so that anything but
        // a Jet database is refused before libmdb reads it.
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            throw SourceError(QStringLiteral("Cannot read '%1': %2").arg(path, f.errorString()));
        const QByteArray head = f.read(0x20);
        const qint64 size = f.size();
        f.close();
        const bool jet = head.size() == 0x20 && (head.mid(4, 15) == "Standard Jet DB" ||
                                                 head.mid(4, 15) == "Standard ACE DB");
        if (!jet)
            throw SourceError(
                QStringLiteral("Unrecognized database format '%1': it is not an Access database.")
                    .arg(path));
        const int version = static_cast<unsigned char>(head[0x14]);
        const qint64 pageSize = version == 0 ? 2048 : 4096;
        if (size < 2 * pageSize || size % pageSize != 0)
            throw SourceError(
                QStringLiteral("The Access database '%1' is damaged or incomplete.").arg(path));

        mdb_ = mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS);
        if (!mdb_)
            throw SourceError(QStringLiteral("Cannot open the Access database '%1'.").arg(path));
        mdb_set_date_fmt(mdb_, "%Y-%m-%d %H:%M:%S");
        mdb_set_shortdate_fmt(mdb_, "%Y-%m-%d");
        // Every Access database lists its own system tables; a catalogue without any is
        // one that could not be read to its end.
        GPtrArray* catalog = mdb_read_catalog(mdb_, MDB_TABLE);
        bool anyTable = false;
        for (guint i = 0; catalog && i < catalog->len && !anyTable; ++i)
            anyTable = static_cast<MdbCatalogEntry*>(g_ptr_array_index(catalog, i))->object_type ==
                       MDB_TABLE;
        if (!anyTable) {
            mdb_close(mdb_);
            throw SourceError(
                QStringLiteral("The Access database '%1' is damaged: its list of tables cannot "
                               "be read.")
                    .arg(path));
        }
    }
    ~AccessDatabase() override { mdb_close(mdb_); }

    QStringList tableNames() override {
        QStringList names;
        for (MdbCatalogEntry* e : userTables())
            names << QString::fromUtf8(e->object_name);
        return names;
    }

    QStringList columnNames(const QString& table) override {
        OpenTable t(entryFor(table), table);
        QStringList names;
        for (int i = 0; i < t.columnCount(); ++i)
            names << QString::fromUtf8(t.column(i)->name);
        return names;
    }

    void readRows(const QString& table, const QList<int>& columns,
                  const std::function<bool(qint64, const SourceRow&)>& onRow,
                  WorkProgress* progress) override {
        OpenTable t(entryFor(table), table);
        MdbTableDef* def = t.def();
        for (int c : columns)
            if (c < 0 || c >= t.columnCount())
                throw SourceError(QStringLiteral("No such column in '%1'.").arg(table));
        mdb_rewind_table(def);
        const qint64 total = def->num_rows;
        reportProgress(progress, 0, total);
        MdbField fields[MDB_MAX_COLS];
        SourceRow row(columns.size());
        qint64 done = 0;
        while (mdb_fetch_row(def)) {
            // The row just fetched is still on the current page: crack it again to tell
            // a Null field from an empty one.
            int start = 0;
            size_t size = 0;
            if (def->cur_row == 0 || mdb_find_row(mdb_, def->cur_row - 1, &start, &size) != 0)
                throw damaged(table);
            start &= rowOffsetMask;
            const int n = mdb_crack_row(def, start, size, fields);
            if (n <= 0) throw damaged(table);
            for (int k = 0; k < columns.size(); ++k) {
                const int c = columns[k];
                MdbField* field = nullptr;
                for (int i = 0; i < n && !field; ++i)
                    if (fields[i].colnum == c) field = &fields[i];
                row[k] = field ? valueOf(t.column(c), *field) : SourceValue();
            }
            if (!onRow(done, row)) return;
            if ((++done & 0x3FF) == 0) reportProgress(progress, done, total);
        }
        reportProgress(progress, total, total);
    }

private:
    SourceError damaged(const QString& table) const {
        return SourceError(
            QStringLiteral("The table '%1' in '%2' is damaged and cannot be read to its end.")
                .arg(table, path_));
    }

    QList<MdbCatalogEntry*> userTables() const {
        QList<MdbCatalogEntry*> list;
        for (guint i = 0; i < mdb_->catalog->len; ++i) {
            auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb_->catalog, i));
            if (mdb_is_user_table(e)) list << e;
        }
        return list;
    }

    MdbCatalogEntry* entryFor(const QString& table) const {
        const QList<MdbCatalogEntry*> tables = userTables();
        for (MdbCatalogEntry* e : tables)
            if (QString::fromUtf8(e->object_name) == table) return e;
        const QString wanted = trimSpacesOnly(table);
        for (MdbCatalogEntry* e : tables)
            if (trimSpacesOnly(QString::fromUtf8(e->object_name))
                    .compare(wanted, Qt::CaseInsensitive) == 0)
                return e;
        throw SourceError(QStringLiteral("There is no table '%1' in '%2'.").arg(wanted, path_));
    }

    SourceValue valueOf(MdbColumn* col, const MdbField& f) const {
        if (col->col_type == MDB_BOOL)
            return f.is_null ? QStringLiteral("False") : QStringLiteral("True");
        if (f.is_null) return SourceValue();
        unsigned char* page = mdb_->pg_buf;
        const int start = f.start;
        switch (col->col_type) {
        case MDB_BYTE:
            return QString::number(mdb_get_byte(page, start));
        case MDB_INT:
            return QString::number(static_cast<qint16>(mdb_get_int16(page, start)));
        case MDB_LONGINT:
            return QString::number(static_cast<qint32>(mdb_get_int32(page, start)));
        case MDB_FLOAT:
            return shortestText(mdb_get_single(page, start));
        case MDB_DOUBLE:
            return shortestText(mdb_get_double(page, start));
        case MDB_NUMERIC:
            return fromUtf8Owned(mdb_numeric_to_string(mdb_, start, col->col_scale, col->col_prec));
        case MDB_OLE:
        case MDB_BINARY:
            return QString();
        default:
            if (f.siz == 0) return QString(""); // an empty text
            return fromUtf8Owned(mdb_col_to_string(mdb_, page, start, col->col_type, f.siz));
        }
    }

    QString path_;
    MdbHandle* mdb_ = nullptr;
};

} // namespace

std::unique_ptr<TabularSource> openAccessDatabase(const QString& path) {
    return std::make_unique<AccessDatabase>(path);
}
