// The message box: folder counts, pages, sorting, reading, deleting, its toolbar, the
// engine's live updates, and how the main window and the home page open it.
#include "core/DateTimeText.h"
#include "core/FolderTotals.h"
#include "engine/Dispatcher.h"
#include "engine/MDI_Frmmanage.h"
#include "engine/frm_HomePage.h"
#include "support/ScriptedSerialPort.h"
#include "support/TestEnv.h"
#include "ui/ClickLabel.h"
#include "views/Frm_MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

namespace {

// n Inbox rows, key i received at minute i / 3 (three rows share each minute); every
// `unreadEvery`-th row unread.
void addInbox(Database& db, int n, int unreadEvery = 1000000) {
    db.execute(
        QStringLiteral(
            "with recursive c(i) as (select 1 union all select i+1 from c where i<?) "
            "insert into Message_InBox (SenderMobileNo,SenderId,Message,InboxDateTime,IsRead) "
            "select '+91' || (9800000000 + (i * 37) % 101), 0, 'message ' || i, "
            "datetime('2026-01-01', '+' || (i / 3) || ' minutes'), "
            "case when i % ? = 0 then 0 else -1 end from c"),
        {n, unreadEvery});
}

qint64 addInboxRow(Database& db, const QString& sender, const QString& text, const QString& at,
                   bool read) {
    db.execute(QStringLiteral("insert into Message_InBox (SenderMobileNo,SenderId,Message,"
                              "InboxDateTime,IsRead) values (?,0,?,?,?)"),
               {sender, text, at, read});
    return db.lastInsertId();
}

qint64 addOutboxRow(Database& db, const QVariant& number, const QVariant& text,
                    const QString& queuedAt, const QVariant& status = {},
                    const QVariant& deliveredAt = {}) {
    db.execute(
        QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                       "OutBoxDateTime,DeliveryStatus,DeliveryDatetime) values (0,?,?,?,?,?)"),
        {number, text, queuedAt, status, deliveredAt});
    return db.lastInsertId();
}

QList<qint64> keys(const Frm_MessageBox& box) {
    QList<qint64> k;
    for (int i = 0; i < box.ListMessage->topLevelItemCount(); ++i)
        k << box.ListMessage->topLevelItem(i)->text(3).toLongLong();
    return k;
}

QList<qint64> column(Database& db, const QString& sql) {
    QList<qint64> k;
    for (const QVariantList& row : db.query(sql).rows)
        k << row.value(0).toLongLong();
    return k;
}

QStringList treeTexts(const Frm_MessageBox& box) {
    QStringList t;
    for (int i = 1; i <= 4; ++i)
        t << box.node(i)->text(0) + (box.node(i)->font(0).bold() ? QStringLiteral("*") : QString());
    return t;
}

bool rowBold(const Frm_MessageBox& box, int row) {
    return box.ListMessage->topLevelItem(row)->font(0).bold();
}

void clickRow(Frm_MessageBox& box, int row) {
    QTreeWidgetItem* item = box.ListMessage->topLevelItem(row);
    QTest::mouseClick(box.ListMessage->viewport(), Qt::LeftButton, {},
                      box.ListMessage->visualItemRect(item).center());
}

void goToPage(Frm_MessageBox& box, qint64 page) {
    box.txtPages->setText(QString::number(page));
    box.txtPages_KeyPress(13);
}

} // namespace

class TestMessageBox : public QObject {
    Q_OBJECT
private slots:
    void pagesOfAFolder_data();
    void pagesOfAFolder();
    void everyWayToAPageAgrees_data();
    void everyWayToAPageAgrees();
    void sortsByEachColumn_data();
    void sortsByEachColumn();
    void unreadRowsAreBoldAndReadingMarksThemRead();
    void outboxAndSentItemsShowTheirColumns();
    void pageBoxRefusesWhatIsNotAPage();
    void deletesTheSelectedRows();
    void totalsPageBoxAndTreeAfterChanges();
    void toolbarRunsOnlyWhenTheModemIsFree_data();
    void toolbarRunsOnlyWhenTheModemIsFree();
    void followsTheEngineWhileOpen();
    void mainWindowAndHomePageOpenIt();
    void folderTotalsFollowEveryChange();
};

void TestMessageBox::pagesOfAFolder_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("label");
    QTest::newRow("250") << 250 << "of 3 Pages. Total records: 250";
    QTest::newRow("200") << 200 << "of 2 Total records: 200";
    QTest::newRow("50") << 50 << "of 1 Pages. Total records: 50";
}

void TestMessageBox::pagesOfAFolder() {
    QFETCH(int, rows);
    QFETCH(QString, label);
    TestEnv env;
    addInbox(env.ctx().DBConnection, rows);
    Frm_MessageBox box(env.ctx());
    QCOMPARE(box.lblPages->text(), QStringLiteral("Of"));
    box.TreeView1_NodeClick(2);
    QCOMPARE(box.lblPages->text(), label);
    QList<qint64> newestFirst;
    for (int i = rows; i >= 1; --i)
        newestFirst << i;
    const int pages = (rows + 99) / 100;
    QCOMPARE(box.TotalPages, pages);
    for (int p = 1; p <= pages; ++p) {
        QCOMPARE(box.CurrentPage, p);
        QCOMPARE(keys(box), newestFirst.mid((p - 1) * 100, 100));
        QCOMPARE(box.cmdNext->isEnabled(), p < pages);
        QCOMPARE(box.cmdPrevious->isEnabled(), p > 1);
        QCOMPARE(box.lblPages->text(), label);
        if (p < pages) box.cmdNext_Click();
    }
    QVERIFY(box.ListMessage->selectedItems().isEmpty());
    QVERIFY(env.messages.isEmpty());
}

