#include "views/Frm_MissedCallsList.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "ui/Ui.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

// ---------------------------------------------------------------------------------
// MissedCallsModel

int MissedCallsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MissedCallsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString MissedCallsModel::callDate(const QString& stored) {
    if (stored.isEmpty()) return QString();
    // The stored form, read by position: the fast way for long lists.
    if (stored.size() >= 10 && stored.at(4) == u'-' && stored.at(7) == u'-')
        return stored.mid(8, 2) + u'/' + stored.mid(5, 2) + u'/' + stored.left(4);
    const QDateTime t = QDateTime::fromString(stored, QLatin1String(DateTimeFormat));
    return t.isValid() ? t.toString(QStringLiteral("dd/MM/yyyy")) : stored;
}

QString MissedCallsModel::callTiming(const QString& stored) {
    if (stored.isEmpty()) return QString();
    if (stored.size() >= 16 && stored.at(10) == u' ' && stored.at(13) == u':')
        return stored.mid(11, 5);
    const QDateTime t = QDateTime::fromString(stored, QLatin1String(DateTimeFormat));
    return t.isValid() ? t.toString(QStringLiteral("HH:mm")) : QString();
}

QVariant MissedCallsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size()) return {};
    const Row& r = rows_.at(index.row());
    if (role == Qt::CheckStateRole && index.column() == ColDate)
        return r.ticked ? Qt::Checked : Qt::Unchecked;
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
    case ColDate:
        return callDate(r.callDateTime);
    case ColNumber:
        return r.callerNumber;
    case ColTiming:
        return callTiming(r.callDateTime);
    case ColId:
        return QString::number(r.id);
    default:
        return {};
    }
}

bool MissedCallsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole || index.column() != ColDate) return false;
    setTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags MissedCallsModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == ColDate) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant MissedCallsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case ColDate:
        return QStringLiteral("Call Date");
    case ColNumber:
        return QStringLiteral("Call Number");
    case ColTiming:
        return QStringLiteral("Call Timing");
    default:
        return QString();
    }
}

void MissedCallsModel::clear() {
    beginResetModel();
    rows_.clear();
    ticked_ = 0;
    endResetModel();
}

void MissedCallsModel::append(const QList<Row>& rows) {
    if (rows.isEmpty()) return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (const Row& r : rows) {
        rows_ << r;
        if (r.ticked) ++ticked_;
    }
    endInsertRows();
}

void MissedCallsModel::setTicked(int i, bool on) {
    if (i < 0 || i >= rows_.size() || rows_[i].ticked == on) return;
    rows_[i].ticked = on;
    ticked_ += on ? 1 : -1;
    const QModelIndex at = index(i, ColDate);
    emit dataChanged(at, at, {Qt::CheckStateRole});
    emit tickChanged();
}

void MissedCallsModel::setAllTicked(bool on) {
    if (rows_.isEmpty()) return;
    for (Row& r : rows_)
        r.ticked = on;
    ticked_ = on ? static_cast<int>(rows_.size()) : 0;
    emit dataChanged(index(0, ColDate), index(static_cast<int>(rows_.size()) - 1, ColDate),
                     {Qt::CheckStateRole});
    emit tickChanged();
}

QList<qint64> MissedCallsModel::tickedIds() const {
    QList<qint64> ids;
    ids.reserve(ticked_);
    for (const Row& r : rows_)
        if (r.ticked) ids << r.id;
    return ids;
}

// ---------------------------------------------------------------------------------
// Frm_MissedCallsList

