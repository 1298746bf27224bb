// Nobody watches the screen: an error box waits for a click without holding the engine,
// the same error does not open a box per tick, and a database that refuses a write for a
// moment loses nothing and never records a send that did not happen.
#include "core/DateTimeText.h"
#include "core/Storage.h"
#include "engine/Dispatcher.h"
#include "engine/MDI_Frmmanage.h"
#include "engine/Receiver.h"
#include "engine/frm_HomePage.h"
#include "support/ScriptedSerialPort.h"
#include "ui/ClickLabel.h"
#include "ui/Ui.h"

#include <QMessageBox>
#include <QtTest>

namespace {

const QString kOk = QStringLiteral("\r\nOK\r\n");
const QString kPrompt = QStringLiteral("\r\n> ");

// A second connection that holds the database locked while it lives.
class Lock {
public:
    explicit Lock(const QString& path) {
        db_.open(path, databasePassword());
        db_.execute(QStringLiteral("BEGIN EXCLUSIVE"));
    }
    ~Lock() { release(); }
    void release() {
        if (db_.isOpen()) {
            db_.execute(QStringLiteral("COMMIT"));
            db_.close();
        }
    }

private:
    Database db_;
};

struct Bench : ModemBench {
    Bench() : ModemBench(true, TestEnv::Db::Connected) {
        port().setRThreshold(1);
        modem().ModemInitialized = true;
    }
    Database& db() { return ctx().DBConnection; }
    qint64 queue(const QString& number, const QString& text) {
        db().execute(QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,"
                                    "Message,OutBoxDateTime) values (0,?,?,?)"),
                     {number, text, nowText()});
        return db().lastInsertId();
    }
    QString status(qint64 id) {
        return db()
            .query(QStringLiteral("select DeliveryStatus from Message_OutBox where Outbox_Id=?"),
                   {id})
            .value(0, QStringLiteral("DeliveryStatus"))
            .toString();
    }
    QString listing(const QStringList& texts) {
        QString s;
        for (int i = 0; i < texts.size(); ++i)
            s += QStringLiteral("\r\n+CMGL: %1,\"REC UNREAD\",\"+4477009001%1\",\"\","
                                "\"26/12/08,10:0%1:00+00\"\r\n%2")
                     .arg(i + 1)
                     .arg(texts.at(i));
        return s + QStringLiteral("\r\n\r\nOK\r\n");
    }
};

} // namespace

class TestUnattended : public QObject {
    Q_OBJECT
private slots:
    void errorBoxHoldsNothingAndDoesNotPileUp();
    void sendIsRecordedLaterNeverResent();
    void receivedMessageIsNeverDeletedUnstoredNorStoredTwice();
    void ringDuringASendIsOneCall();
    void backToBackMissedCallsEachGetAReply();
    void clickDuringATimersPassIsThePersons();
};

void TestUnattended::errorBoxHoldsNothingAndDoesNotPileUp() {
    Bench b;
    ui::setNoticeHandler({}); // real boxes that nobody clicks
    MDI_Frmmanage w(b.ctx());
    w.timerRefreshHomePage->setEnabled(false);
    frm_HomePage& home = ensureHomePage(b.ctx());
    b.port().answerAlways(QStringLiteral("AT+CLCC"), kOk);
    b.queue(QStringLiteral("+447700900001"), QStringLiteral("hello"));

    // The send tick fails on a locked database: one box, open, not waited for.
    {
        Lock lock(b.env.dbPath());
        w.Timer2_Timer();
        w.Timer2_Timer(); // the same error again: no second box
    }
    QCOMPARE(ui::openNotices(), 1);
    auto* box = w.findChild<QMessageBox*>(QStringLiteral("notice"));
    if (!box) {
        const QWidgetList top = QApplication::topLevelWidgets();
        for (QWidget* t : top) {
            if (t->objectName() == QLatin1String("notice")) box = qobject_cast<QMessageBox*>(t);
        }
    }
    QVERIFY(box && box->isVisible());
    QVERIFY(box->text().contains(QLatin1String("locked")));

    // While it waits: the counters move, calls are logged, and sending resumes.
    b.db().execute(QStringLiteral("insert into Message_InBox (SenderMobileNo,SenderId,Message,"
                                  "InboxDateTime) values ('+1',0,'new',?)"),
                   {nowText()});
    w.timerRefreshHomePage_Timer();
    QCOMPARE(home.lblInBox->text(), QStringLiteral("Inbox (1)"));
    b.port().inject(QStringLiteral("\r\nRING\r\n\r\n+CLIP: \"+447700900999\",145,,,,0\r\n"));
    QTRY_COMPARE(b.db().count(QStringLiteral("select * from MissedCallStatistics")), 1);
    b.port().answer(kPrompt, QStringLiteral("AT+CMGS"));
    b.port().answer(QStringLiteral("\r\n+CMGS: 3\r\n\r\nOK\r\n"), QStringLiteral("hello"));
    w.Timer2_Timer();
    QCOMPARE(b.db().count(QStringLiteral("select * from Message_OutBox where "
                                         "DeliveryStatus='SENT'")),
             1);
    QCOMPARE(ui::openNotices(), 1);
    QVERIFY(box->isVisible());
    box->close();
    QTRY_COMPARE(ui::openNotices(), 0);
}