void TestMessageBox::everyWayToAPageAgrees_data() {
    QTest::addColumn<int>("node");
    QTest::addColumn<int>("sortColumn"); // 0: the folder's first order
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("oddDates"); // a date of each folder is a number
    const QString in = QStringLiteral("select InBox_Id from Message_InBox order by ");
    const QString out = QStringLiteral(
        "select Outbox_Id from Message_OutBox where DeliveryDatetime is null order by ");
    const QString sent = QStringLiteral(
        "select Outbox_Id from Message_OutBox where DeliveryDatetime is not null order by ");
    QTest::newRow("inbox newest") << 2 << 0 << in + "InboxDateTime desc, InBox_Id desc" << false;
    QTest::newRow("inbox sender") << 2 << 1 << in + "SenderMobileNo, InBox_Id" << false;
    QTest::newRow("inbox text") << 2 << 2 << in + "Message, InBox_Id" << false;
    QTest::newRow("inbox oldest") << 2 << 3 << in + "InboxDateTime, InBox_Id" << false;
    QTest::newRow("outbox queued") << 3 << 0 << out + "OutBoxDateTime, Outbox_Id" << false;
    QTest::newRow("outbox number") << 3 << 1 << out + "RecipientMobileNo, Outbox_Id" << false;
    QTest::newRow("sent newest") << 4 << 0 << sent + "DeliveryDatetime desc, Outbox_Id desc" << false;
    QTest::newRow("sent number, one null") << 4 << 1 << sent + "RecipientMobileNo, Outbox_Id" << false;
    QTest::newRow("sent text, nulls") << 4 << 2 << sent + "Message, Outbox_Id" << false;
    QTest::newRow("outbox text") << 3 << 2 << out + "Message, Outbox_Id" << false;
    QTest::newRow("inbox newest, a date no text")
        << 2 << 0 << in + "InboxDateTime desc, InBox_Id desc" << true;
    QTest::newRow("outbox queued, a date no text")
        << 3 << 0 << out + "OutBoxDateTime, Outbox_Id" << true;
    QTest::newRow("sent newest, a date no text")
        << 4 << 0 << sent + "DeliveryDatetime desc, Outbox_Id desc" << true;
}

// Next, Previous and jumps from either end of the folder give the same pages as one
// listing of the whole folder, ties and nulls included.
void TestMessageBox::everyWayToAPageAgrees() {
    QFETCH(int, node);
    QFETCH(int, sortColumn);
    QFETCH(QString, expected);
    QFETCH(bool, oddDates);
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    addInbox(db, 430);
    // More received messages on the days around those: folders sorted by date span days.
    for (int i = 0; i < 170; ++i)
        addInboxRow(db, QStringLiteral("+1%1").arg(i % 9), QStringLiteral("day %1").arg(i),
                    QStringLiteral("2026-01-%1 0%2:00:00")
                        .arg(i % 2 == 0 ? 2 + i % 5 : 10 + i % 3, 2, 10, QChar('0'))
                        .arg(i % 4),
                    true);
    if (oddDates) {
        addInboxRow(db, QStringLiteral("+2"), QStringLiteral("odd"), QString(), true);
        db.execute(QStringLiteral("update Message_InBox set InboxDateTime=20260103 where "
                                  "InBox_Id=(select max(InBox_Id) from Message_InBox)"));
    }
    db.transaction([&] {
        for (int i = 0; i < 430; ++i) {
            const QString minute = QStringLiteral("2026-02-%1 10:%2:00")
                                       .arg(1 + i % 7, 2, 10, QChar('0'))
                                       .arg(i % 60, 2, 10, QChar('0'));
            const QVariant number =
                i == 77 ? QVariant() : QVariant(QStringLiteral("+44%1").arg(i % 23));
            const QVariant text =
                i % 50 == 0 ? QVariant() : QVariant(QStringLiteral("t%1").arg(i % 7));
            addOutboxRow(db, number, text, minute, {}, i % 3 == 0 ? QVariant() : QVariant(minute));
        }
        if (oddDates)
            db.execute(QStringLiteral("update Message_OutBox set OutBoxDateTime=7, "
                                      "DeliveryDatetime=case when DeliveryDatetime is null then "
                                      "null else 20260201 end where Outbox_Id in (4, 5)"));
    });
    const QList<qint64> all = column(db, expected);
    QVERIFY(all.size() > 100);
    const qint64 pages = (all.size() + 99) / 100;

    Frm_MessageBox box(env.ctx());
    box.TreeView1_NodeClick(node);
    if (sortColumn > 0) box.ListMessage_ColumnClick(sortColumn);
    QCOMPARE(box.TotalPages, pages);
    auto page = [&](qint64 p) { return all.mid((p - 1) * 100, 100); };
    for (qint64 p = 1; p <= pages; ++p) {
        QCOMPARE(keys(box), page(p));
        if (p < pages) box.cmdNext_Click();
    }
    for (qint64 p = pages; p >= 1; --p) {
        QCOMPARE(box.CurrentPage, p);
        QCOMPARE(keys(box), page(p));
        box.cmdPrevious_Click();
    }
    for (qint64 p : {pages, qint64(2), pages - 1, qint64(1), pages}) {
        goToPage(box, p);
        QCOMPARE(keys(box), page(p));
    }
    QVERIFY2(env.messages.isEmpty(), qPrintable(env.messages.join('|')));
}

