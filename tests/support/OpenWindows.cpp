#include "support/OpenWindows.h"

#include "core/DateTimeText.h"
#include "engine/MDI_Frmmanage.h"
#include "modem/AtAnswer.h"
#include "modem/QtSerialPort.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"
#include "ui/Ui.h"
#include "views/Frm_ManageSIMMsg.h"
#include "views/Frm_MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

struct Opener {
    QString name;
    std::function<void(MDI_Frmmanage&)> open;
    // Whether what it opened is on screen.
    std::function<bool()> isOpen;
};

template <class T> T* visibleWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) return t;
    return nullptr;
}

bool visibleNamed(const QString& objectName) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == objectName) return true;
    return false;
}

QList<Opener> openers() {
    auto named = [](const char* name) {
        return [n = QString::fromLatin1(name)] { return visibleNamed(n); };
    };
    return {
        {QStringLiteral("compose"), [](MDI_Frmmanage& w) { w.mnuSendIndividualSMS->trigger(); },
         named("frm_ComposeSMS")},
        {QStringLiteral("bulk wizard"), [](MDI_Frmmanage& w) { w.mnuSendBulkSMS->trigger(); },
         named("Frm_BulkSMS_Step2")},
        {QStringLiteral("message box"), [](MDI_Frmmanage& w) { w.mnuViewMessageBox->trigger(); },
         named("Frm_MessageBox")},
        // (The modem search cannot be started while the program is connected: the settings
        // window disables it.)
        {QStringLiteral("settings"), [](MDI_Frmmanage& w) { w.modemsetting->trigger(); },
         named("frm_Settings")},
        {QStringLiteral("auto reply"),
         [](MDI_Frmmanage& w) { w.mnuAutoreplyOnMissedCall->trigger(); },
         named("Frm_AutoReplyOnMissedCall")},
        // The SIM manager lists every message on the SIM, one kind per turn.
        {QStringLiteral("SIM manager"),
         [](MDI_Frmmanage& w) {
             w.manageSim->trigger();
             if (auto* m = visibleWindow<Frm_ManageSIMMsg>()) {
                 m->Chkshowall->setChecked(true);
                 m->CmdShow->click();
             }
         },
         named("Frm_ManageSIMMsg")},
        {QStringLiteral("missed calls"), [](MDI_Frmmanage& w) { w.showMissedCallsReport(); },
         named("Frm_MissedCallsList")},
        {QStringLiteral("about"), [](MDI_Frmmanage& w) { w.mnuAbout->trigger(); },
         named("frm_About")},
        {QStringLiteral("question"),
         [](MDI_Frmmanage& w) {
             w.mnuViewMessageBox->trigger();
             if (auto* box = visibleWindow<Frm_MessageBox>()) box->DeleteSMS();
         },
         named("question")},
    };
}

// Closes what the person opened: boxes first (a question answered No), then windows.
void closeEverything(QWidget* mainWindow) {
    for (int round = 0; round < 3; ++round) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w == mainWindow || !w->isVisible()) continue;
            if (auto* box = qobject_cast<QMessageBox*>(w)) box->reject();
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w == mainWindow || !w->isVisible() || qobject_cast<QMessageBox*>(w)) continue;
            w->close();
        }
        QTest::qWait(200);
    }
}

QString rowNumber(int i) {
    return QStringLiteral("+4479%1").arg(i, 8, 10, QLatin1Char('0'));
}

} // namespace

QStringList openWindowNames() {
    QStringList names;
    for (const Opener& o : openers())
        names << o.name;
    return names;
}

QString OpenWindowsResult::report() const {
    QStringList lines;
    lines << QStringLiteral("%1 rows queued, %2 marked SENT, %3 texts reached the network; sent "
                            "twice %4, never sent %5, misdelivered %6")
                 .arg(queued)
                 .arg(sentRows)
                 .arg(sentEvents)
                 .arg(sentTwice)
                 .arg(lost)
                 .arg(misdelivered);
    lines << QStringLiteral("%1 SMS delivered by the network, %2 in the Inbox once")
                 .arg(delivered)
                 .arg(stored);
    for (const PeriodCounts& p : periods)
        lines << QStringLiteral("  %1 %2 sends, %3 listings, %4 call polls in %5 s%6")
                     .arg(p.window.isEmpty() ? QStringLiteral("(no window)") : p.window, -14)
                     .arg(p.sends, 3)
                     .arg(p.listings, 3)
                     .arg(p.polls, 3)
                     .arg(p.ms / 1000.0, 4, 'f', 1)
                     .arg(p.window.isEmpty() || p.opened ? QString()
                                                         : QStringLiteral("  (not on screen!)"));
    for (const QString& p : problems)
        lines << QStringLiteral("  problem: ") + p;
    return lines.join(QLatin1Char('\n'));
}

