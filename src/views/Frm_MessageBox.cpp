#include "views/Frm_MessageBox.h"

#include "views/MessageFolders.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "core/FolderTotals.h"
#include "modem/Module1.h"
#include "ui/Ui.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

namespace {
QString cellText(const QVariant& v) {
    return v.isNull() ? QString() : trimSpaces(v.toString());
}

void setBold(QTreeWidgetItem* item, bool bold) {
    for (int c = 0; c < item->columnCount(); ++c) {
        QFont f = item->font(c);
        f.setBold(bold);
        item->setFont(c, f);
    }
}

bool isDigits(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^[0-9]+$"));
    return re.match(text).hasMatch();
}

} // namespace

Frm_MessageBox::~Frm_MessageBox() {
    Form_Unload();
}

int Frm_MessageBox::thirdOfList() const {
    // A third of the list's width, leaving room for its vertical scroll bar.
    const int room = ListMessage->maximumViewportSize().width() -
                     ListMessage->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return std::max(room / 3, 20);
}

void Frm_MessageBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A folder listed while loading got its column widths before the window had its
    // size; the first showing sets them again.
    if (!shownOnce_ && (isInBoxSelected || isSentItemsSelected)) {
        for (int c = 0; c < 3; ++c)
            ListMessage->setColumnWidth(c, thirdOfList());
    }
    shownOnce_ = true;
}

void Frm_MessageBox::done(int result) {
    Form_Unload();
    QDialog::done(result);
}

void Frm_MessageBox::Form_Load() {
    ctx_.engine.MessageBoxOpen = true;
    isInBoxSelected = isOutBoxSelected = isSentItemsSelected = isFailedItemsSelected = false;
    CurrentPage = 1;
    InboxSortOrder = QStringLiteral("InboxDateTime desc");
    OutboxSortOrder = QStringLiteral("OutBoxDateTime");
    SentSortOrder = QStringLiteral("DeliveryDatetime");
    FailedSortOrder = QStringLiteral("OutBoxDateTime");
    resize(ui::twips(13410), ui::twips(9075));
    loaded_ = true;

    fillTreeView();
    // The home page's Inbox and Outbox labels say which folder to show first; the
    // next opening (from the menu) starts with none.
    const QString type = ctx_.engine.msgType;
    if (type == QLatin1String("I")) {
        selectNode(2);
        fillListInbox();
    } else if (type == QLatin1String("O")) {
        selectNode(3);
        fillListOutbox();
    }
    ctx_.engine.msgType.clear();
}

void Frm_MessageBox::Form_Unload() {
    if (!loaded_) return;
    loaded_ = false;
    ctx_.engine.MessageBoxOpen = false;
}

QTreeWidgetItem* Frm_MessageBox::node(int index) const {
    QTreeWidgetItem* root = TreeView1->topLevelItem(0);
    if (!root) return nullptr;
    if (index == 1) return root;
    return root->child(index - 2);
}

void Frm_MessageBox::selectNode(int index) {
    if (QTreeWidgetItem* n = node(index)) {
        const QSignalBlocker block(TreeView1);
        TreeView1->setCurrentItem(n);
        n->setSelected(true);
    }
}

Frm_MessageBox::Folder Frm_MessageBox::listedFolder() const {
    if (isInBoxSelected) return Folder::Inbox;
    if (isOutBoxSelected) return Folder::Outbox;
    if (isSentItemsSelected) return Folder::Sent;
    if (isFailedItemsSelected) return Folder::Failed;
    return Folder::None;
}

QString& Frm_MessageBox::sortOrder(Folder folder) {
    switch (folder) {
    case Folder::Inbox:
        return InboxSortOrder;
    case Folder::Outbox:
        return OutboxSortOrder;
    case Folder::Failed:
        return FailedSortOrder;
    default:
        return SentSortOrder;
    }
}

