// The settings window on a real database: what it shows, the checks of its time boxes,
// the order of the save's refusals, what a save stores and applies, and when it
// restarts the program.
#include "engine/MDI_Frmmanage.h"
#include "settings/SettingsText.h"
#include "settings/frm_Settings.h"
#include "support/TestEnv.h"
#include "ui/Ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QSpinBox>
#include <QtTest>

namespace {

const QString restartText = QStringLiteral(
    "You have changed the default modem settings, this needs to restart(OFF & ON) your modem "
    "as well as restart this application.\r\n\r\nThis software will now close. Please restart "
    "the application.");

// The window loaded and shown, so that focus can be checked.
struct Window {
    TestEnv& env;
    frm_Settings w;
    explicit Window(TestEnv& e) : env(e), w(e.ctx()) {
        w.Form_Load();
        w.show();
        w.activateWindow();
        if (!QTest::qWaitForWindowActive(&w)) qWarning("settings window not active");
    }
    void pick(QComboBox* combo, const QString& value) {
        frm_Settings::selectValue(combo, value);
        QVERIFY2(combo->currentIndex() >= 0, qPrintable(value));
    }
    void fillModem() {
        pick(w.Combo_comportNo, "2");
        pick(w.Combo_BitsPerSec, "115200");
        pick(w.Combo_DataBits, "8");
        pick(w.Combo_Parity, "None");
        pick(w.Combo_stopBit, "1");
        pick(w.Cmb_FlowControl, "Hardware");
        pick(w.cmb_CharSet, "GSM");
        pick(w.cmbDelay, "1.25");
    }
};

QueryResult row(TestEnv& env, const QString& table) {
    return env.ctx().DBConnection.query(QStringLiteral("select * from ") + table);
}

void storeModemRow(TestEnv& env, const QString& charSet = QStringLiteral("ANSI")) {
    env.ctx().DBConnection.execute(
        QStringLiteral("insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,"
                       "StopBits,FlowControl,CharacterSet,EnabledCallerId,ModemDelayFactor) "
                       "values (4,'9600','e','7','2','2',?,0,1.5)"),
        {charSet});
}

} // namespace

class TestSettingsWindow : public QObject {
    Q_OBJECT
private slots:
    void numbersAsPeopleTypeThem();
    void timeBoxesComplainAsTheTextChanges();
    void refusalsComeInOrderAndChangeNothing();
    void firstSaveStoresBothTablesAndRestarts();
    void connectedSaveKeepsModemFieldsAndSetsTimers();
    void refusedSaveLeavesRunningTimersAlone();
    void menuAndConnectPathOpenOneWindow();
};

void TestSettingsWindow::numbersAsPeopleTypeThem() {
    const struct {
        const char* text;
        bool numeric;
        double value;
    } cases[] = {
        {"12", true, 12},  {" 7 ", true, 7},   {"-5", true, -5},      {"5-", true, -5},
        {"+3", true, 3},   {"$4", true, 4},    {"1,000", true, 1000}, {"2.5", true, 2.5},
        {".5", true, 0.5}, {"1e2", true, 100}, {"7x", false, 0},      {".", false, 0},
        {"", false, 0},    {"1 0", false, 0},  {"--5", false, 0},     {"$", false, 0},
    };
    for (const auto& c : cases) {
        QCOMPARE_EQ(isNumericText(QString::fromLatin1(c.text)), c.numeric);
        if (c.numeric) QCOMPARE(numericValue(QString::fromLatin1(c.text)), c.value);
    }
    QCOMPARE(toWholeNumber(2.5), 2);
    QCOMPARE(toWholeNumber(3.5), 4);
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, toWholeNumber(40000));
    QCOMPARE(parityLetter("Space"), QStringLiteral("s"));
    QCOMPARE(parityWord("E"), QStringLiteral("Even"));
    QCOMPARE(flowControlWord(" 1 "), QStringLiteral("Xon/Xoff"));
    QCOMPARE(delayFactorChoices().size(), 13);
}