void TestMessageBox::sortsByEachColumn_data() {
    QTest::addColumn<int>("node");
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<QList<int>>("order"); // positions of the rows added below
    // Rows 0, 1, 2 of each folder: numbers +3 +1 +2, texts b c a, moments 2nd 3rd 1st.
    QTest::newRow("inbox first opened: newest") << 2 << 0 << QList<int>{1, 0, 2};
    QTest::newRow("inbox by number") << 2 << 1 << QList<int>{1, 2, 0};
    QTest::newRow("inbox by message") << 2 << 2 << QList<int>{2, 0, 1};
    QTest::newRow("inbox by date: oldest first") << 2 << 3 << QList<int>{2, 0, 1};
    QTest::newRow("outbox first opened: oldest") << 3 << 0 << QList<int>{2, 0, 1};
    QTest::newRow("outbox by number") << 3 << 1 << QList<int>{1, 2, 0};
    QTest::newRow("outbox by message") << 3 << 2 << QList<int>{2, 0, 1};
    QTest::newRow("sent first opened: newest") << 4 << 0 << QList<int>{1, 0, 2};
    QTest::newRow("sent by number") << 4 << 1 << QList<int>{1, 2, 0};
    QTest::newRow("sent by message") << 4 << 2 << QList<int>{2, 0, 1};
    QTest::newRow("sent by date: newest first") << 4 << 3 << QList<int>{1, 0, 2};
    QTest::newRow("the hidden key column") << 2 << 4 << QList<int>{1, 0, 2};
}

void TestMessageBox::sortsByEachColumn() {
    QFETCH(int, node);
    QFETCH(int, sortColumn);
    QFETCH(QList<int>, order);
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const QStringList numbers{"+3", "+1", "+2"}, texts{"b", "c", "a"};
    const QStringList at{"2026-03-02 08:00:00", "2026-03-03 08:00:00", "2026-03-01 08:00:00"};
    QList<qint64> ids;
    for (int i = 0; i < 3; ++i) {
        if (node == 2)
            ids << addInboxRow(db, numbers[i], texts[i], at[i], true);
        else
            ids << addOutboxRow(db, numbers[i], texts[i], at[i],
                                node == 4 ? QVariant("SENT") : QVariant(),
                                node == 4 ? QVariant(at[i]) : QVariant());
    }
    Frm_MessageBox box(env.ctx());
    box.TreeView1_NodeClick(node);
    if (sortColumn > 0) box.ListMessage_ColumnClick(sortColumn);
    QList<qint64> want;
    for (int i : order)
        want << ids[i];
    QCOMPARE(keys(box), want);
    // Clicking the same column again does not turn the order round.
    if (sortColumn > 0) box.ListMessage_ColumnClick(sortColumn);
    QCOMPARE(keys(box), want);
    QCOMPARE(box.CurrentPage, 1);
}

