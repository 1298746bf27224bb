// The modem search against simulated modems on real pseudo-terminals, linked into the
// test program folder's ports/ (every other COM port links to a missing device), and
// the whole set-up of a fresh program through its settings window.
#include "core/Storage.h"
#include "engine/Startup.h"
#include "engine/MDI_Frmmanage.h"
#include "settings/Frm_FoundModemPortNumbers.h"
#include "modem/QtSerialPort.h"
#include "settings/frm_ChekModemProgress.h"
#include "settings/frm_Settings.h"
#include "support/ScriptedSerialPort.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"
#include "ui/Ui.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {

constexpr int slow = 60000; // generous: the machine may be busy

// A program folder whose COM1..COM20 are missing devices except the simulated modems.
struct SearchWorld {
    TestEnv env;
    std::vector<std::unique_ptr<SimProcess>> sims;
    QList<int> sleeps;
    std::function<void()> onSleep;
    QPointer<frm_ChekModemProgress> progress;
    QString comPorts; // the progress window's result, read as its search ends
    bool finished = false;
    QList<QPointer<QWidget>> shown; // windows shown so far (gone ones read as null)

    // `modems`: port number -> extra simulator options.
    explicit SearchWorld(const QMap<int, QStringList>& modems) {
        QDir(env.folder()).mkpath(QStringLiteral("ports"));
        for (int port = 1; port <= 20; ++port) {
            const QString link = SimProcess::portLink(env.folder(), port);
            if (modems.contains(port))
                sims.push_back(std::make_unique<SimProcess>(link, modems.value(port)));
            else
                QFile::link(env.folder() + QStringLiteral("/absent/COM%1").arg(port), link);
        }
        ctx().setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
        ctx().sleep = [this](int ms) {
            sleeps << ms;
            if (onSleep) onSleep();
            QThread::msleep(static_cast<unsigned long>(ms));
        };
        ui::setShowHandler([this](QWidget* w, bool) {
            shown << w;
            if (auto* p = qobject_cast<frm_ChekModemProgress*>(w)) {
                progress = p;
                QObject::connect(p, &frm_ChekModemProgress::searchFinished, [this, p] {
                    comPorts = p->ComPorts;
                    finished = true;
                });
            }
            w->show();
        });
    }
    bool startSims() {
        for (auto& s : sims)
            if (!s->start()) return false;
        return true;
    }
    AppContext& ctx() { return env.ctx(); }
    template <typename T> QList<T*> shownOf() {
        QList<T*> list;
        for (const QPointer<QWidget>& w : shown)
            if (auto* t = qobject_cast<T*>(w.data())) list << t;
        return list;
    }
    bool cgmiSent() {
        for (auto& s : sims)
            if (s->commands().join('|').contains(QLatin1String("AT+CGMI"))) return true;
        return false;
    }
};

} // namespace

class TestModemSearch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void findsTheModemsAndTakesOneIntoTheSettings();
    void silentPortCostsFourWaitsAndFindsNothing();
    void cancelStopsTheSearchWithoutAResult();
    void forbiddenPortIsExplained();
    void freshProgramIsSetUpThroughItsWindowsAndSends();
};

void TestModemSearch::initTestCase() {
    if (SimProcess::executable().isEmpty()) QFAIL("the simulator was not built");
}