void TestSettingsWindow::timeBoxesComplainAsTheTextChanges() {
    TestEnv env;
    Window win(env);
    const struct {
        const char* typed;
        const char* receive; // the message, "" for none
        const char* send;
    } cases[] = {
        {"7x", "Please enter numeric value.", "Please enter numeric value."},
        {"-5", "Minus sign is not allowed in time.", "Minus sign is not allowed in time."},
        {"$5", "Doller sign is not allowed in time.", "Doller sign is not allowed in time."},
        {"+5", "Pluse sign is not allowed in time.", "Pluse sign is not allowed in time."},
        {"1,0", "Quama is not allowed in time.", "Quama is not allowed in time."},
        {"66", "Receive message time should be less than or equal to 65 seconds.",
         "Send Message time should be less than or equal to 65 seconds."},
        {"65", "", ""},
        {"2.5", "", ""},
    };
    for (QLineEdit* box : {win.w.txttime, win.w.txtSendmsgtime}) {
        const bool receive = box == win.w.txttime;
        box->setEnabled(true);
        for (const auto& c : cases) {
            env.messages.clear();
            box->setText(QString::fromLatin1(c.typed));
            const QString expected = QString::fromLatin1(receive ? c.receive : c.send);
            if (expected.isEmpty()) {
                QVERIFY2(env.messages.isEmpty(), c.typed);
                QCOMPARE(box->text(), QString::fromLatin1(c.typed));
            } else {
                QCOMPARE(env.messages, QStringList{expected});
                QCOMPARE(box->text(), QString());
                QCOMPARE(QApplication::focusWidget(), box);
            }
        }
    }
    // The check boxes switch their time boxes.
    win.w.chkEnableReceive->setChecked(false);
    QVERIFY(!win.w.txttime->isEnabled());
    win.w.chkEnableReceive->setChecked(true);
    QVERIFY(win.w.txttime->isEnabled());
}

void TestSettingsWindow::refusalsComeInOrderAndChangeNothing() {
    TestEnv env; // the shipped database: no ModemSetting row, timers 10 s
    MDI_Frmmanage& main = *new MDI_Frmmanage(env.ctx()); // the context deletes it
    env.ctx().mainWindow = &main;
    main.Timer1->setInterval(10000);
    env.ctx().engine.ReceiveIntervalSeconds = 10;
    Window win(env);
    frm_Settings& w = win.w;
    QCOMPARE(w.TabStrip1->currentIndex(), 0);
    QVERIFY(w.lblAlertMsg->isHidden());
    QVERIFY(w.OptDirctDelevary->isChecked());
    QCOMPARE(w.txttime->text(), QStringLiteral("10"));

    auto expectRefusal = [&](const QString& message, int tab, QWidget* focus) {
        env.messages.clear();
        w.cmdSave1_Click();
        QCOMPARE(env.messages, QStringList{message});
        QCOMPARE(w.TabStrip1->currentIndex(), tab);
        QCOMPARE(w.Frame1->isVisible(), tab == 0);
        QCOMPARE(QApplication::focusWidget(), focus);
    };
    w.txttime->setText(QStringLiteral("30"));
    w.txttime->clear();
    expectRefusal("Please enter time in seconds.", 1, w.txttime);
    w.txttime->setText(QStringLiteral("2.5")); // becomes 2
    expectRefusal("Automatically receive all messages time should be greater than or equal to 3.",
                  1, w.txttime);
    QCOMPARE(w.txttime->text(), QString());
    w.txttime->setText(QStringLiteral("30"));
    w.txtSendmsgtime->clear();
    expectRefusal("Please enter time in seconds.", 1, w.txtSendmsgtime);
    w.txtSendmsgtime->setText(QStringLiteral("2"));
    expectRefusal("Automatically send all messages time should be greater than or equal to 3.", 1,
                  w.txtSendmsgtime);
    w.txtSendmsgtime->setText(QStringLiteral("20"));

    const struct {
        QComboBox* combo;
        const char* message;
        const char* value;
    } fields[] = {
        {w.Combo_comportNo, "Please select Comm port Number.", "2"},
        {w.Combo_BitsPerSec, "Please select Bits Per Second.", "9600"},
        {w.Combo_DataBits, "Please select Data Bits.", "8"},
        {w.Combo_Parity, "Please select Parity.", "None"},
        {w.Combo_stopBit, "Please select Stop bits.", "1"},
        {w.Cmb_FlowControl, "Please select Flow Control.", "None"},
        {w.cmb_CharSet, "Please select Character set.", "GSM"},
        {w.cmbDelay, "Please select Modem Delay Factor.", "1"},
    };
    w.TabStrip1->setCurrentIndex(1);
    for (const auto& f : fields) {
        expectRefusal(QString::fromLatin1(f.message), 0, f.combo);
        win.pick(f.combo, QString::fromLatin1(f.value));
    }
    // Nothing of the refused saves was stored or applied.
    QCOMPARE(env.scalar("select count(*) from ModemSetting"), 0);
    QCOMPARE(row(env, "Timer_setting").value(0, "ReceiveAllMessagesTime").toInt(), 10);
    QCOMPARE(main.Timer1->interval(), 10000);
    QCOMPARE(env.ctx().engine.ReceiveIntervalSeconds, 10);
    QCOMPARE(env.endRequests, 0);
    w.close();
    QVERIFY(!env.ctx().engine.ModalFormOpen);
}

