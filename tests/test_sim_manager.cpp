// The SIM message manager against the simulated modem on a real pseudo-terminal.
#include "modem/ModemInit.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"
#include "modem/QtSerialPort.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"
#include "views/Frm_ManageSIMMsg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QThread>
#include <QTreeWidget>
#include <QtTest>

namespace {

const QString notCommunicating =
    QStringLiteral("Computer is not communicating with the modem. Please select the option "
                   "'Listen To Modem' before executing any modem commands.");

// A program folder with the simulator on COM1, opened and initialised, and no main
// window (so no receiver empties the SIM behind the test's back).
struct Bench {
    TestEnv env{TestEnv::Db::None};
    SimProcess sim;

    explicit Bench(const QStringList& simArgs = {})
        : sim(SimProcess::portLink(env.folder(), 1), simArgs) {
        ctx().setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
        ctx().modem.ModemDelayFactor = 0.2;
        // A real pause, then (on a busy machine) a wait for the modem's first bytes.
        ctx().sleep = [this](int ms) {
            QThread::msleep(static_cast<unsigned long>(ms));
            QDeadlineTimer deadline(15000);
            while (ctx().modem.ResponseBuffer.isEmpty() && ctx().MSComm1().portOpen() &&
                   ctx().MSComm1().inBufferCount() == 0 && !deadline.hasExpired()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                QThread::msleep(2);
            }
        };
    }
    AppContext& ctx() { return env.ctx(); }

    bool connect(bool pduMode = false) {
        if (!sim.start()) return false;
        ConfigurePort(ctx(), ctx().MSComm1(), 1, QStringLiteral("115200,n,8,1"));
        OpenPort(ctx(), ctx().MSComm1());
        InitializeModem(ctx(), ctx().MSComm1(), QStringLiteral("0"), QStringLiteral("GSM"), true,
                        pduMode);
        return ctx().modem.ModemInitialized;
    }
    // A window as the main window shows it.
    Frm_ManageSIMMsg* open() {
        auto* w = new Frm_ManageSIMMsg(ctx());
        w->setAttribute(Qt::WA_DeleteOnClose);
        ui::showModal(w);
        return w;
    }
    QStringList deletes() const {
        return sim.commands().filter(QRegularExpression(QStringLiteral("^AT\\+CMGD=")));
    }
    QStringList simNumbers() {
        QStringList numbers;
        for (const QJsonObject& m : sim.simMessages())
            numbers << m[QStringLiteral("number")].toString();
        return numbers;
    }
};

// Column texts of the listed rows: message | status | number.
QStringList rows(const Frm_ManageSIMMsg* w) {
    QStringList out;
    for (int i = 0; i < w->Listmessage->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = w->Listmessage->topLevelItem(i);
        out << item->text(Frm_ManageSIMMsg::ColMessage) + '|' +
                   item->text(Frm_ManageSIMMsg::ColStatus) + '|' +
                   item->text(Frm_ManageSIMMsg::ColNumber);
    }
    return out;
}

void tick(Frm_ManageSIMMsg* w, int row) {
    w->Listmessage->topLevelItem(row)->setCheckState(Frm_ManageSIMMsg::ColMessage, Qt::Checked);
}

} // namespace

class TestSimManager : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void closedPortRefusesEveryModemAction();
    void showListsTickedKindsInOrder();
    void deleteByKindUsesOnlyTheKindsTickedAtYes();
    void deletingTickedRowsReopensTheWindowEmpty();
    void aPlaceThatChangedSinceTheListingIsNotDeleted();
    void fiftyMessageSimListsCompletely();
    void pduModeListsDecodedTextsAndStatuses();
};

void TestSimManager::initTestCase() {
    if (SimProcess::executable().isEmpty()) QFAIL("the simulator was not built");
}