Frm_MissedCallsList::Frm_MissedCallsList(AppContext& ctx, QWidget* parent)
    : QWidget(parent, Qt::Window), ctx_(ctx) {
    setObjectName(QStringLiteral("Frm_MissedCallsList"));
    setWindowTitle(QStringLiteral("Missed Calls Report"));

    auto makeDate = [this](const char* name) {
        auto* d = new QDateEdit(this);
        d->setObjectName(QLatin1String(name));
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        return d;
    };
    auto makeButton = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    Label2 = new QLabel(QStringLiteral("From Date :"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    DtpFrom = makeDate("DtpFrom");
    Label3 = new QLabel(QStringLiteral("To Date :"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    DtpTo = makeDate("DtpTo");
    cmdSearch = makeButton("cmdSearch", QStringLiteral("&Search"));

    logs = new MissedCallsModel(this);
    ListLogs = new QTreeView(this);
    ListLogs->setObjectName(QStringLiteral("ListLogs"));
    ListLogs->setModel(logs);
    ListLogs->setRootIsDecorated(false);
    ListLogs->setUniformRowHeights(true); // keeps long lists fast
    ListLogs->setAllColumnsShowFocus(true);
    ListLogs->setItemsExpandable(false);
    ListLogs->setColumnWidth(MissedCallsModel::ColDate, ui::twips(2500));
    ListLogs->setColumnWidth(MissedCallsModel::ColNumber, ui::twips(2600));
    ListLogs->setColumnWidth(MissedCallsModel::ColTiming, ui::twips(2000));
    ListLogs->setColumnHidden(MissedCallsModel::ColId, true);

    chkAll = new QCheckBox(QStringLiteral("Select All"), this);
    chkAll->setObjectName(QStringLiteral("chkAll"));
    cmdDelete = makeButton("cmdDelete", QStringLiteral("&Delete Selected"));
    CmdExit = makeButton("CmdExit", QStringLiteral("&Exit"));

    ui::labelField(Label2, DtpFrom);
    ui::labelField(Label3, DtpTo);
    ListLogs->setAccessibleName(QStringLiteral("Missed calls"));

    auto* range = new QHBoxLayout;
    range->addWidget(Label2);
    range->addWidget(DtpFrom);
    range->addSpacing(20);
    range->addWidget(Label3);
    range->addWidget(DtpTo);
    range->addSpacing(20);
    range->addWidget(cmdSearch);
    range->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(chkAll);
    buttons->addStretch();
    buttons->addWidget(cmdDelete);
    buttons->addWidget(CmdExit);
    auto* v = new QVBoxLayout(this);
    v->addLayout(range);
    v->addWidget(ListLogs, 1);
    v->addLayout(buttons);

    connect(cmdSearch, &QPushButton::clicked, this, &Frm_MissedCallsList::cmdSearch_Click);
    connect(chkAll, &QCheckBox::clicked, this, &Frm_MissedCallsList::chkAll_Click);
    connect(logs, &MissedCallsModel::tickChanged, this, &Frm_MissedCallsList::ListLogs_ItemCheck);
    connect(cmdDelete, &QPushButton::clicked, this, &Frm_MissedCallsList::cmdDelete_Click);
    connect(CmdExit, &QPushButton::clicked, this, &Frm_MissedCallsList::CmdExit_Click);

    Form_Load();
}

Frm_MissedCallsList* Frm_MissedCallsList::showReport(AppContext& ctx, QWidget* parent) {
    if (parent) {
        const auto open =
            parent->findChildren<Frm_MissedCallsList*>(QString(), Qt::FindDirectChildrenOnly);
        if (!open.isEmpty()) {
            Frm_MissedCallsList* report = open.first();
            ui::showModeless(report);
            report->activateWindow();
            return report;
        }
    }
    auto* report = new Frm_MissedCallsList(ctx, parent);
    report->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModeless(report);
    return report;
}

void Frm_MissedCallsList::Form_Load() {
    try {
        const QPoint offset(ui::twips(1500), 0);
        move(parentWidget() ? parentWidget()->geometry().topLeft() + offset : offset);
        resize(ui::twips(11845), ui::twips(9360));
        cmdDelete->setEnabled(false);
        DtpFrom->setDate(QDate::currentDate());
        DtpTo->setDate(QDate::currentDate());
        FillLogList();
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

QString Frm_MissedCallsList::rangeStart(const QDate& from) {
    return dayStartText(from);
}

QString Frm_MissedCallsList::rangeEnd(const QDate& to) {
    return dayStartText(to.addDays(1));
}

void Frm_MissedCallsList::FillLogList() {
    // A new fill replaces one under way: its next chunk sees a newer generation.
    ++fillGeneration_;
    logs->clear();
    // "Select All" keeps its tick, but the fresh rows come unticked; a click on it while
    // they come ticks the rest too.
    tickIncoming_ = false;
    fillFrom_ = rangeStart(DtpFrom->date());
    fillTo_ = rangeEnd(DtpTo->date());
    lastDateTime_.clear();
    lastId_ = 0;
    filling_ = true;
    // The busy cursor until the last chunk is in (one for fills that replace each other).
    if (!fillBusy_) fillBusy_ = std::make_unique<ui::BusyCursor>();
    fillNextChunk(fillGeneration_);
}

void Frm_MissedCallsList::fillNextChunk(quint64 generation) {
    if (generation != fillGeneration_ || !filling_) return;
    try {
        // Oldest first; the key breaks ties between calls of the same second, so each
        // chunk starts right after the last row of the one before.
        QString sql =
            QStringLiteral("select id, callDateTime, callerNumber from MissedCallStatistics "
                           "where callDateTime>=? and callDateTime<? and IsMissCall=-1");
        QVariantList params{fillFrom_, fillTo_};
        if (!lastDateTime_.isEmpty()) {
            sql += QStringLiteral(" and (callDateTime>? or (callDateTime=? and id>?))");
            params << lastDateTime_ << lastDateTime_ << lastId_;
        }
        sql += QStringLiteral(" order by callDateTime, id limit ?");
        params << FillChunk;
        const QueryResult r = ctx_.DBConnection.query(sql, params);

        QList<MissedCallsModel::Row> rows;
        rows.reserve(r.count());
        const bool tick = tickIncoming_;
        for (const QVariantList& v : r.rows) {
            MissedCallsModel::Row row;
            row.id = v.value(0).toLongLong();
            row.callDateTime = v.value(1).toString();
            row.callerNumber = v.value(2).toString();
            row.ticked = tick;
            rows << row;
        }
        if (!rows.isEmpty()) {
            lastDateTime_ = rows.last().callDateTime;
            lastId_ = rows.last().id;
        }
        logs->append(rows);
        if (tick && !rows.isEmpty()) ListLogs_ItemCheck();
        if (r.count() < FillChunk) {
            filling_ = false;
            fillBusy_.reset();
            return;
        }
        QTimer::singleShot(0, this, [this, generation] { fillNextChunk(generation); });
    } catch (const std::exception& e) {
        filling_ = false;
        fillBusy_.reset();
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MissedCallsList::cmdSearch_Click() {
    try {
        if (DtpFrom->date() > DtpTo->date()) {
            ui::MsgBox(QStringLiteral("'From Date' should be less than 'To Date'."));
            DtpFrom->setFocus();
            return;
        }
        FillLogList();
        // The new list has no ticked row, so there is nothing to delete yet.
        cmdDelete->setEnabled(false);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MissedCallsList::chkAll_Click() {
    try {
        tickIncoming_ = filling_ && chkAll->isChecked(); // covers rows still coming
        if (logs->rowCount() == 0) return;
        logs->setAllTicked(chkAll->isChecked());
        cmdDelete->setEnabled(chkAll->isChecked());
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MissedCallsList::ListLogs_ItemCheck() {
    cmdDelete->setEnabled(logs->tickedCount() > 0);
}

void Frm_MissedCallsList::cmdDelete_Click() {
    try {
        // Nothing ticked: nothing to ask about and nothing to report.
        if (logs->tickedCount() == 0) {
            cmdDelete->setEnabled(false);
            return;
        }
        ui::ask(this, QStringLiteral("Are u sure to delete the logs?"), ui::Icon::None,
                [this](ui::Answer a) {
                    if (a == ui::Answer::Yes) deleteTicked();
                });
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MissedCallsList::deleteTicked() {
    try {
        const QList<qint64> ids = logs->tickedIds();
        Database& db = ctx_.DBConnection;
        {
            const ui::BusyCursor busy;
            // In batches: one statement per batch keeps thousands of deletes quick, and a
            // failure part-way leaves the batches before it deleted.
            for (qsizetype at = 0; at < ids.size(); at += DeleteBatch) {
                const qsizetype n = std::min<qsizetype>(DeleteBatch, ids.size() - at);
                QVariantList params;
                params.reserve(n);
                for (qsizetype i = at; i < at + n; ++i)
                    params << ids.at(i);
                QString marks = QStringLiteral("?");
                marks += QStringLiteral(",?").repeated(n - 1);
                db.execute(QStringLiteral("delete from MissedCallStatistics where Id in (") +
                               marks + QStringLiteral(")"),
                           params);
            }
        }
        ui::MsgBox(QStringLiteral("Records Deleted Successfully!!!"));
        FillLogList();
        cmdDelete->setEnabled(false);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MissedCallsList::CmdExit_Click() {
    close();
}
