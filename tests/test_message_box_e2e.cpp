// The compose window and the message box in the running program, against the simulated
// modem on a pseudo-terminal: a composed message goes out on the send timer and moves
// to Sent Items in the open message box; a received SMS appears in the open Inbox.
#include "compose/frm_ComposeSMS.h"
#include "engine/MDI_Frmmanage.h"
#include "engine/frm_HomePage.h"
#include "modem/QtSerialPort.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"
#include "ui/ClickLabel.h"
#include "views/Frm_MessageBox.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <QtTest>

namespace {

constexpr int slow = 60000; // generous: the machine may be busy

struct Live {
    TestEnv env;
    SimProcess sim;
    MDI_Frmmanage* window = nullptr;

    Live() : sim(SimProcess::portLink(env.folder(), 1)) {
        db().execute(QStringLiteral(
            "insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,StopBits,"
            "FlowControl,CharacterSet,EnabledCallerId,ModemDelayFactor) "
            "values (1,'9600','n','8','1','0','GSM',0,1)"));
        db().execute(QStringLiteral(
            "update Timer_setting set ReceiveAllMessagesTime=1, SendAllMessagesTime=1"));
        env.ctx().setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
    }
    ~Live() {
        if (QTest::currentTestFailed())
            qDebug().noquote() << "Activity log:\n"
                               << env.ctx().activityLog.text()
                               << "\nMessages:" << env.messages.join(" | ");
        delete window;
        env.ctx().mainWindow = nullptr;
    }
    Database& db() { return env.ctx().DBConnection; }
    bool startSim() {
        if (!sim.start()) return false;
        window = new MDI_Frmmanage(env.ctx());
        env.ctx().mainWindow = window;
        return true;
    }
    template <typename W> W* lastShown() {
        return env.shown.isEmpty() ? nullptr : qobject_cast<W*>(env.shown.last());
    }
};

QStringList listed(const Frm_MessageBox& box) {
    QStringList rows;
    for (int i = 0; i < box.ListMessage->topLevelItemCount(); ++i)
        rows << box.ListMessage->topLevelItem(i)->text(0) + QLatin1Char('|') +
                    box.ListMessage->topLevelItem(i)->text(1);
    return rows;
}

} // namespace

class TestMessageBoxEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void composedMessageGoesOutAndMovesToSentItems();
    void receivedSmsAppearsBoldInTheOpenInbox();
};

void TestMessageBoxEndToEnd::initTestCase() {
    if (SimProcess::executable().isEmpty()) QFAIL("the simulator was not built");
}

void TestMessageBoxEndToEnd::composedMessageGoesOutAndMovesToSentItems() {
    Live live;
    QVERIFY2(live.startSim(), qPrintable(live.sim.errorString()));

    // Queued in the compose window before the program connects.
    live.window->toolButton3->trigger();
    auto* compose = live.lastShown<frm_ComposeSMS>();
    QVERIFY(compose);
    compose->MobileNumbers->setText(QStringLiteral("+919812345678; +44 7911 123456"));
    compose->Message->setPlainText(QStringLiteral("It's \"on\" for 5 o'clock"));
    compose->Command1_Click();
    QVERIFY(!compose->isVisible());

    live.window->toolButton4->trigger();
    auto* box = live.lastShown<Frm_MessageBox>();
    QVERIFY(box);
    box->TreeView1_NodeClick(3);
    QCOMPARE(listed(*box), (QStringList{"+919812345678|It's \"on\" for 5 o'clock",
                                        "+447911123456|It's \"on\" for 5 o'clock"}));
    QCOMPARE(box->node(3)->text(0), QStringLiteral("Outbox(2)"));

    // Connecting starts the send timer; the open Outbox empties as the rows go out.
    live.window->MDIForm_Load();
    QVERIFY(live.env.ctx().modem.ModemInitialized);
    QTRY_COMPARE_WITH_TIMEOUT(box->ListMessage->topLevelItemCount(), 0, slow);
    QTRY_COMPARE_WITH_TIMEOUT(box->node(3)->text(0), QStringLiteral("Outbox"), slow);
    QVERIFY(box->TreeView1->selectedItems().isEmpty()); // the rebuilt tree marks none
    box->TreeView1_NodeClick(4);
    QCOMPARE(box->ListMessage->topLevelItemCount(), 2);
    QCOMPARE(box->lblPages->text(), QStringLiteral("of 1 Pages. Total records: 2"));

    QList<QJsonObject> sent = live.sim.transcript(QStringLiteral("sent"));
    QCOMPARE(sent.size(), 2);
    QStringList numbers;
    for (const QJsonObject& s : sent) {
        numbers << s[QStringLiteral("number")].toString();
        QCOMPARE(s[QStringLiteral("text")].toString(), QStringLiteral("It's \"on\" for 5 o'clock"));
    }
    numbers.sort();
    QCOMPARE(numbers, (QStringList{"+447911123456", "+919812345678"}));
    QVERIFY2(live.env.messages.isEmpty(), qPrintable(live.env.messages.join('|')));
}

void TestMessageBoxEndToEnd::receivedSmsAppearsBoldInTheOpenInbox() {
    Live live;
    QVERIFY2(live.startSim(), qPrintable(live.sim.errorString()));
    live.window->MDIForm_Load();
    QVERIFY(live.env.ctx().modem.ModemInitialized);

    // Opened from the home page's Inbox label.
    QTest::mouseClick(live.env.ctx().homePage->lblInBox, Qt::LeftButton);
    auto* box = live.lastShown<Frm_MessageBox>();
    QVERIFY(box && box->isInBoxSelected);
    QCOMPARE(box->ListMessage->topLevelItemCount(), 0);

    QVERIFY(live.sim.deliverSms(QStringLiteral("919812345678"),
                                QStringLiteral("Meet at 5,\r\nbring the 'keys'")) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(box->ListMessage->topLevelItemCount(), 1, slow);
    QCOMPARE(listed(*box), QStringList{"+919812345678|Meet at 5, bring the 'keys'"});
    QVERIFY(box->ListMessage->topLevelItem(0)->font(0).bold());
    QTRY_COMPARE_WITH_TIMEOUT(box->node(2)->text(0), QStringLiteral("Inbox(1)"), slow);
    QTRY_COMPARE_WITH_TIMEOUT(live.env.ctx().homePage->lblInBox->text(),
                              QStringLiteral("Inbox (1)"), slow);

    // Reading it: no longer bold, counted read everywhere.
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QTreeWidgetItem* row = box->ListMessage->topLevelItem(0);
    QTest::mouseClick(box->ListMessage->viewport(), Qt::LeftButton, {},
                      box->ListMessage->visualItemRect(row).center());
    QCOMPARE(box->txtMessage->toPlainText(), QStringLiteral("Meet at 5,\nbring the 'keys'"));
    QVERIFY(!box->ListMessage->topLevelItem(0)->font(0).bold());
    QCOMPARE(box->node(2)->text(0), QStringLiteral("Inbox"));
    QTRY_COMPARE_WITH_TIMEOUT(live.env.ctx().homePage->lblInBox->text(),
                              QStringLiteral("Inbox (0)"), slow);
    QVERIFY2(live.env.messages.isEmpty(), qPrintable(live.env.messages.join('|')));
}

QTEST_MAIN(TestMessageBoxEndToEnd)
#include "test_message_box_e2e.moc"
