#include "compose/NumberListModel.h"

#include <algorithm>

void NumberListModel::setEntries(QList<ImportEntry> entries, bool withMessages) {
    beginResetModel();
    entries_ = std::move(entries);
    ticks_.assign(static_cast<size_t>(entries_.size()), 1);
    ticked_ = entries_.size();
    withMessages_ = withMessages;
    endResetModel();
}

void NumberListModel::setTicked(qsizetype row, bool on) {
    if (row < 0 || row >= entries_.size()) return;
    char& t = ticks_[static_cast<size_t>(row)];
    if ((t != 0) == on) return;
    t = on ? 1 : 0;
    ticked_ += on ? 1 : -1;
    const QModelIndex i = index(static_cast<int>(row), 0);
    emit dataChanged(i, i, {Qt::CheckStateRole});
    emit itemChecked(row, on);
}

void NumberListModel::setAllTicked(bool on) {
    std::fill(ticks_.begin(), ticks_.end(), on ? 1 : 0);
    ticked_ = on ? entries_.size() : 0;
    if (!entries_.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

int NumberListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int NumberListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (withMessages_ ? 2 : 1);
}

QVariant NumberListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= entries_.size()) return {};
    const ImportEntry& e = entries_[index.row()];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        if (index.column() == 0) return e.number;
        // A message of several lines shows on one line.
        if (role == Qt::DisplayRole)
            return QString(e.message).replace(QLatin1String("\r\n"), QLatin1String(" "));
        return e.message;
    }
    if (role == Qt::CheckStateRole && index.column() == 0)
        return isTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool NumberListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0) return false;
    setTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags NumberListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant NumberListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 1 ? QStringLiteral("Message") : QString();
}
