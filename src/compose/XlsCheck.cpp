#include "compose/XlsCheck.h"

#include "compose/ImportLimits.h"
#include "compose/ImportSource.h"

#include <QLocale>
#include <vector>

namespace {

constexpr quint32 endOfChain = 0xFFFFFFFE;
constexpr quint32 freeSector = 0xFFFFFFFF;

quint16 u16(QByteArrayView b, qsizetype at) {
    return static_cast<quint16>(static_cast<unsigned char>(b[at]) |
                                static_cast<unsigned char>(b[at + 1]) << 8);
}
quint32 u32(QByteArrayView b, qsizetype at) {
    return u16(b, at) | static_cast<quint32>(u16(b, at + 2)) << 16;
}

class CompoundFile {
public:
    CompoundFile(QByteArrayView file, const QString& path) : file_(file), path_(path) {
        if (file.size() < 512) damaged();
        const int shift = u16(file, 0x1E);
        if (shift != 9 && shift != 12) damaged();
        sectorSize_ = qsizetype(1) << shift;
        if (u16(file, 0x20) != 6) damaged();
        sectors_ = (file.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;
        if (file.size() < sectorSize_) damaged();
        miniCutoff_ = u32(file, 0x38);

        // The sectors of the allocation table: 109 in the header, the rest in a chain of
        // their own.
        std::vector<quint32> fatSectors;
        const quint32 fatCount = u32(file, 0x2C);
        if (fatCount > static_cast<quint64>(sectors_)) damaged();
        for (int i = 0; i < 109 && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(u32(file, 0x4C + 4 * i));
        quint32 next = u32(file, 0x44);
        qsizetype hops = 0;
        while (fatSectors.size() < fatCount && next != endOfChain && next != freeSector) {
            if (++hops > sectors_) damaged();
            const QByteArrayView s = sector(next);
            const qsizetype per = sectorSize_ / 4 - 1;
            for (qsizetype i = 0; i < per && fatSectors.size() < fatCount; ++i)
                fatSectors.push_back(u32(s, 4 * i));
            next = u32(s, 4 * per);
        }
        if (fatSectors.size() < fatCount) damaged();
        fat_.reserve(fatSectors.size() * static_cast<size_t>(sectorSize_ / 4));
        for (quint32 f : fatSectors) {
            const QByteArrayView s = sector(f);
            for (qsizetype i = 0; i < sectorSize_ / 4; ++i)
                fat_.push_back(u32(s, 4 * i));
        }
    }

    // The stream of that name in the root storage (empty when there is none; `exists`
    // tells whether there is one).
    QByteArray stream(std::initializer_list<QStringView> names, bool* exists) {
        const QByteArray dir = chain(u32(file_, 0x30), -1);
        QByteArray wanted;
        quint64 size = 0;
        quint32 start = 0;
        bool found = false;
        quint32 rootStart = 0;
        quint64 rootSize = 0;
        for (qsizetype at = 0; at + 128 <= dir.size(); at += 128) {
            const QByteArrayView e = QByteArrayView(dir).sliced(at, 128);
            const int nameBytes = u16(e, 0x40);
            const int type = static_cast<unsigned char>(e[0x42]);
            if (type == 0) continue;
            // The name's length counts its closing zero and fits its 64-byte field.
            if (nameBytes > 64 || nameBytes % 2 != 0) damaged();
            const quint64 entrySize = u32(e, 0x78) | (sectorSize_ == 4096
                                                          ? quint64(u32(e, 0x7C)) << 32
                                                          : 0);
            if (type == 5) {
                rootStart = u32(e, 0x74);
                rootSize = entrySize;
                continue;
            }
            if (type != 2 || found) continue;
            const QString name = QString::fromUtf16(
                reinterpret_cast<const char16_t*>(e.data()), std::max(0, nameBytes / 2 - 1));
            for (QStringView n : names)
                if (name.compare(n, Qt::CaseInsensitive) == 0) found = true;
            if (found) {
                start = u32(e, 0x74);
                size = entrySize;
            }
        }
        *exists = found;
        if (!found) return wanted;
        if (size > static_cast<quint64>(file_.size())) damaged();
        if (size >= miniCutoff_) return chain(start, static_cast<qsizetype>(size));
        // A small stream lives in the mini stream, in 64-byte sectors.
        if (rootSize > static_cast<quint64>(file_.size())) damaged();
        const QByteArray mini = chain(rootStart, static_cast<qsizetype>(rootSize));
        const QByteArray miniFat = chain(u32(file_, 0x3C), -1);
        QByteArray out;
        quint32 s = start;
        qsizetype hops = 0;
        while (out.size() < static_cast<qsizetype>(size)) {
            if (s == endOfChain || ++hops > mini.size() / 64 + 1) damaged();
            const qsizetype at = qsizetype(s) * 64;
            if (at + 64 > mini.size() || 4 * qsizetype(s) + 4 > miniFat.size()) damaged();
            out.append(mini.constData() + at, 64);
            s = u32(miniFat, 4 * qsizetype(s));
        }
        out.truncate(static_cast<qsizetype>(size));
        return out;
    }

private:
    [[noreturn]] void damaged() const {
        throw SourceError(
            QStringLiteral("'%1' is not an Excel workbook, or it is damaged.").arg(path_));
    }

    QByteArrayView sector(quint32 n) const {
        const qsizetype at = (qsizetype(n) + 1) * sectorSize_;
        if (n >= endOfChain - 6 || at + sectorSize_ > file_.size()) damaged();
        return file_.sliced(at, sectorSize_);
    }

    // A chain of sectors from `start`; `size` bytes of it, or all of it when negative.
    QByteArray chain(quint32 start, qsizetype size) const {
        QByteArray out;
        quint32 s = start;
        qsizetype hops = 0;
        while (s != endOfChain && (size < 0 || out.size() < size)) {
            if (++hops > sectors_ || s >= fat_.size()) damaged();
            const QByteArrayView data = sector(s);
            out.append(data.data(), data.size());
            s = fat_[s];
        }
        if (size >= 0) {
            if (out.size() < size) damaged();
            out.truncate(size);
        }
        return out;
    }

    QByteArrayView file_;
    QString path_;
    qsizetype sectorSize_ = 512;
    qsizetype sectors_ = 0;
    quint32 miniCutoff_ = 4096;
    std::vector<quint32> fat_;
};

} // namespace

void checkXlsWorkbook(QByteArrayView file, const QString& path) {
    if (file.size() < 8 || file.first(8) != QByteArrayView("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        return;
    CompoundFile cf(file, path);
    bool found = false;
    // A workbook saved with a password keeps it in a package of its own.
    cf.stream({u"EncryptedPackage"}, &found);
    if (found)
        throw SourceError(QStringLiteral("The workbook '%1' is protected by a password.").arg(path));
    // A compound file without a workbook in it is another program's file.
    const QByteArray book = cf.stream({u"Workbook", u"Book"}, &found);
    if (!found) throw SourceError(excelVersionMessage());
    // The records of the workbook: each sheet's DIMENSIONS record gives the used range the
    // library sets a cell aside for.
    qint64 total = 0;
    int sheet = 0;
    bool inSheet = false;
    for (qsizetype at = 0; at + 4 <= book.size();) {
        const quint16 type = u16(book, at);
        const quint16 length = u16(book, at + 2);
        const qsizetype data = at + 4;
        if (data + length > book.size()) break;
        if ((type & 0xFF) == 0x09 && (type >> 8) <= 8 && length >= 4) { // BOF
            inSheet = u16(book, data + 2) == 0x0010;
            sheet += inSheet;
        } else if (type == 0x0200 && inSheet && (length == 14 || length == 10)) { // DIMENSIONS
            const quint32 rows = length == 14 ? u32(book, data + 4) : u16(book, data + 2);
            const quint32 columns = u16(book, data + (length == 14 ? 10 : 6));
            if (rows > importlimits::maxRow)
                throw SourceError(QStringLiteral("Sheet %1 of '%2' claims %L3 rows, past %L4, "
                                                 "Excel's last row.")
                                      .arg(sheet)
                                      .arg(path)
                                      .arg(rows)
                                      .arg(importlimits::maxRow));
            const qint64 cells = qint64(rows) * columns;
            total += cells;
            if (cells > importlimits::maxSheetCells)
                throw SourceError(QStringLiteral("Sheet %1 of '%2' claims %L3 rows of %L4 columns "
                                                 "(%L5 cells); the program reads sheets of at most "
                                                 "%L6 cells.")
                                      .arg(sheet)
                                      .arg(path)
                                      .arg(rows)
                                      .arg(columns)
                                      .arg(cells)
                                      .arg(importlimits::maxSheetCells));
            if (total > importlimits::maxWorkbookCells)
                throw SourceError(QStringLiteral("The sheets of '%1' claim more than %L2 cells "
                                                 "together; the program reads workbooks of at "
                                                 "most %L2 cells.")
                                      .arg(path)
                                      .arg(importlimits::maxWorkbookCells));
        }
        at = data + length;
    }
}