void TestModemSearch::findsTheModemsAndTakesOneIntoTheSettings() {
    // Commas inside a manufacturer or model keep the columns of the rows after it.
    SearchWorld world(
        {{3, {"--manufacturer", "Acme Wireless, Inc.", "--model", "AW-100, rev 2"}}, {5, {}}});
    QVERIFY(world.startSims());
    frm_Settings settings(world.ctx());
    settings.Form_Load();
    settings.cmdChkModem_Click();
    QTRY_VERIFY_WITH_TIMEOUT(world.finished, slow);

    QCOMPARE(world.comPorts, QStringLiteral("3, 5, "));
    QCOMPARE(world.env.messages, QStringList());
    QVERIFY(!world.ctx().modem.ModemConnected);
    QVERIFY(!world.ctx().MSComm1().portOpen());
    const auto found = world.shownOf<Frm_FoundModemPortNumbers>();
    QCOMPARE(found.size(), 1);
    QPointer<Frm_FoundModemPortNumbers> window = found.first();
    QCOMPARE(window->windowTitle(), QStringLiteral("Select Your Modem"));
    QTableWidget* grid = window->MshNumbers;
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(grid->horizontalHeaderItem(1)->text(), QStringLiteral("Port Number"));
    const QString pts3 = QFileInfo(SimProcess::portLink(world.env.folder(), 3)).canonicalFilePath();
    QCOMPARE(grid->item(0, 1)->text(), QStringLiteral("COM3 (%1)").arg(pts3));
    QCOMPARE(grid->item(0, 2)->text(), QStringLiteral("Acme Wireless, Inc."));
    QCOMPARE(grid->item(0, 2)->foreground().color(), QColor(0, 0, 255));
    QCOMPARE(grid->item(0, 3)->text(), QStringLiteral("AW-100, rev 2"));
    QCOMPARE(grid->item(1, 2)->text(), QStringLiteral("SIMCOM_Ltd"));
    QCOMPARE(grid->item(1, 3)->text(), QStringLiteral("SIMCOM_SIM800"));
    QVERIFY(world.ctx().engine.ModalFormOpen);

    // The port column does nothing; the manufacturer takes the row.
    window->MshNumbers_Click(1, 1);
    QVERIFY(window->isVisible());
    QCOMPARE(settings.selectedPort(), 0);
    window->MshNumbers_Click(1, 2);
    QVERIFY(window->selectPortFromList);
    QVERIFY(settings.selectPortFromList);
    QCOMPARE(settings.selectedPort(), 5);
    QCOMPARE(settings.Combo_BitsPerSec->currentText(), QStringLiteral("115200"));
    QCOMPARE(settings.cmbDelay->currentText(), QStringLiteral("3"));
    QTRY_VERIFY(!window);
}

void TestModemSearch::silentPortCostsFourWaitsAndFindsNothing() {
    SearchWorld world({{4, {}}});
    QVERIFY(world.startSims());
    QVERIFY(world.sims[0]->setSilent(true));
    frm_Settings settings(world.ctx());
    settings.Form_Load();
    settings.cmdChkModem_Click();
    QTRY_VERIFY_WITH_TIMEOUT(world.finished, slow);

    // The probe's first wait and three more, each 100 ms at delay factor 1.
    QCOMPARE(world.sleeps, QList<int>({100, 100, 100, 100}));
    QCOMPARE(world.env.messages,
             QStringList{"Searched COM ports from 1 - 20 but did not find a modem."});
    QCOMPARE(world.comPorts, QString());
    QVERIFY(world.progress.isNull() || world.progress->ProgBar->value() == 100);
    const auto found = world.shownOf<Frm_FoundModemPortNumbers>();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first()->MshNumbers->rowCount(), 0);
}

void TestModemSearch::cancelStopsTheSearchWithoutAResult() {
    SearchWorld world({{3, {}}, {5, {}}});
    QVERIFY(world.startSims());
    frm_Settings settings(world.ctx());
    settings.Form_Load();
    // Cancel is clicked while the first modem is being probed.
    world.onSleep = [&world] {
        if (world.progress && !world.progress->cancelled()) world.progress->Command1_Click();
    };
    settings.cmdChkModem_Click();
    QTRY_VERIFY_WITH_TIMEOUT(world.finished, slow);
    QCOMPARE(world.comPorts, QString());
    QVERIFY(world.shownOf<Frm_FoundModemPortNumbers>().isEmpty());
    QVERIFY(world.env.messages.isEmpty());
    QVERIFY(!world.cgmiSent());
    QVERIFY(!world.ctx().MSComm1().portOpen());
    // Only COM3 was probed.
    QVERIFY(world.sims[0]->commands().contains(QStringLiteral("AT")));
    QVERIFY(world.sims[1]->commands().isEmpty());
}