void TestMessageBox::unreadRowsAreBoldAndReadingMarksThemRead() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const qint64 old = addInboxRow(db, "+911", "read long ago", "2026-01-01 09:00:00", true);
    const qint64 two =
        addInboxRow(db, "  +912  ", "first line\r\nsecond line ", "2026-01-02 09:00:00", false);
    const qint64 three = addInboxRow(db, "+913", "third", "2026-01-03 09:00:00", false);
    addOutboxRow(db, "+1", "waiting", "2026-01-01 09:00:00");
    addOutboxRow(db, "+1", "sent", "2026-01-01 09:00:00", "SENT", "2026-01-01 09:01:00");

    Frm_MessageBox box(env.ctx());
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(treeTexts(box), (QStringList{"Message*", "Inbox(2)*", "Outbox(1)*", "Sent Items"}));
    QVERIFY(box.node(1)->isExpanded());
    QVERIFY(box.ListMessage->topLevelItemCount() == 0); // no folder until one is chosen
    box.TreeView1_NodeClick(2);
    QCOMPARE(keys(box), (QList<qint64>{three, two, old}));
    QCOMPARE(box.ListMessage->topLevelItem(1)->text(0), QStringLiteral("+912"));
    QCOMPARE(box.ListMessage->topLevelItem(1)->text(1), QStringLiteral("first line second line"));
    QCOMPARE(box.ListMessage->topLevelItem(1)->text(2), QStringLiteral("2026-01-02 09:00:00"));
    QCOMPARE(box.ListMessage->headerItem()->text(2), QStringLiteral("Received On"));
    QVERIFY(box.ListMessage->isColumnHidden(3));
    QVERIFY(rowBold(box, 0) && rowBold(box, 1) && !rowBold(box, 2));

    clickRow(box, 1);
    QCOMPARE(box.LblNo->text(), QStringLiteral("+912"));
    QCOMPARE(box.txtMessage->toPlainText(),
             QStringLiteral("first line\r\nsecond line").replace("\r\n", "\n"));
    QVERIFY(!rowBold(box, 1) && rowBold(box, 0));
    QCOMPARE(env.scalar("select IsRead from Message_InBox where InBox_Id=?", {two}), -1);
    QCOMPARE(env.scalar("select IsRead from Message_InBox where InBox_Id=?", {three}), 0);
    QCOMPARE(treeTexts(box)[1], QStringLiteral("Inbox(1)*"));
    QCOMPARE(box.TreeView1->currentItem(), box.node(2));

    // The empty area below the last row: nothing happens.
    QTest::mouseClick(box.ListMessage->viewport(), Qt::LeftButton, {},
                      QPoint(20, box.ListMessage->viewport()->height() - 3));
    QCOMPARE(box.LblNo->text(), QStringLiteral("+912"));
    QVERIFY(rowBold(box, 0));
    QCOMPARE(env.scalar("select IsRead from Message_InBox where InBox_Id=?", {three}), 0);

    // A row deleted meanwhile: its number, no text, and it is no longer bold.
    db.execute(QStringLiteral("delete from Message_InBox where InBox_Id=?"), {three});
    clickRow(box, 0);
    QCOMPARE(box.LblNo->text(), QStringLiteral("+913"));
    QCOMPARE(box.txtMessage->toPlainText(), QString());
    QVERIFY(!rowBold(box, 0));
    QCOMPARE(treeTexts(box)[1], QStringLiteral("Inbox")); // none unread, not bold
    QVERIFY(env.messages.isEmpty());
}

void TestMessageBox::outboxAndSentItemsShowTheirColumns() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const qint64 sending = addOutboxRow(db, "+441", "being sent", "2026-01-01 09:00:00", "SENDING");
    addOutboxRow(db, "+442", "waiting", "2026-01-01 10:00:00", "");
    const qint64 sent =
        addOutboxRow(db, "+443", " done\r\nok ", "2026-01-01 08:00:00", "", "2026-01-01 08:05:00");
    Frm_MessageBox box(env.ctx());
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));

    box.TreeView1_NodeClick(3);
    QStringList captions;
    for (int c = 0; c < box.ListMessage->columnCount(); ++c)
        captions << box.ListMessage->headerItem()->text(c);
    QCOMPARE(captions, (QStringList{"Mobile Number", "Message", "Outbox Date", "", "Status"}));
    QCOMPARE(box.ListMessage->topLevelItem(0)->text(4), QStringLiteral("SENDING"));
    QCOMPARE(box.ListMessage->topLevelItem(1)->text(4), QString());
    clickRow(box, 0);
    QCOMPARE(box.LblNo->text(), QStringLiteral("+441"));
    QCOMPARE(box.txtMessage->toPlainText(), QStringLiteral("being sent"));
    QCOMPARE(box.TreeView1->currentItem(), box.node(3));

    box.TreeView1_NodeClick(4);
    QVERIFY(box.isSentItemsSelected && !box.isOutBoxSelected && !box.isInBoxSelected);
    QCOMPARE(box.LblNo->text(), QString()); // a new folder clears the panel
    QCOMPARE(keys(box), QList<qint64>{sent});
    QCOMPARE(box.ListMessage->headerItem()->text(2), QStringLiteral("Delivered On"));
    QCOMPARE(box.ListMessage->topLevelItem(0)->text(1), QStringLiteral("done ok"));
    QCOMPARE(box.ListMessage->topLevelItem(0)->text(2), QStringLiteral("2026-01-01 08:05:00"));
    clickRow(box, 0);
    QCOMPARE(box.txtMessage->toPlainText(), QStringLiteral("done\nok"));
    QCOMPARE(box.TreeView1->currentItem(), box.node(4));
    QCOMPARE(env.scalar("select count(*) from Message_OutBox where DeliveryStatus='SENDING' and "
                        "Outbox_Id=?",
                        {sending}),
             1); // reading changes nothing here
}

