// Start-up: the screen check, the splash's hand-over and a missing database.
#include "core/Storage.h"
#include "engine/MDI_Frmmanage.h"
#include "engine/Startup.h"
#include "engine/frm_HomePage.h"
#include "support/ScriptedSerialPort.h"
#include "support/TestEnv.h"
#include "ui/ClickLabel.h"
#include "ui/Ui.h"

#include <QAction>
#include <QFile>
#include <QtTest>

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void screenCheck_data();
    void screenCheck();
    void splashHandsOverOnceOnKeyPress();
    void splashHandsOverAfterItsTimer();
    void missingDatabaseStillShowsTheWindows();
    void loadReadsSettings();
};

void TestStartup::screenCheck_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("warns");
    QTest::newRow("800 x 600") << 800 << 600 << true;
    QTest::newRow("1023 x 767") << 1023 << 767 << true;
    QTest::newRow("1280 x 720") << 1280 << 720 << false;
    QTest::newRow("800 x 800") << 800 << 800 << false;
    QTest::newRow("1024 x 768") << 1024 << 768 << false;
}

void TestStartup::screenCheck() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, warns);
    QCOMPARE(screenNeedsWarning(width, height), warns);
    const QString text = screenWarningText(width, height);
    QVERIFY(text.startsWith(
        QStringLiteral(
            "Required Screen Resolution: 1024 x 768\r\nCurrent Screen Resolution: %1 x %2\r\n\r\n")
            .arg(width)
            .arg(height)));
    QVERIFY(text.endsWith(QStringLiteral("\r\n Do you want to continue any way?")));
}

void TestStartup::splashHandsOverOnceOnKeyPress() {
    int shown = 0;
    frmSplash splash([&] { ++shown; });
    splash.show();
    QTest::keyClick(&splash, Qt::Key_Space);
    QCOMPARE(shown, 1);
    QVERIFY(!splash.isVisible());
    QTest::keyClick(&splash, Qt::Key_Return);
    QTest::mouseClick(&splash, Qt::LeftButton);
    QTest::qWait(50);
    QCOMPARE(shown, 1);
    QVERIFY(!splash.Timer1->isRunning());
}

void TestStartup::splashHandsOverAfterItsTimer() {
    int shown = 0;
    frmSplash splash([&] { ++shown; });
    QCOMPARE(splash.Timer1->interval(), 3000);
    QVERIFY(splash.Timer1->isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(shown, 1, 10000);
    QTest::mouseClick(&splash, Qt::LeftButton);
    QCOMPARE(shown, 1);
}

void TestStartup::missingDatabaseStillShowsTheWindows() {
    TestEnv env(TestEnv::Db::None);
    AppContext& ctx = env.ctx();
    bool mainShown = false;
    QVERIFY(Main(ctx, [&] {
        auto* w = new MDI_Frmmanage(ctx);
        ctx.mainWindow = w;
        w->show();
        w->MDIForm_Load();
        mainShown = true;
    }));
    QCOMPARE(env.messages.size(), 1);
    QVERIFY(env.messages[0].startsWith(
        QStringLiteral("Following error occur while connecting with database")));
    QVERIFY(!ctx.core.DatabaseConnected);
    QCOMPARE(env.shown.size(), 1);
    auto* splash = qobject_cast<frmSplash*>(env.shown[0]);
    QVERIFY(splash);
    QTest::keyClick(splash, Qt::Key_A);
    QVERIFY(mainShown);
    QCOMPARE(ctx.mainWindow->windowTitle(), QStringLiteral("Varnex - Bulk SMS"));
    // The main window's load reports the failing query's description and stops.
    QCOMPARE(env.messages.size(), 2);
    QCOMPARE(env.messages[1],
             QStringLiteral("Operation is not allowed when the object is closed."));
    QVERIFY(ctx.homePage);
    QCOMPARE(env.endRequests, 0);
}

void TestStartup::loadReadsSettings() {
    TestEnv env;
    AppContext& ctx = env.ctx();
    Database& db = ctx.DBConnection;
    db.execute(QStringLiteral(
        "insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,StopBits,"
        "FlowControl,CharacterSet,EnabledCallerId,ModemDelayFactor) "
        "values (1,'9600','n','8','1','0','GSM',-1,2.5)"));
    db.execute(QStringLiteral(
        "insert into AutoReply_OnMissedCall (IsActive,Message) values (-1,'  Sorry, busy  ')"));
    db.execute(
        QStringLiteral("update Timer_setting set EnableSendTimer=0, ReceiveAllMessagesTime=20"));

    // A modem that never answers: the load connects, the initialisation fails quietly.
    ctx.setSerialPort(std::make_unique<ScriptedSerialPort>());
    ctx.sleep = [](int) {};
    MDI_Frmmanage w(ctx);
    ctx.mainWindow = &w;
    w.MDIForm_Load();
    QVERIFY2(env.messages.isEmpty(), qPrintable(env.messages.join('|')));
    QVERIFY(!ctx.modem.ModemConnected);
    QCOMPARE(w.toolButton1->text(), QStringLiteral("Connect"));
    QCOMPARE(w.toolButton1Image(), 2);
    QVERIFY(w.start->isEnabled() && !w.mnustop->isEnabled());
    QCOMPARE(ctx.modem.ModemDelayFactor, 2.5);
    QVERIFY(ctx.engine.AutoReplyActive);
    QCOMPARE(ctx.engine.AutoReplyMessage, QStringLiteral("Sorry, busy"));
    QCOMPARE(ctx.engine.ReceiveIntervalSeconds, 20);
    QCOMPARE(ctx.engine.SendIntervalSeconds, 0);
    QVERIFY(ctx.engine.ActivityLogEnabled);
    QVERIFY(ctx.activityLog.text().contains(
        QLatin1String("Initializing AutoReply On MissedCall Properties.")));
    QVERIFY(!ctx.homePage->lblStart->isEnabled());
    QCOMPARE(ctx.homePage->lblInBox->text(), QStringLiteral("Inbox (0)"));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