void Frm_MessageBox::fillTreeView() {
    try {
        const FolderTotals totals = readFolderTotals(ctx_.DBConnection);
        const QSignalBlocker block(TreeView1);
        TreeView1->clear();
        auto* root = new QTreeWidgetItem(TreeView1, {QStringLiteral("Message")});
        root->setData(0, Qt::UserRole, QStringLiteral("parent"));
        auto add = [root](const QString& name, qint64 count, bool counted) {
            auto* n = new QTreeWidgetItem(
                root, {counted && count > 0 ? name + QStringLiteral("(%1)").arg(count) : name});
            setBold(n, counted && count > 0);
        };
        add(QStringLiteral("Inbox"), totals.inboxUnread, true);
        add(QStringLiteral("Outbox"), totals.outboxWaiting, true);
        add(QStringLiteral("Sent Items"), 0, false);
        // Failed Items: while messages are given up on, or some are there.
        const QueryResult limit =
            ctx_.DBConnection.query(QStringLiteral("select GiveUpAfterTries from Timer_setting"));
        if (totals.outboxFailed > 0 ||
            (!limit.isEmpty() && limit.value(0, QStringLiteral("GiveUpAfterTries")).toInt() > 0))
            add(QStringLiteral("Failed Items"), totals.outboxFailed, true);
        setBold(root, true);
        root->setExpanded(true);
        // No node is selected now: a caller that wants the listed folder marked selects
        // it afterwards.
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::fillListInbox() {
    fillList(Folder::Inbox);
}
void Frm_MessageBox::fillListOutbox() {
    fillList(Folder::Outbox);
}
void Frm_MessageBox::fillListSent() {
    fillList(Folder::Sent);
}
void Frm_MessageBox::fillListFailed() {
    fillList(Folder::Failed);
}

void Frm_MessageBox::refillListedFolder(bool keepReading) {
    const Folder f = listedFolder();
    if (f != Folder::None) fillList(f, keepReading);
}

void Frm_MessageBox::fillList(Folder folder, bool keepReading) {
    // A fill the user asked for shows the busy cursor (a large folder takes a moment to
    // count and sort); one that follows the engine does not flicker it.
    std::optional<ui::BusyCursor> busy;
    if (!keepReading) busy.emplace();
    try {
        const FolderDef& def = folder == Folder::Inbox    ? inboxDef()
                               : folder == Folder::Outbox ? outboxDef()
                               : folder == Folder::Failed ? failedDef()
                                                          : sentDef();
        isInBoxSelected = folder == Folder::Inbox;
        isOutBoxSelected = folder == Folder::Outbox;
        isSentItemsSelected = folder == Folder::Sent;
        isFailedItemsSelected = folder == Folder::Failed;
        cmdSendAgain->setVisible(isFailedItemsSelected);
        cmdDeleteFailed->setVisible(isFailedItemsSelected);
        const Order order = parseOrder(def, sortOrder(folder), folder == Folder::Sent);

        // What the user is looking at survives a refresh from the engine.
        QSet<qint64> selected;
        qint64 current = -1;
        const int scroll = ListMessage->verticalScrollBar()->value();
        if (keepReading) {
            for (QTreeWidgetItem* item : ListMessage->selectedItems())
                selected << item->text(3).toLongLong();
            if (ListMessage->currentItem())
                current = ListMessage->currentItem()->text(3).toLongLong();
        } else {
            LblNo->clear();
            txtMessage->clear();
        }

        ListMessage->clear();
        setListColumns(folder);

        const qint64 n = showTotals(folder);
        const qint64 size = pageSize();
        // A page past the end of a folder that shrank under it (rows deleted or sent
        // meanwhile) shows no rows; Previous leads back to the rows.
        if (CurrentPage < 1) CurrentPage = 1;
        if (n <= 0 || (CurrentPage - 1) * size >= n) {
            anchor_ = Anchor();
        } else {

            const qint64 offset = (CurrentPage - 1) * size;
            const qint64 onPage = std::min(size, n - offset);
            // The next or previous page continues from the rows on screen.
            std::optional<PageStep> from;
            const bool sameView = anchor_.folder == folder && anchor_.order == sortOrder(folder);
            if (sameView && (CurrentPage == anchor_.page + 1 || CurrentPage == anchor_.page - 1)) {
                const bool forward = CurrentPage == anchor_.page + 1;
                from = PageStep{forward, forward ? anchor_.lastValue : anchor_.firstValue,
                                forward ? anchor_.lastKey : anchor_.firstKey};
            }
            const QueryResult rows =
                readFolderPage(ctx_.DBConnection, def, order, n, offset, onPage, from);

            QList<QTreeWidgetItem*> items;
            items.reserve(rows.count());
            for (int r = 0; r < rows.count(); ++r) {
                auto* item = new QTreeWidgetItem;
                if (folder == Folder::Inbox) {
                    item->setText(0, cellText(rows.value(r, QStringLiteral("SenderMobileNo"))));
                    item->setText(1, listText(rows.value(r, QStringLiteral("Message"))));
                    item->setText(2, cellText(rows.value(r, QStringLiteral("InboxDateTime"))));
                    item->setText(3, cellText(rows.value(r, QStringLiteral("InBox_Id"))));
                    if (rows.value(r, QStringLiteral("IsRead")).toLongLong() == 0)
                        setBold(item, true);
                } else {
                    item->setText(0, cellText(rows.value(r, QStringLiteral("RecipientMobileNo"))));
                    item->setText(1, listText(rows.value(r, QStringLiteral("Message"))));
                    item->setText(2, cellText(rows.value(r, def.dateColumn)));
                    item->setText(3, cellText(rows.value(r, QStringLiteral("Outbox_Id"))));
                    if (folder == Folder::Outbox) {
                        const QString status =
                            cellText(rows.value(r, QStringLiteral("DeliveryStatus")));
                        const QString after = cellText(rows.value(r, QStringLiteral("SendAfter")));
                        if (!status.isEmpty())
                            item->setText(4, status);
                        else if (!after.isEmpty() && after > dateTimeText(ctx_.now()))
                            item->setText(4, QStringLiteral("Send at ") + after.left(16));
                    } else if (folder == Folder::Failed) {
                        item->setText(4, cellText(rows.value(r, QStringLiteral("SendTries"))));
                        item->setText(5, listText(rows.value(r, QStringLiteral("LastError"))));
                    } else if (folder == Folder::Sent) {
                        item->setText(4, deliveryReportText(rows, r));
                    }
                }
                items << item;
            }
            ListMessage->addTopLevelItems(items);

            anchor_ = Anchor();
            if (!rows.isEmpty()) {
                anchor_.folder = folder;
                anchor_.order = sortOrder(folder);
                anchor_.page = CurrentPage;
                anchor_.firstValue = rows.value(0, order.column);
                anchor_.firstKey = rows.value(0, def.key).toLongLong();
                anchor_.lastValue = rows.value(rows.count() - 1, order.column);
                anchor_.lastKey = rows.value(rows.count() - 1, def.key).toLongLong();
            }
        }

        if (keepReading) {
            for (int i = 0; i < ListMessage->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = ListMessage->topLevelItem(i);
                const qint64 key = item->text(3).toLongLong();
                if (key == current) {
                    ListMessage->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
                }
                if (selected.contains(key)) item->setSelected(true);
            }
            ListMessage->verticalScrollBar()->setValue(scroll);
        }
        cmdNext->setEnabled(TotalPages > CurrentPage);
        cmdPrevious->setEnabled(CurrentPage > 1);
        // The page box shows the page listed, unless the person is typing in it.
        if (!(keepReading && txtPages->isModified())) {
            const QSignalBlocker block(txtPages);
            txtPages->setText(QString::number(CurrentPage));
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

qint64 Frm_MessageBox::pageSize() const {
    return ctx_.engine.MessageBoxPageSize > 0 ? ctx_.engine.MessageBoxPageSize : 100;
}

qint64 Frm_MessageBox::showTotals(Folder folder) {
    const FolderTotals totals = readFolderTotals(ctx_.DBConnection);
    const qint64 n = folder == Folder::Inbox    ? totals.inboxTotal
                     : folder == Folder::Outbox ? totals.outboxWaiting
                     : folder == Folder::Failed ? totals.outboxFailed
                                                : totals.sentTotal;
    const qint64 size = pageSize();
    if (n <= 0) {
        TotalPages = 0;
        lblPages->setText(QStringLiteral("of 0 Pages. Total records: 0"));
    } else {
        TotalPages = n % size == 0 ? n / size : n / size + 1;
        lblPages->setText(
            n % size != 0 ? QStringLiteral("of %1 Pages. Total records: %2").arg(TotalPages).arg(n)
                          : QStringLiteral("of %1 Total records: %2").arg(TotalPages).arg(n));
    }
    return n;
}

QString Frm_MessageBox::listText(const QVariant& value) {
    if (value.isNull()) return QString();
    QString s = value.toString();
    s.replace(QLatin1String("\r\n"), QLatin1String(" "));
    // Line breaks typed on this machine are single characters; they too keep a row to one line.
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return trimSpaces(s);
}

void Frm_MessageBox::TreeView1_NodeClick(int index) {
    try {
        CurrentPage = 1;        // for every node, the root too
        if (index == 1) return; // the root: the list keeps what it shows
        if (index == 2)
            fillListInbox();
        else if (index == 3)
            fillListOutbox();
        else if (index == 4)
            fillListSent();
        else if (index == 5 && node(5))
            fillListFailed();
        else
            return;
        selectNode(index);
        if (ListMessage->topLevelItemCount() > 0) {
            ListMessage->clearSelection();
            ListMessage->setCurrentItem(nullptr);
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::cmdNext_Click() {
    ++CurrentPage;
    refillListedFolder();
}

void Frm_MessageBox::cmdPrevious_Click() {
    if (CurrentPage > 1) {
        --CurrentPage;
        refillListedFolder();
    }
}

void Frm_MessageBox::txtPages_Change() {
    const QString t = trimSpaces(txtPages->text());
    if (t.isEmpty()) return;
    if (!isDigits(t)) {
        ui::MsgBox(QStringLiteral("Please enter numeric value."), ui::Icon::None);
        txtPages->setText(QString::number(CurrentPage));
    }
}

void Frm_MessageBox::txtPages_KeyPress(int keyAscii) {
    if (keyAscii != 13) return;
    const QString t = trimSpaces(txtPages->text());
    // An empty box is no number: the conversion's own error, and nothing else happens.
    if (t.isEmpty()) {
        ui::MsgBox(QStringLiteral("Type mismatch"), ui::Icon::None);
        return;
    }
    bool ok = false;
    const qint64 n = isDigits(t) ? t.toLongLong(&ok) : 0;
    if (ok && n >= 1 && n <= TotalPages) {
        CurrentPage = n;
        refillListedFolder();
    } else {
        ui::MsgBox(QStringLiteral("This page does not exist."));
        txtPages->setText(QString::number(CurrentPage));
    }
}

void Frm_MessageBox::ListMessage_ColumnClick(int column) {
    const Folder f = listedFolder();
    if (f == Folder::None || column < 1 || column > 3) return;
    const FolderDef& def = f == Folder::Inbox    ? inboxDef()
                           : f == Folder::Outbox ? outboxDef()
                           : f == Folder::Failed ? failedDef()
                                                 : sentDef();
    sortOrder(f) = def.sortColumns[column - 1];
    refillListedFolder();
}

void Frm_MessageBox::ListMessage_Click(const QPoint& pos) {
    QTreeWidgetItem* item = ListMessage->itemAt(pos);
    if (!item || ListMessage->columnAt(pos.x()) < 0) return;
    readRow(item);
}

void Frm_MessageBox::readRow(QTreeWidgetItem* item) {
    try {
        const qint64 key = item->text(3).trimmed().toLongLong();
        LblNo->clear();
        txtMessage->clear();
        if (isInBoxSelected) {
            LblNo->setText(trimSpaces(item->text(0)));
            const QueryResult r = ctx_.DBConnection.query(
                QStringLiteral("select * from Message_InBox where InBox_Id=?"), {key});
            if (!r.isEmpty()) {
                txtMessage->setPlainText(cellText(r.value(0, QStringLiteral("Message"))));
                ctx_.DBConnection.execute(
                    QStringLiteral(
                        "update Message_InBox set IsRead=true where InBox_Id=? and IsRead=false"),
                    {key});
            }
            setBold(item, false);
            fillTreeView();
            selectNode(2);
        } else if (isOutBoxSelected || isSentItemsSelected || isFailedItemsSelected) {
            LblNo->setText(trimSpaces(item->text(0)));
            const QueryResult r = ctx_.DBConnection.query(
                QStringLiteral("select * from Message_OutBox where Outbox_Id=?"), {key});
            if (!r.isEmpty())
                txtMessage->setPlainText(cellText(r.value(0, QStringLiteral("Message"))));
            selectNode(isOutBoxSelected ? 3 : isSentItemsSelected ? 4 : 5);
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::DeleteSMS() {
    ui::ask(this, QStringLiteral("Are you sure to delete the message(s)?"), ui::Icon::None,
            [this](ui::Answer a) {
                if (a == ui::Answer::Yes) deleteSelected();
            });
}

void Frm_MessageBox::deleteSelected() {
    try {
        QList<QTreeWidgetItem*> chosen;
        for (int i = 0; i < ListMessage->topLevelItemCount(); ++i)
            if (ListMessage->topLevelItem(i)->isSelected()) chosen << ListMessage->topLevelItem(i);
        if (chosen.isEmpty()) {
            ui::MsgBox(QStringLiteral("Please select message which you want to delete."),
                       ui::Icon::None);
            return;
        }
        const ui::BusyCursor busy;
        // A row that moved to the other folder since the page was read (a message sent
        // while the Outbox was on screen) is left alone; its list row goes all the same.
        QString sql;
        if (isInBoxSelected)
            sql = QStringLiteral("delete from Message_InBox where InBox_Id=?");
        else if (isOutBoxSelected)
            sql = QStringLiteral(
                "delete from Message_Outbox where DeliveryDatetime is Null and Outbox_Id=?");
        else if (isSentItemsSelected)
            sql = QStringLiteral(
                "delete from Message_Outbox where DeliveryDatetime is not Null and Outbox_Id=?");
        else if (isFailedItemsSelected)
            sql = QStringLiteral("delete from Message_Outbox where DeliveryDatetime is Null and "
                                 "DeliveryStatus='FAILED' and Outbox_Id=?");
        else
            return;
        // All selected rows go together, or none (and the list stays as it was).
        ctx_.DBConnection.transaction([&] {
            for (QTreeWidgetItem* item : chosen)
                ctx_.DBConnection.execute(sql, {item->text(3).trimmed().toLongLong()});
        });
        qDeleteAll(chosen);
        LblNo->clear();
        txtMessage->clear();
        fillTreeView();
        // The rows left on the page stay; the totals tell the truth.
        showTotals(listedFolder());
        cmdNext->setEnabled(TotalPages > CurrentPage);
        cmdPrevious->setEnabled(CurrentPage > 1);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::cmdSendAgain_Click() {
    if (!isFailedItemsSelected) return;
    try {
        QList<qint64> keys;
        for (QTreeWidgetItem* item : ListMessage->selectedItems())
            keys << item->text(3).trimmed().toLongLong();
        if (keys.isEmpty()) {
            ui::MsgBox(QStringLiteral("Please select message which you want to send again."),
                       ui::Icon::None);
            return;
        }
        // Back to waiting, with a fresh count of tries.
        ctx_.DBConnection.transaction([&] {
            for (const qint64 key : keys)
                ctx_.DBConnection.execute(
                    QStringLiteral("update Message_OutBox set DeliveryStatus='', SendTries=0, "
                                   "LastError=null where Outbox_Id=? and DeliveryDatetime is "
                                   "Null and DeliveryStatus='FAILED'"),
                    {key});
        });
        LblNo->clear();
        txtMessage->clear();
        fillTreeView();
        refillListedFolder();
        selectNode(5);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::ListMessage_KeyDown(int keyCode) {
    if (keyCode == 46) DeleteSMS();
}

void Frm_MessageBox::Toolbar1_ButtonClick(int index) {
    const ModemState& m = ctx_.modem;
    // Never a second exchange inside one that is waiting for its answer.
    const bool modemFree =
        m.ModemConnected && m.ModemInitialized && !m.ModemBusy && m.ExchangeDepth == 0;
    if (index == 1) {
        if (modemFree && !m.ListingInProgress) {
            WriteActivityLog(ctx_, QStringLiteral("Checking for new SMS on SIM card."));
            emit ctx_.notifier.receiveRequested();
        }
    } else if (index == 2) {
        if (modemFree) {
            WriteActivityLog(ctx_, QStringLiteral("Checking if there are any SMS to be sent."));
            emit ctx_.notifier.sendRequested();
        }
    } else if (index == 3) {
        DeleteSMS();
    }
}

void Frm_MessageBox::refreshFromEngine() {
    if (!loaded_) return;
    fillTreeView();
    refillListedFolder(true);
}

bool Frm_MessageBox::showNewInboxRow(const QString& sender, const QString& text, qint64 id) {
    if (!loaded_ || !isInBoxSelected) return false;
    auto* item = new QTreeWidgetItem;
    item->setText(0, trimSpaces(sender));
    item->setText(1, listText(text));
    item->setText(2, nowText());
    item->setText(3, QString::number(id));
    setBold(item, true);
    ListMessage->insertTopLevelItem(0, item);
    return true;
}

bool Frm_MessageBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListMessage->viewport() && event->type() == QEvent::MouseButtonRelease) {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton) ListMessage_Click(e->position().toPoint());
    } else if (watched == ListMessage && event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            ListMessage_KeyDown(46);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void showMessageBox(AppContext& ctx, QWidget* parent) {
    auto* w = new Frm_MessageBox(ctx, parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModal(w);
}