void TestMessageBox::pageBoxRefusesWhatIsNotAPage() {
    TestEnv env;
    addInbox(env.ctx().DBConnection, 250);
    Frm_MessageBox box(env.ctx());
    box.TreeView1_NodeClick(2);
    box.cmdNext_Click();
    for (const QString typed : {"a", "1+", "-", "2$", "1.5", "x1"}) {
        env.messages.clear();
        box.txtPages->setText(typed);
        QCOMPARE(env.messages, QStringList{"Please enter numeric value."});
        QCOMPARE(box.txtPages->text(), QStringLiteral("2"));
    }
    env.messages.clear();
    box.txtPages->clear();
    QVERIFY(env.messages.isEmpty()); // an empty box is fine while typing
    for (const QString typed : {"9", "0", "99999999999999999999"}) {
        env.messages.clear();
        box.txtPages->setText(typed);
        box.txtPages_KeyPress(13);
        QCOMPARE(env.messages, QStringList{"This page does not exist."});
        QCOMPARE(box.txtPages->text(), QStringLiteral("2"));
        QCOMPARE(box.CurrentPage, 2);
    }
    // Enter in an empty box: the conversion's error, and the box stays empty.
    env.messages.clear();
    box.txtPages->clear();
    box.txtPages_KeyPress(13);
    QCOMPARE(env.messages, QStringList{"Type mismatch"});
    QCOMPARE(box.txtPages->text(), QString());
    QCOMPARE(box.CurrentPage, 2);
    env.messages.clear();
    box.txtPages->setText(QStringLiteral(" 3 "));
    box.txtPages_KeyPress(65); // only Enter moves
    QCOMPARE(box.CurrentPage, 2);
    box.txtPages_KeyPress(13);
    QCOMPARE(box.CurrentPage, 3);
    QCOMPARE(box.ListMessage->topLevelItemCount(), 50);
    QVERIFY(env.messages.isEmpty());
}

void TestMessageBox::deletesTheSelectedRows() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    addInbox(db, 150, 2);
    Frm_MessageBox box(env.ctx());
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.TreeView1_NodeClick(2);
    QCOMPARE(treeTexts(box)[1], QStringLiteral("Inbox(75)*"));

    // Nothing selected: first the question, then the notice; after No, nothing more.
    env.yesNoAnswer = ui::Answer::No;
    box.ListMessage->setFocus();
    QTest::keyClick(box.ListMessage, Qt::Key_Delete);
    QCOMPARE(env.messages, QStringList{"Are you sure to delete the message(s)?"});
    env.yesNoAnswer = ui::Answer::Yes;
    env.messages.clear();
    box.ListMessage_KeyDown(46);
    QCOMPARE(env.messages, (QStringList{"Are you sure to delete the message(s)?",
                                        "Please select message which you want to delete."}));

    // Three rows selected and deleted.
    const QList<qint64> before = keys(box);
    for (int row : {0, 2, 99})
        box.ListMessage->topLevelItem(row)->setSelected(true);
    clickRow(box, 4); // reading an unread one first: the panel empties after the delete
    for (int row : {0, 2, 99})
        box.ListMessage->topLevelItem(row)->setSelected(true);
    box.ListMessage->topLevelItem(4)->setSelected(false);
    env.messages.clear();
    box.ListMessage->setFocus();
    QTest::keyClick(box.ListMessage, Qt::Key_Delete);
    QCOMPARE(env.messages, QStringList{"Are you sure to delete the message(s)?"});
    QList<qint64> remaining = before;
    for (qint64 k : {before[0], before[2], before[99]})
        remaining.removeOne(k);
    QCOMPARE(keys(box), remaining);
    QCOMPARE(env.scalar("select count(*) from Message_InBox"), 147);
    for (qint64 k : {before[0], before[2], before[99]})
        QCOMPARE(env.scalar("select count(*) from Message_InBox where InBox_Id=?", {k}), 0);
    QCOMPARE(box.LblNo->text(), QString());
    QCOMPARE(box.lblPages->text(),
             QStringLiteral("of 2 Pages. Total records: 147")); // not refilled, but counted
    QCOMPARE(treeTexts(box)[1], QStringLiteral("Inbox(72)*"));  // 150, 148 unread; and row 5 read

    // A failing delete deletes nothing and keeps the list.
    db.execute(QStringLiteral("create trigger keep before delete on Message_InBox when "
                              "OLD.InBox_Id=? begin select raise(abort, 'disk I/O error'); end")
                   .replace("?", QString::number(remaining[1])));
    box.ListMessage->clearSelection();
    box.ListMessage->topLevelItem(0)->setSelected(true);
    box.ListMessage->topLevelItem(1)->setSelected(true);
    env.messages.clear();
    box.Toolbar1_ButtonClick(3);
    QCOMPARE(env.messages,
             (QStringList{"Are you sure to delete the message(s)?", "disk I/O error"}));
    QCOMPARE(keys(box), remaining);
    QCOMPARE(env.scalar("select count(*) from Message_InBox"), 147);

    // An Outbox row sent while the page was on screen stays in Sent Items.
    const qint64 waiting = addOutboxRow(db, "+1", "a", "2026-01-01 09:00:00");
    const qint64 other = addOutboxRow(db, "+2", "b", "2026-01-01 09:01:00");
    box.TreeView1_NodeClick(3);
    db.execute(QStringLiteral("update Message_OutBox set DeliveryStatus='SENT', "
                              "DeliveryDatetime='2026-01-01 10:00:00' where Outbox_Id=?"),
               {waiting});
    box.ListMessage->topLevelItem(0)->setSelected(true);
    box.ListMessage->topLevelItem(1)->setSelected(true);
    env.messages.clear();
    box.DeleteSMS();
    QCOMPARE(box.ListMessage->topLevelItemCount(), 0);
    QCOMPARE(env.scalar("select count(*) from Message_OutBox where Outbox_Id=?", {waiting}), 1);
    QCOMPARE(env.scalar("select count(*) from Message_OutBox where Outbox_Id=?", {other}), 0);
    box.TreeView1_NodeClick(4);
    QCOMPARE(keys(box), QList<qint64>{waiting});
}