QList<WindowRatios> OpenWindowsResult::ratios() const {
    QList<WindowRatios> list;
    for (int i = 1; i + 1 < periods.size(); i += 2) {
        const PeriodCounts& before = periods.at(i - 1);
        const PeriodCounts& w = periods.at(i);
        const PeriodCounts& after = periods.at(i + 1);
        auto ratio = [&](int PeriodCounts::*count) {
            const double none = (before.perMinute(before.*count) + after.perMinute(after.*count)) / 2;
            return none > 0 ? w.perMinute(w.*count) / none : 0.0;
        };
        list << WindowRatios{w.window, ratio(&PeriodCounts::sends), ratio(&PeriodCounts::listings),
                             ratio(&PeriodCounts::polls), w.opened};
    }
    return list;
}

OpenWindowsResult runOpenWindows(const OpenWindowsConfig& c) {
    OpenWindowsResult r;
    TestEnv env;
    AppContext& ctx = env.ctx();
    Database& db = ctx.DBConnection;
    SimProcess sim(SimProcess::portLink(env.folder(), 1));
    if (!sim.start()) {
        r.problems << QStringLiteral("the simulator did not start: ") + sim.errorString();
        return r;
    }
    db.execute(QStringLiteral(
        "insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,StopBits,FlowControl,"
        "CharacterSet,EnabledCallerId,ModemDelayFactor) values (1,'9600','n','8','1','0','GSM',"
        "-1,1)"));
    db.execute(QStringLiteral(
        "update Timer_setting set EnableReceiveTimer=-1, ReceiveAllMessagesTime=1, "
        "EnableSendTimer=-1, SendAllMessagesTime=1, SMSDelevaryMode='DIRECT DELIVER'"));
    // With OPEN_WINDOWS_DUMP set, every activity log line is kept in that file as written.
    QFile logFile(qEnvironmentVariable("OPEN_WINDOWS_DUMP"));
    if (!logFile.fileName().isEmpty() && logFile.open(QIODevice::WriteOnly)) {
        QObject::connect(&ctx.activityLog, &ActivityLog::textChanged, [&logFile](const QString& t) {
            logFile.write(t.left(t.indexOf(QLatin1String("\r\n"))).toUtf8() + '\n');
            logFile.flush();
        });
    }
    ctx.setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
    auto* window = new MDI_Frmmanage(ctx);
    ctx.mainWindow = window;
    window->show();
    window->MDIForm_Load();
    if (!ctx.modem.ModemInitialized) {
        r.problems << QStringLiteral("the program did not connect: ") + env.messages.join(" | ");
        delete window;
        return r;
    }
    // From here on the real windows and boxes, nobody answering them but this run.
    ui::setShowHandler({});
    ui::setMsgBoxHandler({});
    ui::setNoticeHandler({});

    // The Outbox is kept full.
    QHash<QString, QString> texts; // number -> text
    int nextRow = 0;
    bool topUp = true;
    const QString waitingSql =
        QStringLiteral("select count(*) from Message_OutBox where DeliveryDatetime is null");
    QTimer topper;
    QObject::connect(&topper, &QTimer::timeout, [&] {
        if (!topUp) return;
        try {
            for (qint64 waiting = env.scalar(waitingSql); waiting < c.queueSize; ++waiting) {
                const QString number = rowNumber(nextRow);
                const QString text = QStringLiteral("Row %1 of the window run").arg(nextRow);
                db.execute(QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,"
                                          "Message,OutBoxDateTime) values (0,?,?,?)"),
                           {number, text, nowText()});
                texts.insert(number, text);
                ++nextRow;
            }
        } catch (const std::exception&) {
            // Busy a moment: the next round tops up.
        }
    });
    topper.start(300);
    // The network delivers an SMS now and then.
    QStringList deliveredTexts;
    QTimer deliverer;
    QObject::connect(&deliverer, &QTimer::timeout, [&] {
        const QString text = QStringLiteral("Delivered %1").arg(deliveredTexts.size());
        if (sim.deliverSms(QStringLiteral("+447700900123"), text) > 0) deliveredTexts << text;
    });
    deliverer.start(c.deliverEveryMs);

    // A click that arrives while a send waits for the network's late confirmation.
    std::function<void()> pendingClick;
    const auto baseWait = ctx.wait;
    ctx.wait = [&](int ms) {
        if (pendingClick && at::lineOf(ctx.modem).reader().kind() == at::Kind::Confirm) {
            QTimer::singleShot(0, std::exchange(pendingClick, nullptr));
            sim.ok(QStringLiteral("delay 0")); // only this confirmation comes late
        }
        baseWait(ms);
    };

    auto snapshot = [&sim]() {
        PeriodCounts p;
        p.sends = static_cast<int>(sim.transcript(QStringLiteral("sent")).size());
        for (const QString& cmd : sim.commands()) {
            if (cmd.startsWith(QLatin1String("AT+CMGL"))) ++p.listings;
            if (cmd.startsWith(QLatin1String("AT+CLCC"))) ++p.polls;
        }
        return p;
    };
    // Counts what happens while `during` runs, `ms` long.
    auto measure = [&](const QString& name, int ms, const std::function<bool()>& isOpen) {
        const PeriodCounts before = snapshot();
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(ms / 2);
        bool opened = isOpen();
        QTest::qWait(ms - ms / 2);
        opened = opened && isOpen();
        PeriodCounts p = snapshot();
        p.ms = clock.elapsed();
        p.window = name;
        p.opened = opened;
        p.sends -= before.sends;
        p.listings -= before.listings;
        p.polls -= before.polls;
        r.periods << p;
        qInfo().noquote() << QStringLiteral("%1: %2 sends, %3 listings, %4 polls in %5 s%6")
                                 .arg(name.isEmpty() ? QStringLiteral("(no window)") : name)
                                 .arg(p.sends)
                                 .arg(p.listings)
                                 .arg(p.polls)
                                 .arg(p.ms / 1000.0, 0, 'f', 1)
                                 .arg(opened ? QString() : QStringLiteral(" (not on screen)"));
    };

    QList<Opener> chosen;
    for (const Opener& o : openers())
        if (c.windows.isEmpty() || c.windows.contains(o.name)) chosen << o;
    QTest::qWait(1000); // the first rows are under way
    for (const Opener& o : chosen) {
        measure(QString(), c.baselineMs, [] { return true; });
        // Armed: the next send's confirmation comes late, and the click arrives then.
        const int sentBefore = static_cast<int>(sim.transcript(QStringLiteral("sent")).size());
        sim.ok(QStringLiteral("on-send delay %1").arg(c.lateConfirmMs));
        pendingClick = [window, open = o.open] { open(*window); };
        if (!QTest::qWaitFor([&] { return !pendingClick; }, 30000)) {
            r.problems << QStringLiteral("no send waited for its confirmation to click '%1' in")
                              .arg(o.name);
            pendingClick = nullptr;
            sim.ok(QStringLiteral("on-send off"));
            sim.ok(QStringLiteral("delay 0"));
        }
        // The window is open; the late confirmation is taken, and sending goes on.
        if (!QTest::qWaitFor(
                [&] { return sim.transcript(QStringLiteral("sent")).size() > sentBefore + 1; },
                30000))
            r.problems << QStringLiteral("sending did not go on under '%1'").arg(o.name);
        measure(o.name, c.periodMs, o.isOpen);
        closeEverything(window);
    }
    measure(QString(), c.baselineMs, [] { return true; });

    // Everything goes out and in; then the outcome is checked against the transcript.
    topUp = false;
    deliverer.stop();
    if (!QTest::qWaitFor([&] { return env.scalar(waitingSql) == 0; }, c.drainTimeoutMs))
        r.problems << QStringLiteral("the Outbox did not empty");
    if (!QTest::qWaitFor([&] { return sim.simMessages().isEmpty(); }, 30000))
        r.problems << QStringLiteral("the SIM did not empty");
    ctx.wait = baseWait;

    r.queued = nextRow;
    r.sentRows = static_cast<int>(env.scalar(
        QStringLiteral("select count(*) from Message_OutBox where DeliveryStatus='SENT'")));
    QHash<QString, int> wentOut;
    for (const QJsonObject& e : sim.transcript(QStringLiteral("sent"))) {
        ++r.sentEvents;
        const QString number = e.value(QLatin1String("number")).toString();
        if (texts.value(number) != e.value(QLatin1String("text")).toString()) ++r.misdelivered;
        ++wentOut[number];
    }
    for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
        const int n = wentOut.value(it.key());
        if (n == 0) ++r.lost;
        if (n > 1) ++r.sentTwice;
    }
    r.delivered = static_cast<int>(deliveredTexts.size());
    for (const QString& t : deliveredTexts)
        if (env.scalar(QStringLiteral("select count(*) from Message_InBox where Message=?"), {t}) ==
            1)
            ++r.stored;
    closeEverything(window);
    delete window;
    ctx.mainWindow = nullptr;
    return r;
}