void TestUnattended::sendIsRecordedLaterNeverResent() {
    Bench b;
    const qint64 id = b.queue(QStringLiteral("+447700900002"), QStringLiteral("once"));
    b.port().answer(kPrompt, QStringLiteral("AT+CMGS"));
    b.port().answer(QStringLiteral("\r\n+CMGS: 4\r\n\r\nOK\r\n"), QStringLiteral("once"));
    // The database locks while the text goes out: the send is not recorded yet.
    std::unique_ptr<Lock> lock;
    b.ctx().sleep = [&](int ms) {
        b.sleeps << ms;
        if (ms == 250 && !lock) lock = std::make_unique<Lock>(b.env.dbPath());
        b.port().onSleep();
    };
    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());
    lock.reset();
    QCOMPARE(b.status(id), QStringLiteral("SENDING"));
    QCOMPARE(b.env.messages.size(), 1);

    // Connecting again does not take it for an interrupted send, and the next pass
    // records it without sending it a second time.
    ResetSendingMessages(b.ctx());
    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());
    QCOMPARE(b.status(id), QStringLiteral("SENT"));
    QCOMPARE(b.port().written.count(QStringLiteral("AT+CMGS=\"+447700900002\"\r")), 1);
    QVERIFY(b.ctx().engine.SentNotRecorded.isEmpty());
}

void TestUnattended::receivedMessageIsNeverDeletedUnstoredNorStoredTwice() {
    Bench b;
    const QStringList texts{QStringLiteral("first"), QStringLiteral("second")};

    // Locked while storing: nothing is deleted from the SIM.
    b.port().answer(kOk, QStringLiteral("AT+CLCC"));
    b.port().answer(b.listing(texts), QStringLiteral("AT+CMGL"));
    {
        Lock lock(b.env.dbPath());
        ReceiveNewMessages(b.ctx(), 10);
        QVERIFY(b.env.settle());
    }
    QVERIFY(b.port().written.join(QString()).contains(QLatin1String("AT+CMGL")));
    QVERIFY(!b.port().written.join(QString()).contains(QLatin1String("AT+CMGD")));

    // Stored, but the first SIM copy cannot be deleted: the next pass deletes it only.
    b.port().answer(kOk, QStringLiteral("AT+CLCC"));
    b.port().answer(b.listing(texts), QStringLiteral("AT+CMGL"));
    b.port().answer(QStringLiteral("\r\nERROR\r\n"), QStringLiteral("AT+CMGD=1"));
    b.port().answer(kOk, QStringLiteral("AT+CMGD=2"));
    ReceiveNewMessages(b.ctx(), 10);
    QVERIFY(b.env.settle());
    b.port().answer(kOk, QStringLiteral("AT+CLCC"));
    b.port().answer(b.listing({texts.first()}), QStringLiteral("AT+CMGL"));
    b.port().answer(kOk, QStringLiteral("AT+CMGD=1"));
    ReceiveNewMessages(b.ctx(), 10);
    QVERIFY(b.env.settle());

    const QueryResult rows =
        b.db().query(QStringLiteral("select Message from Message_InBox order by InBox_Id"));
    QCOMPARE(rows.count(), 2);
    QCOMPARE(rows.value(0, QStringLiteral("Message")).toString(), texts.at(0));
    QCOMPARE(rows.value(1, QStringLiteral("Message")).toString(), texts.at(1));
    QVERIFY(b.ctx().engine.StoredNotDeleted.isEmpty());
}