void TestSettingsWindow::firstSaveStoresBothTablesAndRestarts() {
    TestEnv env;
    // A database that lost its timer row gets one back rather than losing the settings.
    env.ctx().DBConnection.execute(QStringLiteral("delete from Timer_setting"));
    Window win(env);
    frm_Settings& w = win.w;
    QVERIFY(env.ctx().engine.ModalFormOpen);
    QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!w.OptDirctDelevary->isChecked() && !w.OptStoreOnSIM->isChecked());
    win.fillModem();
    w.chkEnbCallID->setChecked(true);
    w.chkEnableReceive->setChecked(true);
    w.txttime->setText(QStringLiteral("3.5")); // stored as the whole number 4
    w.txtSendmsgtime->setText(QStringLiteral("20"));
    w.OptStoreOnSIM->setChecked(true);
    w.cmdSave1_Click();

    QCOMPARE(env.messages, QStringList{restartText});
    QCOMPARE(env.endRequests, 1);
    const QueryResult m = row(env, "ModemSetting");
    QCOMPARE(m.count(), 1);
    QCOMPARE(m.value(0, "CommPortNo").toInt(), 2);
    QCOMPARE(m.value(0, "BitsPerSecond").toString(), QStringLiteral("115200"));
    QCOMPARE(m.value(0, "DataBits").toString(), QStringLiteral("8"));
    QCOMPARE(m.value(0, "Parity").toString(), QStringLiteral("n"));
    QCOMPARE(m.value(0, "StopBits").toString(), QStringLiteral("1"));
    QCOMPARE(m.value(0, "FlowControl").toString(), QStringLiteral("2"));
    QCOMPARE(m.value(0, "CharacterSet").toString(), QStringLiteral("GSM"));
    QCOMPARE(m.value(0, "EnabledCallerId").toInt(), -1);
    QCOMPARE(m.value(0, "ModemDelayFactor").toDouble(), 1.25);
    QCOMPARE(env.ctx().modem.ModemDelayFactor, 1.25);
    const QueryResult t = row(env, "Timer_setting");
    QCOMPARE(t.count(), 1);
    QCOMPARE(t.value(0, "EnableReceiveTimer").toInt(), -1);
    QCOMPARE(t.value(0, "ReceiveAllMessagesTime").toInt(), 4);
    QCOMPARE(t.value(0, "EnableSendTimer").toInt(), 0);
    QCOMPARE(t.value(0, "SMSDelevaryMode").toString(), QStringLiteral("STORE AND DELIVER"));
    QCOMPARE(env.ctx().engine.ReceiveIntervalSeconds, 4);
    QCOMPARE(env.ctx().engine.SendIntervalSeconds, 0);

    // A second window shows what was stored; saving it unchanged needs no restart.
    env.messages.clear();
    Window again(env);
    QCOMPARE(again.w.selectedPort(), 2);
    QCOMPARE(again.w.Combo_Parity->currentText(), QStringLiteral("None"));
    QCOMPARE(again.w.cmbDelay->currentText(), QStringLiteral("1.25"));
    QVERIFY(again.w.OptStoreOnSIM->isChecked());
    QVERIFY(!again.w.txtSendmsgtime->isEnabled());
    again.w.OptDirctDelevary->setChecked(true);
    again.w.cmdSave1_Click();
    QCOMPARE(env.messages, QStringList{"Settings Saved Successfully!!!"});
    QCOMPARE(env.endRequests, 1);
    QCOMPARE(row(env, "Timer_setting").value(0, "SMSDelevaryMode").toString(),
             QStringLiteral("DIRECT DELIVER"));

    // A port taken from the search at 115200 restarts even with the same delay.
    env.messages.clear();
    again.w.selectPortFromList = true;
    again.w.cmdSave1_Click();
    QCOMPARE(env.messages, QStringList{restartText});
    QCOMPARE(env.endRequests, 2);
}