void TestSimManager::closedPortRefusesEveryModemAction() {
    TestEnv env(TestEnv::Db::None);
    auto* w = new Frm_ManageSIMMsg(env.ctx());
    w->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModal(w);
    QPointer<Frm_ManageSIMMsg> window(w);
    w->Chkshowall->setChecked(true);
    w->ChkAll->setChecked(true);
    w->CmdShow_Click();
    w->CmdDelFromList_Click();
    w->CmdDelete_Click();
    QCOMPARE(env.messages, QStringList(3, notCommunicating));
    QCOMPARE(env.shown.size(), 1); // no reopening, no question
    QVERIFY(window && w->isVisible());

    // A click that comes while another exchange waits for its answer runs after it.
    env.messages.clear();
    env.ctx().modem.ExchangeDepth = 1;
    w->CmdShow_Click();
    QTest::qWait(120);
    QVERIFY(env.messages.isEmpty());
    env.ctx().modem.ExchangeDepth = 0;
    QTRY_COMPARE(env.messages, QStringList{notCommunicating});
    w->close();
}

void TestSimManager::showListsTickedKindsInOrder() {
    Bench b;
    QVERIFY(b.connect());
    // Slot order differs from kind order on purpose.
    QVERIFY(b.sim.deliverSms("+15550001", "sent one", {}, "sent") > 0);
    QVERIFY(b.sim.deliverSms("+15550002", "read one", {}, "read") > 0);
    QVERIFY(b.sim.deliverSms("+15550003", "unread one") > 0);
    QVERIFY(b.sim.deliverSms("+15550004", "unsent one", {}, "unsent") > 0);
    QVERIFY(b.sim.deliverSms("+15550005", "read two", {}, "read") > 0);

    Frm_ManageSIMMsg* w = b.open();
    w->Chkshowread->setChecked(true);
    w->Chkshowsent->setChecked(true);
    w->CmdShow_Click();
    // The busy cursor until the last kind is listed.
    QVERIFY(QApplication::overrideCursor() &&
            QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    // One listing per turn of the event loop.
    QTRY_COMPARE(rows(w), (QStringList{"read one|READ|+15550002", "read two|READ|+15550005",
                                       "sent one|SENT|+15550001"}));
    QCOMPARE(w->Listmessage->topLevelItem(2)->text(Frm_ManageSIMMsg::ColIndex), "1");
    QCOMPARE(b.sim.commands().filter("AT+CMGL"),
             (QStringList{"AT+CMGL=\"REC READ\"", "AT+CMGL=\"STO SENT\""}));

    // Select All ticks every row, and clears them again.
    w->chkItem->setChecked(true);
    w->chkItem_Click();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(w->Listmessage->topLevelItem(i)->checkState(0), Qt::Checked);
    w->chkItem->setChecked(false);
    w->chkItem_Click();
    QCOMPARE(w->Listmessage->topLevelItem(0)->checkState(0), Qt::Unchecked);

    // "All" shows its own word; a kind with nothing on the SIM adds no rows. Each Show
    // starts from an empty list.
    QVERIFY(b.sim.ok("clear"));
    QVERIFY(b.sim.deliverSms("+15550006", "only", {}, "unsent") > 0);
    w->Chkshowread->setChecked(false);
    w->Chkshowall->setChecked(true);
    w->CmdShow_Click();
    QTRY_COMPARE(rows(w), QStringList{"only|ALL|+15550006"});
    QVERIFY(b.env.messages.isEmpty());
    QTRY_VERIFY(QApplication::overrideCursor() == nullptr);
    w->close();
}

void TestSimManager::deleteByKindUsesOnlyTheKindsTickedAtYes() {
    Bench b;
    QVERIFY(b.connect());
    QVERIFY(b.sim.deliverSms("+15550011", "r1", {}, "read") > 0);
    QVERIFY(b.sim.deliverSms("+15550012", "s1", {}, "sent") > 0);
    QVERIFY(b.sim.deliverSms("+15550013", "r2", {}, "read") > 0);
    QVERIFY(b.sim.deliverSms("+15550014", "u1", {}, "unsent") > 0);

    Frm_ManageSIMMsg* w = b.open();
    w->Chkshowall->setChecked(true);
    w->CmdShow_Click();
    QCOMPARE(w->Listmessage->topLevelItemCount(), 4);

    w->ChkAll->setChecked(true);
    b.env.yesNoAnswer = ui::Answer::No;
    w->CmdDelete_Click();
    QCOMPARE(b.env.messages, QStringList{"Are you sure to delete the Messages?"});
    QVERIFY(b.deletes().isEmpty());

    w->ChkAll->setChecked(false);
    w->ChkRead->setChecked(true);
    b.env.yesNoAnswer = ui::Answer::Yes;
    w->CmdDelete_Click();
    QTRY_COMPARE(b.deletes(), (QStringList{"AT+CMGD=1", "AT+CMGD=3"}));
    QCOMPARE(b.simNumbers(), (QStringList{"+15550012", "+15550014"}));
    // The list shown before stays as it was.
    QCOMPARE(w->Listmessage->topLevelItemCount(), 4);
    QCOMPARE(b.env.messages.size(), 2);
    w->close();
}

void TestSimManager::deletingTickedRowsReopensTheWindowEmpty() {
    Bench b;
    QVERIFY(b.connect());
    // Storage indexes that are not row numbers.
    const QList<int> storage{2, 3, 5, 7};
    for (int i = 0; i < storage.size(); ++i)
        QCOMPARE(b.sim.deliverSms(QStringLiteral("+1555002%1").arg(i), QStringLiteral("m%1").arg(i),
                                  {}, "read", storage[i]),
                 storage[i]);

    QPointer<Frm_ManageSIMMsg> w = b.open();
    w->Chkshowread->setChecked(true);
    w->ChkSent->setChecked(true);
    w->CmdShow_Click();
    QTRY_COMPARE(w->Listmessage->topLevelItemCount(), 4);
    tick(w, 1);
    tick(w, 3);
    w->CmdDelFromList_Click();
    QCOMPARE(b.env.messages, QStringList{"Are you sure to delete the selected messages?"});
    QTRY_COMPARE(b.deletes(), (QStringList{"AT+CMGD=3", "AT+CMGD=7"}));
    QCOMPARE(b.simNumbers(), (QStringList{"+15550020", "+15550022"}));

    // The window closed and a fresh one opened, modeless and empty.
    QTRY_VERIFY(!w || !w->isVisible());
    auto* again = qobject_cast<Frm_ManageSIMMsg*>(b.env.shown.last());
    QVERIFY(again && again != w.data() && again->isVisible() && !again->isModal());
    QCOMPARE(again->Listmessage->topLevelItemCount(), 0);
    for (QCheckBox* box : again->findChildren<QCheckBox*>())
        QVERIFY(!box->isChecked());

    // No: nothing deleted, and the window starts again just the same.
    again->Chkshowall->setChecked(true);
    again->CmdShow_Click();
    tick(again, 0);
    b.env.yesNoAnswer = ui::Answer::No;
    again->CmdDelFromList_Click();
    QCOMPARE(b.deletes().size(), 2);
    auto* third = qobject_cast<Frm_ManageSIMMsg*>(b.env.shown.last());
    QVERIFY(third && third != again);
    QCOMPARE(third->Listmessage->topLevelItemCount(), 0);
    third->close();
    QTRY_VERIFY(!w); // the closed windows go away
}

void TestSimManager::aPlaceThatChangedSinceTheListingIsNotDeleted() {
    Bench b;
    QVERIFY(b.connect());
    QCOMPARE(b.sim.deliverSms("+15550031", "stored long ago", {}, "read", 2), 2);
    QCOMPARE(b.sim.deliverSms("+15550032", "still here", {}, "read", 4), 4);
    QCOMPARE(b.sim.deliverSms("+15550033", "same sender", {}, "read", 6), 6);
    Frm_ManageSIMMsg* w = b.open();
    w->Chkshowall->setChecked(true);
    w->CmdShow_Click();
    QTRY_COMPARE(w->Listmessage->topLevelItemCount(), 3);
    for (int row = 0; row < 3; ++row)
        tick(w, row);

    // Meanwhile the message at place 2 went (into the Inbox, say) and a new one took its
    // place; the one at place 6 was replaced by another text from the same sender.
    QVERIFY(b.sim.ok(QStringLiteral("delete 2")));
    QCOMPARE(b.sim.deliverSms("+15550099", "never stored", {}, {}, 2), 2);
    QVERIFY(b.sim.ok(QStringLiteral("delete 6")));
    QCOMPARE(b.sim.deliverSms("+15550033", "a new text", {}, {}, 6), 6);

    w->CmdDelFromList_Click();
    QVERIFY(QApplication::overrideCursor() != nullptr); // busy until the last place
    QTRY_VERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(b.deletes(), QStringList{"AT+CMGD=4"});
    QCOMPARE(b.simNumbers(), (QStringList{"+15550099", "+15550033"}));
    QCOMPARE(b.env.messages.size(), 2);
    const QString notice = b.env.messages[1];
    QVERIFY2(notice.contains(QLatin1String("Place 2: from +15550031, \"stored long ago\"")) &&
                 notice.contains(QLatin1String("Place 6: from +15550033")) &&
                 !notice.contains(QLatin1String("Place 4")),
             qPrintable(notice));
    b.env.shown.last()->close();
}

void TestSimManager::fiftyMessageSimListsCompletely() {
    Bench b({QStringLiteral("--slots"), QStringLiteral("50")});
    QVERIFY(b.connect());
    const QStringList kinds{"read", "unread", "sent", "unsent"};
    QStringList expected;
    for (int i = 1; i <= 50; ++i) {
        const QString number = QStringLiteral("+9198%1").arg(10000000 + i);
        QCOMPARE(b.sim.deliverSms(number, QStringLiteral("Text number %1, full-length body").arg(i),
                                  {}, kinds[i % 4]),
                 i);
        expected << number;
    }
    Frm_ManageSIMMsg* w = b.open();
    w->Chkshowall->setChecked(true);
    w->CmdShow_Click();
    QCOMPARE(w->Listmessage->topLevelItemCount(), 50);
    QStringList numbers;
    for (int i = 0; i < 50; ++i) {
        const QTreeWidgetItem* item = w->Listmessage->topLevelItem(i);
        numbers << item->text(Frm_ManageSIMMsg::ColNumber);
        QCOMPARE(item->text(Frm_ManageSIMMsg::ColIndex), QString::number(i + 1));
        QCOMPARE(item->text(Frm_ManageSIMMsg::ColMessage),
                 QStringLiteral("Text number %1, full-length body").arg(i + 1));
    }
    QCOMPARE(numbers, expected);
    w->close();
}

// In PDU mode the kinds are listed by number and each PDU is shown as its text: any
// alphabet, and which part of a long message it is.
void TestSimManager::pduModeListsDecodedTextsAndStatuses() {
    Bench b;
    QVERIFY(b.connect(true));
    const QString cyrillic = QStringLiteral("Привет, мир € 😀");
    const QString longText = QStringLiteral("long ").repeated(40).trimmed(); // 2 parts
    QVERIFY(b.sim.deliverSms("+15550001", cyrillic, {}, "read") > 0);
    QVERIFY(b.sim.ok(QStringLiteral("sms +15550002 ") + longText)); // "OK <slot>,<slot>"
    QVERIFY(b.sim.deliverSms("+15550003", "sent one", {}, "sent") > 0);

    Frm_ManageSIMMsg* w = b.open();
    w->Chkshowread->setChecked(true);
    w->Chkshowunread->setChecked(true);
    w->Chkshowsent->setChecked(true);
    w->CmdShow_Click();
    QTRY_COMPARE(w->Listmessage->topLevelItemCount(), 4);
    QTRY_VERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(b.sim.commands().filter("AT+CMGL"),
             (QStringList{"AT+CMGL=1", "AT+CMGL=0", "AT+CMGL=3"}));
    const QStringList shown = rows(w);
    QCOMPARE(shown.at(0), cyrillic + "|READ|+15550001");
    QCOMPARE(shown.at(1), longText.left(153) + " (part 1 of 2)|UNREAD|+15550002");
    QCOMPARE(shown.at(2), longText.mid(153) + " (part 2 of 2)|UNREAD|+15550002");
    QCOMPARE(shown.at(3), "sent one|SENT|+15550003");
    QVERIFY(b.env.messages.isEmpty());
    w->close();
}

QTEST_MAIN(TestSimManager)
#include "test_sim_manager.moc"