void TestMessageBox::totalsPageBoxAndTreeAfterChanges() {
    TestEnv env;
    addInbox(env.ctx().DBConnection, 250);
    Frm_MessageBox box(env.ctx());
    QCOMPARE(box.txtPages->text(), QString()); // no folder listed yet
    box.TreeView1_NodeClick(2);
    QCOMPARE(box.TreeView1->currentItem(), box.node(2));
    // The page box shows the page listed, however it was reached.
    QCOMPARE(box.txtPages->text(), QStringLiteral("1"));
    box.cmdNext_Click();
    QCOMPARE(box.txtPages->text(), QStringLiteral("2"));
    goToPage(box, 3);
    QCOMPARE(box.txtPages->text(), QStringLiteral("3"));

    // Deleting the last page's 50 rows: the totals follow at once, the busy cursor shows
    // while the rows go, and the page keeps what is left of it (nothing).
    bool busyWhileRemoving = false;
    connect(box.ListMessage->model(), &QAbstractItemModel::rowsAboutToBeRemoved, &box,
            [&] { busyWhileRemoving = QApplication::overrideCursor() != nullptr; });
    box.ListMessage->selectAll();
    box.DeleteSMS();
    QVERIFY(busyWhileRemoving);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(box.ListMessage->topLevelItemCount(), 0);
    QCOMPARE(box.lblPages->text(), QStringLiteral("of 2 Total records: 200"));
    QCOMPARE(box.TotalPages, 2);
    QVERIFY(!box.cmdNext->isEnabled() && box.cmdPrevious->isEnabled());

    // Refilled past its end, the page stays empty (no rows are lost: Previous leads back).
    box.ListMessage_ColumnClick(3);
    QCOMPARE(box.CurrentPage, 3);
    QCOMPARE(box.txtPages->text(), QStringLiteral("3"));
    QCOMPARE(box.ListMessage->topLevelItemCount(), 0);
    QVERIFY(!box.cmdNext->isEnabled() && box.cmdPrevious->isEnabled());
    box.cmdPrevious_Click();
    QCOMPARE(box.ListMessage->topLevelItemCount(), 100);
    QCOMPARE(box.txtPages->text(), QStringLiteral("2"));

    // The root node sets the page to 1 and leaves the list as it is.
    const QList<qint64> shown = keys(box);
    box.TreeView1_NodeClick(1);
    QCOMPARE(box.CurrentPage, 1);
    QCOMPARE(keys(box), shown);

    // A rebuilt tree has no node selected; its caller selects one when it wants.
    box.fillTreeView();
    QVERIFY(box.TreeView1->selectedItems().isEmpty());
    QVERIFY2(env.messages == QStringList{"Are you sure to delete the message(s)?"},
             qPrintable(env.messages.join('|')));
}

void TestMessageBox::toolbarRunsOnlyWhenTheModemIsFree_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("initialized");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("listing");
    QTest::addColumn<bool>("runs");
    QTest::newRow("receive, ready") << 1 << true << true << false << false << true;
    QTest::newRow("receive, port closed") << 1 << false << true << false << false << false;
    QTest::newRow("receive, not initialised") << 1 << true << false << false << false << false;
    QTest::newRow("receive, modem busy") << 1 << true << true << true << false << false;
    QTest::newRow("receive, listing") << 1 << true << true << false << true << false;
    QTest::newRow("send, ready") << 2 << true << true << false << false << true;
    QTest::newRow("send, during a listing") << 2 << true << true << false << true << true;
    QTest::newRow("send, port closed") << 2 << false << true << false << false << false;
    QTest::newRow("send, modem busy") << 2 << true << true << true << false << false;
}

void TestMessageBox::toolbarRunsOnlyWhenTheModemIsFree() {
    QFETCH(int, button);
    QFETCH(bool, connected);
    QFETCH(bool, initialized);
    QFETCH(bool, busy);
    QFETCH(bool, listing);
    QFETCH(bool, runs);
    ModemBench bench(true, TestEnv::Db::Connected);
    bench.port().answerAlways(QStringLiteral("AT+CLCC"), QStringLiteral("\r\nOK\r\n"));
    bench.port().answerAlways(QStringLiteral("AT+CMGL"), QStringLiteral("\r\nOK\r\n"));
    ModemState& m = bench.modem();
    m.ModemConnected = connected;
    m.ModemInitialized = initialized;
    m.ModemBusy = busy;
    m.ListingInProgress = listing;
    // The main window takes the box's requests to the engine.
    MDI_Frmmanage main(bench.ctx());
    main.timerRefreshHomePage->setEnabled(false);
    Frm_MessageBox box(bench.ctx());
    QCOMPARE(box.toolButtonReceive->toolTip(), QStringLiteral("Receive SMS In InBox"));
    QCOMPARE(box.toolButtonSend->toolTip(), QStringLiteral("Send SMS From OutBox"));
    QCOMPARE(box.toolButtonDelete->toolTip(), QStringLiteral("Delete Selected SMS"));
    (button == 1 ? box.toolButtonReceive : box.toolButtonSend)->trigger();
    const QString log = bench.log();
    if (!runs) {
        QCOMPARE(log, QString());
        QCOMPARE(bench.port().written, QStringList());
    } else if (button == 1) {
        QVERIFY2(log.contains("Checking for new SMS on SIM card."), qPrintable(log));
        QVERIFY2(log.contains("No new SMS found on SIM card."), qPrintable(log));
        QVERIFY(bench.port().written.contains(QStringLiteral("AT+CMGL=\"ALL\"\r\n")));
    } else {
        QVERIFY2(log.contains("Checking if there are any SMS to be sent."), qPrintable(log));
        QVERIFY2(log.contains("Total 0 SMS to be sent."), qPrintable(log));
    }
    QVERIFY2(bench.messages().isEmpty(), qPrintable(bench.messages().join('|')));
}