void TestSettingsWindow::connectedSaveKeepsModemFieldsAndSetsTimers() {
    TestEnv env;
    storeModemRow(env);
    MDI_Frmmanage& main = *new MDI_Frmmanage(env.ctx()); // the context deletes it
    env.ctx().mainWindow = &main;
    env.ctx().modem.ModemConnected = true;
    main.Timer2->setInterval(10000);
    Window win(env);
    frm_Settings& w = win.w;
    QVERIFY(!w.Frame1->isEnabled());
    const QList<QWidget*> modemControls{w.Combo_comportNo, w.cmbDelay, w.chkEnbCallID,
                                        w.cmdChkModem};
    for (QWidget* c : modemControls)
        QVERIFY(!c->isEnabled());
    QCOMPARE(w.lblAlertMsg->text(),
             QStringLiteral("You can not change the modem settings. Because computer is already "
                            "connected with modem."));
    QCOMPARE(w.selectedPort(), 4);
    QVERIFY(w.Combo_comportNo->currentText().startsWith(QLatin1String("COM4 (")));
    QCOMPARE(w.Combo_Parity->currentText(), QStringLiteral("Even"));
    QCOMPARE(w.Cmb_FlowControl->currentText(), QStringLiteral("Hardware"));
    QCOMPARE(w.cmbDelay->currentText(), QStringLiteral("1.5"));
    QVERIFY(!w.chkEnbCallID->isChecked());

    w.txttime->setText(QStringLiteral("65"));
    w.chkEnableSend->setChecked(false);
    // The delivery options can change while connected.
    QCOMPARE(w.txtGiveUpTries->value(), 0);
    QVERIFY(!w.chkDeliveryReports->isChecked());
    w.txtGiveUpTries->setValue(5);
    w.chkDeliveryReports->setChecked(true);
    // The busy cursor while the save works, gone when it is over.
    bool busyWhileSaving = false;
    QObject::connect(&env.ctx().notifier, &Notifier::pollingTimersChanged, &w,
                     [&] { busyWhileSaving = QApplication::overrideCursor() != nullptr; });
    w.cmdSave1_Click();
    QVERIFY(busyWhileSaving);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(env.messages, QStringList{"Settings Saved Successfully!!!"});
    QCOMPARE(env.endRequests, 0);
    QCOMPARE(main.Timer1->interval(), 65000);
    QCOMPARE(main.Timer2->interval(), 0);
    QCOMPARE(env.ctx().engine.SendIntervalSeconds, 0);
    const QueryResult m = row(env, "ModemSetting");
    QCOMPARE(m.count(), 1);
    QCOMPARE(m.value(0, "CommPortNo").toInt(), 4);
    QCOMPARE(m.value(0, "Parity").toString(), QStringLiteral("e"));
    QCOMPARE(m.value(0, "DataBits").toString(), QStringLiteral("7"));
    QCOMPARE(m.value(0, "StopBits").toString(), QStringLiteral("2"));
    QCOMPARE(m.value(0, "FlowControl").toString(), QStringLiteral("2"));
    QCOMPARE(m.value(0, "CharacterSet").toString(), QStringLiteral("ANSI"));
    QCOMPARE(m.value(0, "EnabledCallerId").toInt(), 0);
    QCOMPARE(m.value(0, "ModemDelayFactor").toDouble(), 1.5);
    QCOMPARE(row(env, "Timer_setting").value(0, "EnableSendTimer").toInt(), 0);
    QCOMPARE(row(env, "Timer_setting").value(0, "GiveUpAfterTries").toInt(), 5);
    QCOMPARE(row(env, "Timer_setting").value(0, "AskDeliveryReports").toInt(), -1);
    QVERIFY(env.ctx().modem.AskDeliveryReports);
    {
        Window again(env);
        QCOMPARE(again.w.txtGiveUpTries->value(), 5);
        QVERIFY(again.w.chkDeliveryReports->isChecked());
    }

    // The search is not started on a port the program is listening on.
    env.messages.clear();
    w.cmdChkModem_Click();
    QCOMPARE(env.messages.size(), 1);
    QVERIFY(env.shown.isEmpty());
}