void TestUnattended::ringDuringASendIsOneCall() {
    Bench b;
    MDI_Frmmanage w(b.ctx());
    w.timerRefreshHomePage->setEnabled(false);
    const qint64 id = b.queue(QStringLiteral("+447700900003"), QStringLiteral("busy line"));
    // Rings arrive while the prompt and while the confirmation are awaited.
    const QString ring = QStringLiteral("\r\nRING\r\n\r\n+CLIP: \"+447700900555\",145,,,,0\r\n");
    b.port().answerInPieces({ring, kPrompt}, QStringLiteral("AT+CMGS"));
    b.port().answerInPieces({ring, ring, QStringLiteral("\r\n+CMGS: 9\r\n\r\nOK\r\n")},
                            QStringLiteral("busy line"));
    w.Timer2_Timer();
    QCOMPARE(b.status(id), QStringLiteral("SENT"));
    QTRY_COMPARE(b.log().count(QLatin1String("ALERT : Incoming call detected")), 3);
    QCOMPARE(b.db().count(QStringLiteral("select * from MissedCallStatistics")), 1);
}

void TestUnattended::backToBackMissedCallsEachGetAReply() {
    Bench b;
    b.ctx().engine.AutoReplyActive = true;
    b.ctx().engine.AutoReplyMessage = QStringLiteral("Sorry");
    MDI_Frmmanage w(b.ctx());
    w.timerRefreshHomePage->setEnabled(false);
    b.port().answerAlways(QStringLiteral("AT+CLCC"), kOk);

    // Each caller rings before the reply step has come round for the one before; the
    // database is locked from the second ring on, so the first reply cannot be written
    // and the second caller cannot be looked up.
    const QStringList callers{QStringLiteral("+919812345671"), QStringLiteral("+919812345672"),
                              QStringLiteral("+919812345673")};
    std::unique_ptr<Lock> lock;
    for (const QString& n : callers) {
        if (n == callers[1]) lock = std::make_unique<Lock>(b.env.dbPath());
        b.port().inject(QStringLiteral("\r\nRING\r\n\r\n+CLIP: \"%1\",145,,,,0\r\n"
                                       "\r\nNO CARRIER\r\n")
                            .arg(n));
        QTRY_VERIFY(w.LastCallerNumber == n && !w.CallRinging);
    }
    lock.reset();
    w.timerRefreshHomePage_Timer();
    w.timerRefreshHomePage_Timer();
    const QueryResult replies = b.db().query(
        QStringLiteral("select RecipientMobileNo from Message_OutBox order by Outbox_Id"));
    QCOMPARE(replies.count(), callers.size());
    for (int i = 0; i < callers.size(); ++i)
        QCOMPARE(replies.value(i, "RecipientMobileNo").toString(), callers[i]);
    QCOMPARE(b.db().count(QStringLiteral("select * from MissedCallStatistics")), 3);
}

// A click that comes while a timer's pass waits for the network is the person's: its
// question is asked, not answered No unseen. The pass's later rows stay the timer's work.
void TestUnattended::clickDuringATimersPassIsThePersons() {
    Bench b;
    MDI_Frmmanage w(b.ctx());
    w.timerRefreshHomePage->setEnabled(false);
    b.port().answerAlways(QStringLiteral("AT+CLCC"), kOk);
    for (const char* number : {"+447700900011", "+447700900012"}) {
        b.queue(QString::fromLatin1(number), QStringLiteral("row"));
        b.port().answer(kPrompt, QStringLiteral("AT+CMGS"));
        b.port().answerAfterPolls(QStringLiteral("\r\n+CMGS: 5\r\n\r\nOK\r\n"), 40,
                                  QStringLiteral("row"));
    }
    QStringList asked;
    ui::setMsgBoxHandler([&](const QString& text, ui::Buttons, const QString&) {
        asked << text;
        return ui::Answer::No;
    });
    QList<bool> rowsInBackground; // at the pause after each recorded send
    b.ctx().sleep = [&](int ms) {
        if (ms == 100) rowsInBackground << ui::inBackground();
        b.port().onSleep();
    };
    const auto wait = b.ctx().wait;
    bool clicked = false;
    b.ctx().wait = [&](int ms) {
        if (!std::exchange(clicked, true))
            QTimer::singleShot(0, &w, [] {
                ui::ask(nullptr, QStringLiteral("Are you sure?"), [](ui::Answer) {});
            });
        wait(ms);
    };
    w.Timer2_Timer();
    QVERIFY(b.env.settle());
    ui::setMsgBoxHandler({});
    QCOMPARE(asked, QStringList{QStringLiteral("Are you sure?")});
    QCOMPARE(rowsInBackground, (QList<bool>{true, true}));
}

QTEST_MAIN(TestUnattended)
#include "test_unattended.moc"