void TestMessageBox::followsTheEngineWhileOpen() {
    TestEnv env;
    AppContext& ctx = env.ctx();
    Database& db = ctx.DBConnection;
    const qint64 a = addOutboxRow(db, "+1", "a", "2026-01-01 09:00:00");
    const qint64 b = addOutboxRow(db, "+2", "b", "2026-01-01 09:01:00");
    const qint64 c = addOutboxRow(db, "+3", "c", "2026-01-01 09:02:00");
    {
        Frm_MessageBox box(ctx);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(ctx.engine.MessageBoxOpen);
        box.TreeView1_NodeClick(3);
        QVERIFY(!box.showNewInboxRow(QStringLiteral("+9"), QStringLiteral("x"), 99));
        clickRow(box, 2);
        box.ListMessage->topLevelItem(2)->setSelected(true);

        // A row sent: it leaves the Outbox page, the count drops, the row being read stays.
        db.execute(QStringLiteral("update Message_OutBox set DeliveryDatetime='2026-01-01 "
                                  "10:00:00' where Outbox_Id=?"),
                   {a});
        RefreshMessageBoxIfOpen(ctx);
        QCOMPARE(keys(box), (QList<qint64>{b, c}));
        QCOMPARE(treeTexts(box)[2], QStringLiteral("Outbox(2)*"));
        QVERIFY(box.TreeView1->selectedItems().isEmpty()); // the rebuilt tree marks none
        QCOMPARE(box.LblNo->text(), QStringLiteral("+3"));
        QVERIFY(box.ListMessage->topLevelItem(1)->isSelected());
        QCOMPARE(box.lblPages->text(), QStringLiteral("of 1 Pages. Total records: 2"));

        // A received message goes on top of the listed Inbox at once, bold.
        const qint64 old = addInboxRow(db, "+5", "old", "2026-01-01 08:00:00", true);
        box.TreeView1_NodeClick(2);
        db.execute(QStringLiteral("insert into Message_InBox (SenderMobileNo,SenderId,Message,"
                                  "InboxDateTime) values ('+919812345678',0,?,?)"),
                   {QStringLiteral(" Hi\r\nthere "), nowText()});
        const qint64 fresh = db.lastInsertId();
        emit ctx.notifier.inboxMessageStored(QStringLiteral("+919812345678 "),
                                             QStringLiteral(" Hi\r\nthere "), fresh);
        QCOMPARE(keys(box), (QList<qint64>{fresh, old}));
        QCOMPARE(box.ListMessage->topLevelItem(0)->text(1), QStringLiteral("Hi there"));
        QCOMPARE(box.ListMessage->topLevelItem(0)->text(0), QStringLiteral("+919812345678"));
        QVERIFY(rowBold(box, 0));
        RefreshMessageBoxIfOpen(ctx);
        QCOMPARE(keys(box), (QList<qint64>{fresh, old}));
        QVERIFY(rowBold(box, 0));
        QCOMPARE(treeTexts(box)[1], QStringLiteral("Inbox(1)*"));

        box.close();
        QVERIFY(!ctx.engine.MessageBoxOpen);
        // Unloaded, it takes no more news.
        emit ctx.notifier.inboxMessageStored(QStringLiteral("+9"), QStringLiteral("x"), 99);
        QCOMPARE(keys(box), (QList<qint64>{fresh, old}));
    }
    RefreshMessageBoxIfOpen(ctx); // nothing left to reach
    QVERIFY(env.messages.isEmpty());
}