void TestModemSearch::forbiddenPortIsExplained() {
    ModemBench bench(false);
    const QString why = QStringLiteral(
        "Permission denied: COM1 (/dev/ttyS0) belongs to group 'dialout' and user 'clinic' "
        "is not in that group. Add the user to it (for example: sudo usermod -aG dialout "
        "clinic), then log out and in again.");
    bench.port().failOpenWith(8010, why);
    frm_ChekModemProgress progress(bench.ctx(), nullptr);
    progress.Form_Load();
    progress.Form_Activate();
    // One port per turn of the event loop.
    QTRY_VERIFY(progress.finished());
    QCOMPARE(progress.permissionProblems, QStringList{why});
    QCOMPARE(bench.messages().size(), 2);
    QCOMPARE(bench.messages().at(0),
             QStringLiteral("Searched COM ports from 1 - 20 but did not find a modem."));
    QVERIFY(bench.messages().at(1).endsWith(why));
    // The nineteen ports that opened were silent: four waits each.
    QCOMPARE(bench.sleeps.size(), 19 * 4);
    for (QWidget* w : bench.env.shown)
        delete w;
}

void TestModemSearch::freshProgramIsSetUpThroughItsWindowsAndSends() {
    SearchWorld world({{2, {}}});
    QVERIFY(world.startSims());
    SimProcess& sim = *world.sims[0];
    AppContext& ctx = world.ctx();
    ctx.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
    auto* main = new MDI_Frmmanage(ctx);
    ctx.mainWindow = main;
    main->MDIForm_Load();
    QCOMPARE(world.env.messages,
             QStringList{"Please set all the settings before connecting with modem."});
    const auto settingsWindows = world.shownOf<frm_Settings>();
    QCOMPARE(settingsWindows.size(), 1);
    frm_Settings* settings = settingsWindows.first();

    settings->cmdChkModem_Click();
    QTRY_VERIFY_WITH_TIMEOUT(world.finished, slow);
    QCOMPARE(world.comPorts, QStringLiteral("2, "));
    const auto found = world.shownOf<Frm_FoundModemPortNumbers>();
    QCOMPARE(found.size(), 1);
    found.first()->MshNumbers_Click(0, 2);
    for (auto [combo, value] : {std::pair{settings->Combo_DataBits, "8"},
                                {settings->Combo_Parity, "None"},
                                {settings->Combo_stopBit, "1"},
                                {settings->Cmb_FlowControl, "None"},
                                {settings->cmb_CharSet, "GSM"}})
        frm_Settings::selectValue(combo, QString::fromLatin1(value));
    settings->txtSendmsgtime->setText(QStringLiteral("3"));
    world.env.messages.clear();
    settings->cmdSave1_Click();
    QCOMPARE(world.env.messages.size(), 1);
    QVERIFY(world.env.messages.first().startsWith(
        QLatin1String("You have changed the default modem settings")));
    QCOMPARE(world.env.endRequests, 1);
    QVERIFY(!ctx.MSComm1().portOpen());
    delete main;

    // The program starts again on the stored settings and sends what is queued.
    AppContext again(world.env.folder());
    again.endProcess = [](int) {};
    QVERIFY(ConnectDatabase(again));
    again.setSerialPort(std::make_unique<QtSerialPort>(world.env.folder()));
    again.DBConnection.execute(
        QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                       "OutBoxDateTime) values (0,'+919812345678','Set up by hand','2026-12-08 "
                       "10:00:00')"));
    world.env.messages.clear();
    again.mainWindow = new MDI_Frmmanage(again);
    again.mainWindow->MDIForm_Load();
    QVERIFY2(again.modem.ModemInitialized,
             qPrintable(again.activityLog.text() + world.env.messages.join('|')));
    QCOMPARE(again.modem.ModemDelayFactor, 3.0);
    QVERIFY(again.activityLog.text().contains(QLatin1String("on COM Port: 2")));
    QTRY_COMPARE_WITH_TIMEOUT(sim.transcript(QStringLiteral("sent")).size(), 1, slow);
    QCOMPARE(sim.transcript(QStringLiteral("sent")).first()[QStringLiteral("text")].toString(),
             QStringLiteral("Set up by hand"));
    QVERIFY2(world.env.messages.isEmpty(), qPrintable(world.env.messages.join('|')));
}

QTEST_MAIN(TestModemSearch)
#include "test_modem_search.moc"
