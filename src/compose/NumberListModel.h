#pragma once

#include "compose/ImportSource.h"

#include <QAbstractTableModel>
#include <vector>

// The entries of the wizard's number list with their ticks: column 1 the number (with
// its tick box), column 2, in separate-message mode, the entry's message. Sized for
// lists of any length: ticking all or none is one pass, and the count of ticked
// entries is kept as they change.
class NumberListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit NumberListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Replaces the list: every entry ticked. `withMessages` shows column 2.
    void setEntries(QList<ImportEntry> entries, bool withMessages);
    void clear(bool withMessages) { setEntries({}, withMessages); }

    const QList<ImportEntry>& entries() const { return entries_; }
    qsizetype size() const { return entries_.size(); }
    bool isTicked(qsizetype row) const { return ticks_[static_cast<size_t>(row)] != 0; }
    qsizetype tickedCount() const { return ticked_; }
    // Ticks or unticks one entry as the user does (itemChecked follows).
    void setTicked(qsizetype row, bool on);
    // Ticks or unticks every entry.
    void setAllTicked(bool on);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    // The user ticked or unticked one entry.
    void itemChecked(qsizetype row, bool ticked);

private:
    QList<ImportEntry> entries_;
    std::vector<char> ticks_;
    qsizetype ticked_ = 0;
    bool withMessages_ = false;
};