void TestMessageBox::mainWindowAndHomePageOpenIt() {
    TestEnv env;
    addInbox(env.ctx().DBConnection, 3);
    addOutboxRow(env.ctx().DBConnection, "+1", "a", "2026-01-01 09:00:00");
    MDI_Frmmanage w(env.ctx());
    w.show();
    w.MDIForm_Load(); // no modem settings: it says so and goes on
    QStringList items, buttons;
    for (QAction* a : w.mnuSMSMessages->actions())
        items << a->text();
    for (QAction* a : w.Toolbar1->actions())
        buttons << a->text();
    QCOMPARE(items, (QStringList{"Send Individual SMS", "Send Bulk SMS", "View Message Box"}));
    QCOMPARE(buttons, (QStringList{"Connect", "Send Bulk SMS", "Send Quick SMS", "Message Box",
                                   "Exit"}));

    auto lastShown = [&] { return env.shown.isEmpty() ? nullptr : env.shown.last(); };
    frm_HomePage& home = *env.ctx().homePage;
    QTest::mouseClick(home.lblOutBox, Qt::LeftButton);
    auto* box = qobject_cast<Frm_MessageBox*>(lastShown());
    QVERIFY(box);
    QVERIFY(box->isOutBoxSelected);
    QCOMPARE(box->TreeView1->currentItem(), box->node(3));
    QCOMPARE(box->ListMessage->topLevelItemCount(), 1);
    QCOMPARE(home.msgType, QString());
    box->close();

    QTest::mouseClick(home.lblInBox, Qt::LeftButton);
    box = qobject_cast<Frm_MessageBox*>(lastShown());
    QVERIFY(box && box->isInBoxSelected);
    QCOMPARE(box->TreeView1->currentItem(), box->node(2));
    QCOMPARE(box->ListMessage->topLevelItemCount(), 3);
    box->close();

    w.mnuViewMessageBox->trigger();
    box = qobject_cast<Frm_MessageBox*>(lastShown());
    QVERIFY(box);
    QVERIFY(!box->isInBoxSelected && !box->isOutBoxSelected && !box->isSentItemsSelected);
    QCOMPARE(box->ListMessage->topLevelItemCount(), 0);
    QVERIFY(!box->cmdNext->isEnabled() && !box->cmdPrevious->isEnabled());
    box->close();

    w.toolButton4->trigger();
    QVERIFY(qobject_cast<Frm_MessageBox*>(lastShown()));
    lastShown()->close();
    for (QAction* open : {w.toolButton3, w.mnuSendIndividualSMS}) {
        open->trigger();
        QVERIFY(lastShown() && lastShown()->objectName() == QLatin1String("frm_ComposeSMS"));
        lastShown()->close();
    }
}

void TestMessageBox::folderTotalsFollowEveryChange() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    QString why;
    auto same = [&] { return keptTotalsExact(db, &why); };
    addInbox(db, 40, 3);
    for (int i = 0; i < 30; ++i)
        addOutboxRow(db, "+1", "m", QStringLiteral("2026-01-0%1 09:00:00").arg(1 + i % 3), {},
                     i % 4 == 0 ? QVariant("2026-01-02") : QVariant());
    QVERIFY2(same(), qPrintable(why));
    const QStringList changes{
        "update Message_InBox set InboxDateTime='2026-02-0' || (InBox_Id % 3) where "
        "InBox_Id % 4 = 1",
        "update Message_InBox set InboxDateTime=20260101 where InBox_Id = 2",
        "update Message_InBox set InboxDateTime=null where InBox_Id = 6",
        "update Message_OutBox set OutBoxDateTime='2026-03-01 10:00:00' where Outbox_Id % 5 = 1",
        "update Message_OutBox set DeliveryDatetime='2026-03-02', OutBoxDateTime=x'00' where "
        "Outbox_Id = 2",
        "insert into Message_OutBox (RecipientMobileNo,OutBoxDateTime) values ('+2', 7)",
        "insert into Message_OutBox (RecipientMobileNo,OutBoxDateTime,DeliveryDatetime) "
        "select RecipientMobileNo,OutBoxDateTime,'2026-04-01 08:00:00' from Message_OutBox",
        "update Message_InBox set IsRead=true where InBox_Id % 2 = 0",
        "update Message_InBox set IsRead=false where InBox_Id < 10",
        "update Message_InBox set IsRead=1 where InBox_Id = 3",
        "delete from Message_InBox where InBox_Id % 5 = 0",
        "update Message_OutBox set DeliveryStatus='SENT', DeliveryDatetime='2026-01-03' where "
        "Outbox_Id % 3 = 0",
        "update Message_OutBox set DeliveryDatetime=null where Outbox_Id = 4",
        "update Message_OutBox set DeliveryStatus='FAILED' where Outbox_Id % 2 = 1",
        "update Message_OutBox set DeliveryStatus='' where Outbox_Id % 5 = 1",
        "update Message_OutBox set DeliveryDatetime='2026-01-04' where Outbox_Id = 7",
        "delete from Message_OutBox where Outbox_Id % 11 = 0",
        "update Message_OutBox set DeliveryStatus='SENDING'",
        "delete from Message_OutBox where Outbox_Id % 7 = 0",
        "delete from Message_InBox",
    };
    for (const QString& sql : changes) {
        db.execute(sql);
        QVERIFY2(same(), qPrintable(sql + QStringLiteral(": ") + why));
    }
    const FolderTotals t = readFolderTotals(db);
    QCOMPARE(t.inboxTotal, 0);
    QVERIFY(t.outboxWaiting > 0 && t.sentTotal > 0);
    // Sizes that cannot be right are not believed.
    db.execute(QStringLiteral("update MessageFolderTotals set SentTotal=-3"));
    QCOMPARE(readFolderTotals(db).sentTotal, t.sentTotal);
    // A database without the kept totals is counted row by row.
    db.execute(QStringLiteral("drop table MessageFolderTotals"));
    QCOMPARE(readFolderTotals(db).outboxWaiting, t.outboxWaiting);
}

QTEST_MAIN(TestMessageBox)
#include "test_message_box.moc"
