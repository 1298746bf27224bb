#pragma once

#include "ui/Ui.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QList>
#include <QString>
#include <QWidget>
#include <memory>

class AppContext;
class QCheckBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTreeView;

// The rows of the missed calls report: one per call, with its tick. Only the rows in
// view are formatted, so a list of any length costs little more than its data.
class MissedCallsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        qint64 id = 0;
        QString callDateTime; // as stored, "yyyy-MM-dd HH:mm:ss"
        QString callerNumber;
        bool ticked = false;
    };
    enum Column { ColDate = 0, ColNumber = 1, ColTiming = 2, ColId = 3, ColumnCount = 4 };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void clear();
    void append(const QList<Row>& rows);
    const Row& row(int i) const { return rows_.at(i); }
    void setTicked(int i, bool on);
    void setAllTicked(bool on);
    int tickedCount() const { return ticked_; }
    // The keys of the ticked rows, first to last.
    QList<qint64> tickedIds() const;

    // "dd/MM/yyyy" and "HH:mm" of a stored moment; "" when it is empty.
    static QString callDate(const QString& stored);
    static QString callTiming(const QString& stored);

signals:
    // A row's tick changed (by the user or by setTicked).
    void tickChanged();

private:
    QList<Row> rows_;
    int ticked_ = 0;
};

// The missed calls report: the missed calls logged between two days, oldest first,
// with ticks to delete entries. Opens on today's calls. Long lists are read in chunks
// between which the window stays responsive.
class Frm_MissedCallsList : public QWidget {
    Q_OBJECT
public:
    explicit Frm_MissedCallsList(AppContext& ctx, QWidget* parent = nullptr);

    // Opens the report modelessly as a window of `parent`, or brings the open one to
    // the front.
    static Frm_MissedCallsList* showReport(AppContext& ctx, QWidget* parent);

    // Rows read per step of a fill.
    static constexpr int FillChunk = 2000;
    // Rows deleted per transaction.
    static constexpr int DeleteBatch = 500;

    // Lists the missed calls of the days in the two pickers. The first chunk is read at
    // once, the rest in later event-loop turns; isFilling() tells whether more comes.
    void FillLogList();
    bool isFilling() const { return filling_; }

    void cmdSearch_Click();
    void chkAll_Click();
    void ListLogs_ItemCheck();
    void cmdDelete_Click();
    void CmdExit_Click();

    // The query's bounds for a range of days: from 00:00:00 of `from` up to, not
    // including, 00:00:00 of the day after `to` (so the whole of the last day counts).
    static QString rangeStart(const QDate& from);
    static QString rangeEnd(const QDate& to);

    QLabel* Label2;
    QDateEdit* DtpFrom;
    QLabel* Label3;
    QDateEdit* DtpTo;
    QPushButton* cmdSearch;
    QTreeView* ListLogs;
    MissedCallsModel* logs;
    QCheckBox* chkAll;
    QPushButton* cmdDelete;
    QPushButton* CmdExit;

private:
    // The Yes of cmdDelete_Click: the ticked logs go.
    void deleteTicked();
    void Form_Load();
    // Reads the next chunk of the fill under way; schedules the one after.
    void fillNextChunk(quint64 generation);

    AppContext& ctx_;
    bool filling_ = false;
    std::unique_ptr<ui::BusyCursor> fillBusy_; // while the list fills
    bool tickIncoming_ = false; // rows still to come are ticked ("Select All" clicked)
    quint64 fillGeneration_ = 0;
    QString fillFrom_, fillTo_;
    QString lastDateTime_;
    qint64 lastId_ = 0;
};