void TestSettingsWindow::refusedSaveLeavesRunningTimersAlone() {
    TestEnv env;
    storeModemRow(env, QString());                       // a stored row without a character set
    MDI_Frmmanage& main = *new MDI_Frmmanage(env.ctx()); // the context deletes it
    env.ctx().mainWindow = &main;
    env.ctx().modem.ModemConnected = true;
    main.Timer1->setInterval(10000);
    main.Timer2->setInterval(10000);
    env.ctx().engine.ReceiveIntervalSeconds = 10;
    env.ctx().engine.SendIntervalSeconds = 10;
    Window win(env);
    win.w.txttime->setText(QStringLiteral("40"));
    win.w.chkEnableSend->setChecked(false);
    win.w.OptStoreOnSIM->setChecked(true);
    win.w.cmdSave1_Click();
    QCOMPARE(env.messages, QStringList{"Please select Character set."});
    QCOMPARE(main.Timer1->interval(), 10000);
    QCOMPARE(main.Timer2->interval(), 10000);
    QCOMPARE(env.ctx().engine.ReceiveIntervalSeconds, 10);
    QCOMPARE(env.ctx().engine.SendIntervalSeconds, 10);
    QCOMPARE(env.ctx().modem.ModemDelayFactor, 1.0);
    const QueryResult t = row(env, "Timer_setting");
    QCOMPARE(t.value(0, "ReceiveAllMessagesTime").toInt(), 10);
    QCOMPARE(t.value(0, "EnableSendTimer").toInt(), -1);
    QCOMPARE(t.value(0, "SMSDelevaryMode").toString(), QStringLiteral("DIRECT DELIVER"));
}

void TestSettingsWindow::menuAndConnectPathOpenOneWindow() {
    TestEnv env;
    auto* main = new MDI_Frmmanage(env.ctx());
    env.ctx().mainWindow = main;
    QCOMPARE(main->mnuSetings->actions().value(0), main->modemsetting);
    QCOMPARE(main->modemsetting->text(), QStringLiteral("System Settings"));

    // Connecting without modem settings says so and opens the settings window.
    main->start_Click();
    QCOMPARE(env.messages,
             QStringList{"Please set all the settings before connecting with modem."});
    QCOMPARE(env.shown.size(), 1);
    auto* settings = qobject_cast<frm_Settings*>(env.shown.first());
    QVERIFY(settings);
    QVERIFY(settings->isVisible());
    QVERIFY(!settings->isModal());
    // The menu brings the same window forward instead of opening a second one.
    main->modemsetting->trigger();
    QCOMPARE(env.shown.size(), 1);
    // Once closed, the next request opens a fresh one.
    settings->close();
    env.ctx().showSettingsWindow();
    QCOMPARE(env.shown.size(), 2);
    QVERIFY(env.shown.last() != settings);
}

QTEST_MAIN(TestSettingsWindow)
#include "test_settings_window.moc"
