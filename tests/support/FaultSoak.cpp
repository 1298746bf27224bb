#include "support/FaultSoak.h"

#include "core/DateTimeText.h"
#include "engine/MDI_Frmmanage.h"
#include "modem/QtSerialPort.h"
#include "modem/SmsCommands.h"
#include "modem/SmsText.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"
#include "ui/Ui.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <functional>

namespace {

const QString kReply = QStringLiteral("Sorry, I missed your call.");

QString rowNumber(int i) {
    return QStringLiteral("+4477%1").arg(i, 8, 10, QLatin1Char('0'));
}
QString callNumber(int i) {
    return QStringLiteral("+91987654%1").arg(i, 4, 10, QLatin1Char('0'));
}
QString senderNumber(int i) {
    return QStringLiteral("+4478%1").arg(i, 8, 10, QLatin1Char('0'));
}

// Queued texts: plain, long (two parts), the GSM extension table, quotes, and texts that
// look like the modem's own words. Text mode cannot carry the extension table (ESC would
// cancel the text): those rows must stay in the Outbox, never sent, named once in the log.
QString rowText(int i) {
    switch (i % 8) {
    case 0:
        return QStringLiteral("Row %1: ").arg(i) + QString(190, QLatin1Char('x'));
    case 1:
        return QStringLiteral("Row %1 costs 5\u20AC [net] {ok} ~^|\\").arg(i);
    case 2:
        return QStringLiteral("Row %1\nOK\nRING\n+CMGS: 5\nAT+CMGD=1,4").arg(i);
    case 3:
        return QStringLiteral("Row %1 'single' \"double\" @home_$ \u00A3\u0394\u00E9").arg(i);
    default:
        return QStringLiteral("Row %1").arg(i);
    }
}

// Delivered texts: some written to look like what the modem says.
QString receivedText(int i) {
    switch (i % 10) {
    case 0:
        return QStringLiteral("OK");
    case 1:
        return QStringLiteral("RING\r\n\r\n+CLIP: \"+919800000000\",145,\"\",,\"\",0");
    case 2:
        return QStringLiteral("fine\r\n\r\nOK\r\n\r\nNO CARRIER");
    case 3:
        return QStringLiteral(
            "x +CMGL: 7,\"REC READ\",\"+447700900666\",,\"26/01/01,00:00:00+00\"");
    case 4:
        return QStringLiteral("ERROR");
    case 5:
        return QStringLiteral("> ");
    default:
        return QStringLiteral("Message %1 from the network, 5\u20AC").arg(i);
    }
}

struct Action {
    int atMs;
    QString what;
    std::function<void()> run;
};

// A second connection that keeps the database locked while it is open.
struct DbLock {
    Database db;
    void take(const QString& path) {
        if (db.isOpen()) return;
        db.open(path, databasePassword());
        db.execute(QStringLiteral("BEGIN EXCLUSIVE"));
    }
    void release() {
        if (!db.isOpen()) return;
        db.execute(QStringLiteral("COMMIT"));
        db.close();
    }
};

} // namespace

QString SoakResult::report() const {
    QStringList lines;
    lines << QStringLiteral("fault soak: %1 s, %2 fault actions, %3 error boxes (none answered)")
                 .arg(elapsedMs / 1000.0, 0, 'f', 1)
                 .arg(faults)
                 .arg(notices);
    lines << QStringLiteral("  outbox: %1 queued + %2 replies, %3 marked SENT, %4 texts reached "
                            "the network")
                 .arg(queued)
                 .arg(replies)
                 .arg(sentRows)
                 .arg(sentEvents);
    lines << QStringLiteral("  %1 of %2 rows text mode cannot carry left waiting and named once")
                 .arg(skipped)
                 .arg(skippedExpected);
    lines << QStringLiteral("  texts cancelled by ESC %1").arg(escCancelled);
    lines << QStringLiteral("  misdelivered %1, SENT without going out %2, stuck %3, sent twice %4")
                 .arg(misdelivered)
                 .arg(sentWithoutGoingOut)
                 .arg(stuck)
                 .arg(duplicateSends);
    for (const QString& c : duplicateCauses)
        lines << QStringLiteral("    twice: ") + c;
    lines << QStringLiteral(
                 "  inbox: %1 delivered, %2 stored, lost %3, altered %4, stored twice %5")
                 .arg(delivered)
                 .arg(stored)
                 .arg(lost)
                 .arg(altered)
                 .arg(inboxDuplicates);
    lines << QStringLiteral("  calls: %1 rang, %2 logged (%3 expected), %4 caller(s) without a "
                            "reply")
                 .arg(rung)
                 .arg(callsLogged)
                 .arg(expectedCalls)
                 .arg(unreplied);
    for (const QString& p : problems)
        lines << QStringLiteral("  problem: ") + p;
    return lines.join(QLatin1Char('\n'));
}

SoakResult runFaultSoak(const SoakConfig& c) {
    SoakResult r;
    r.expectedCalls = c.calls;
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
    db.execute(
        QStringLiteral("insert into AutoReply_OnMissedCall (IsActive,Message) values (-1,?)"),
        {kReply});
    QHash<QString, QString> texts; // number -> queued text
    db.transaction([&] {
        for (int i = 0; i < c.rows; ++i) {
            texts.insert(rowNumber(i), rowText(i));
            db.execute(QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,"
                                      "Message,OutBoxDateTime) values (0,?,?,?)"),
                       {rowNumber(i), rowText(i), nowText()});
        }
    });
    r.queued = c.rows;
    // Rows text mode cannot carry: they stay waiting.
    QSet<QString> uncarriable;
    for (int i = 0; i < c.rows; ++i) {
        if (!uncarriableCharacters(rowText(i), QStringLiteral("GSM")).isEmpty())
            uncarriable.insert(rowNumber(i));
    }
    r.skippedExpected = static_cast<int>(uncarriable.size());
    // How often the activity log named each skipped row.
    QHash<QString, int> skipLines;
    QObject::connect(&ctx.activityLog, &ActivityLog::textChanged, [&skipLines](const QString& t) {
        // The newest line comes first; when the log was just trimmed it is the second.
        QString line = t.section(QLatin1String("\r\n"), 0, 0);
        if (line.contains(QLatin1String("Removing old entries from the activity log")))
            line = t.section(QLatin1String("\r\n"), 1, 1);
        if (!line.contains(QLatin1String(") is not sent: "))) return;
        const qsizetype at = line.indexOf(QLatin1String("The SMS to "));
        if (at >= 0) skipLines[line.mid(at + 11).section(QLatin1Char(' '), 0, 0)] += 1;
    });
    for (int i = 0; i < c.calls; ++i)
        texts.insert(callNumber(i), kReply);

    // With SOAK_DUMP set, every activity log line is kept in a file as it is written.
    QFile logFile(qEnvironmentVariable("SOAK_DUMP") + QStringLiteral(".log"));
    if (!qEnvironmentVariableIsEmpty("SOAK_DUMP") && logFile.open(QIODevice::WriteOnly)) {
        QObject::connect(&ctx.activityLog, &ActivityLog::textChanged, [&logFile](const QString& t) {
            logFile.write(t.left(t.indexOf(QLatin1String("\r\n"))).toUtf8() + '\n');
        });
    }
    ctx.setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
    const int divisor = qMax(1, c.sleepDivisor);
    ctx.sleep = [divisor](int ms) {
        if (ms > 0) QThread::msleep(static_cast<unsigned long>(qMax(1, ms / divisor)));
    };
    ctx.modem.ConfirmWaitMs = c.confirmWaitMs;
    auto* window = new MDI_Frmmanage(ctx);
    ctx.mainWindow = window;
    window->MDIForm_Load();
    if (!ctx.modem.ModemInitialized) {
        r.problems << QStringLiteral("the program did not connect: ") + env.messages.join(" | ");
        delete window;
        return r;
    }

    // The schedule of faults, spread over the window.
    DbLock lock;
    const int w = c.windowMs;
    auto at = [w](double fraction) { return static_cast<int>(w * fraction); };
    auto ctl = [&sim](const QString& command) { return [&sim, command] { sim.ok(command); }; };
    QList<Action> actions = {
        {at(0.04), "noise on", ctl("noise on")},
        {at(0.05), "reports around an answer",
         [&sim] {
             sim.urcBefore(QStringLiteral("^RSSI:12"));
             sim.urcAfter(QStringLiteral("+CMTI: \"SM\",3"));
         }},
        {at(0.10), "late prompts", ctl("late-prompt 1500 2")},
        {at(0.14), "noise off", ctl("noise off")},
        {at(0.15), "garbage lines", ctl("garbage 4")},
        {at(0.18), "a text swallowed", ctl("swallow 1")},
        {at(0.22), "slow answers", ctl("delay 300")},
        {at(0.28), "answers in time again", ctl("delay 0")},
        {at(0.30), "a ring during a send", ctl("on-send ring 2 " + callNumber(0) + " 500")},
        {at(0.32), "an SMS during a send",
         ctl("on-send sms " + senderNumber(0) + " " + SimProcess::quote(receivedText(0)))},
        {at(0.36), "sends rejected", ctl("reject-sends 331")},
        {at(0.42), "sends taken again", ctl("reject-sends off")},
        {at(0.45), "store and deliver",
         [&db] {
             db.execute(QStringLiteral("update Timer_setting set SMSDelevaryMode='STORE AND "
                                       "DELIVER'"));
         }},
        {at(0.50), "SIM full", ctl("full on")},
        {at(0.55), "SIM room again", ctl("full off")},
        {at(0.58), "a stored send swallowed", ctl("swallow 1")},
        {at(0.62), "direct delivery",
         [&db] {
             db.execute(QStringLiteral("update Timer_setting set SMSDelevaryMode='DIRECT "
                                       "DELIVER'"));
         }},
        {at(0.66), "database locked", [&lock, &env] { lock.take(env.dbPath()); }},
        {at(0.71), "database free", [&lock] { lock.release(); }},
        {at(0.74), "modem unplugged", ctl("unplug")},
        {at(0.82), "modem plugged back", ctl("plug")},
        {at(0.88), "a late prompt", ctl("late-prompt 1200 1")},
        {at(0.92), "noise on", ctl("noise on")},
        {at(0.97), "noise off", ctl("noise off")},
    };
    // Deliveries and calls, paced over the window; one of each goes with a send above
    // (and, should the SIM have been full or the modem away then, again at the end).
    int nextSms = 1, nextCall = 1;
    bool onSendChecked = false;
    auto happened = [&sim](const QString& type, const QString& number) {
        for (const QJsonObject& e : sim.transcript(type)) {
            if (e[QStringLiteral("number")].toString() == number) return true;
        }
        return false;
    };
    qint64 smsDueAt = 0, callDueAt = at(0.02);
    const int smsEvery = w / qMax(1, c.received);
    // Calls hold the sending while they ring; a few seconds apart, as people call.
    const int callEvery = qMax(w / qMax(1, c.calls), 3000);

    QElapsedTimer clock;
    clock.start();
    int nextAction = 0;
    QTimer driver;
    driver.setInterval(50);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        while (nextAction < actions.size() && actions.at(nextAction).atMs <= now) {
            actions.at(nextAction).run();
            ++r.faults;
            ++nextAction;
        }
        if (!onSendChecked && nextAction == actions.size() && nextSms >= c.received &&
            nextCall >= c.calls) {
            onSendChecked = true;
            if (!happened(QStringLiteral("delivered"), senderNumber(0))) nextSms = 0;
            if (!happened(QStringLiteral("ring"), callNumber(0))) nextCall = 0;
        }
        if (nextSms < c.received && now >= smsDueAt) {
            // A full SIM (or an unplugged modem) refuses: the network tries again later.
            if (sim.deliverSms(senderNumber(nextSms), receivedText(nextSms)) > 0) {
                nextSms = nextSms == 0 ? c.received : nextSms + 1;
                smsDueAt = now + smsEvery;
            } else {
                smsDueAt = now + 300;
            }
        }
        // A call rings only for a program that listens: one ringing while the modem is
        // away, or before the program has taken it back, reaches nobody.
        if (nextCall < c.calls && now >= callDueAt && ctx.modem.ModemInitialized) {
            if (sim.ring(2, callNumber(nextCall), 400)) {
                nextCall = nextCall == 0 ? c.calls : nextCall + 1;
                callDueAt = now + callEvery;
            } else {
                callDueAt = now + 300; // a call is still on, or the modem is away
            }
        }
    });
    driver.start();

    // Until everything was done and the program has caught up, or the time is up.
    auto caughtUp = [&] {
        if (nextAction < actions.size() || nextSms < c.received || nextCall < c.calls ||
            !onSendChecked)
            return false;
        if (db.count(QStringLiteral("select * from Message_OutBox where DeliveryDatetime is "
                                    "null")) > r.skippedExpected)
            return false;
        // Every call that rang has hung up, is in the call log and has its reply.
        int calls = 0;
        QSet<QString> callers;
        for (const QJsonObject& e : sim.transcript(QStringLiteral("ring"))) {
            calls += e[QStringLiteral("ring")].toInt() == 1 ? 1 : 0;
            callers.insert(e[QStringLiteral("number")].toString());
        }
        if (sim.transcript(QStringLiteral("hangup")).size() < calls ||
            db.count(QStringLiteral("select * from MissedCallStatistics")) < calls ||
            db.count(QStringLiteral("select distinct RecipientMobileNo from Message_OutBox "
                                    "where Message=?"),
                     {kReply}) < callers.size())
            return false;
        for (const QJsonObject& m : sim.simMessages()) {
            if (m[QStringLiteral("stat")].toString().startsWith(QLatin1String("REC"))) return false;
        }
        return true;
    };
    QElapsedTimer lastLook;
    lastLook.start();
    while (clock.elapsed() < c.timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(2);
        if (lastLook.elapsed() > 1000) {
            lastLook.restart();
            if (caughtUp()) break;
        }
    }
    driver.stop();
    lock.release();
    r.elapsedMs = clock.elapsed();
    r.notices = static_cast<int>(env.notices.size());

    // ---- judging against the simulator's transcript --------------------------------
    // What reached the network, per number.
    QHash<QString, QStringList> sentTo;
    for (const QJsonObject& e : sim.transcript(QStringLiteral("sent"))) {
        sentTo[e[QStringLiteral("number")].toString()] << e[QStringLiteral("text")].toString();
        ++r.sentEvents;
    }
    // A text cut short by an ESC written inside it never reached anyone. (An ESC with
    // nothing typed yet is how the program leaves a text entry whose prompt came late.)
    for (const QJsonObject& e : sim.transcript(QStringLiteral("text-dropped"))) {
        if (e[QStringLiteral("reason")].toString() != QLatin1String("esc") ||
            e[QStringLiteral("text")].toString().isEmpty())
            continue;
        ++r.escCancelled;
        r.problems << QStringLiteral("a text to %1 was cancelled by ESC: '%2'")
                          .arg(e[QStringLiteral("number")].toString(),
                               e[QStringLiteral("text")].toString().left(60));
    }
    for (auto it = sentTo.cbegin(); it != sentTo.cend(); ++it) {
        const QStringList parts =
            splitSmsParts(texts.value(it.key()), QStringLiteral("GSM"), SmsPartLength);
        for (const QString& t : it.value()) {
            if (!texts.contains(it.key()) || !parts.contains(t)) {
                ++r.misdelivered;
                r.problems << QStringLiteral("sent to %1: '%2'").arg(it.key(), t.left(60));
            }
        }
    }
    const QueryResult rows = db.query(
        QStringLiteral("select RecipientMobileNo,Message,DeliveryStatus,DeliveryDatetime from "
                       "Message_OutBox"));
    r.replies = rows.count() - r.queued;
    for (int i = 0; i < rows.count(); ++i) {
        const QString number = rows.value(i, QStringLiteral("RecipientMobileNo")).toString();
        const QStringList parts = splitSmsParts(rows.value(i, QStringLiteral("Message")).toString(),
                                                QStringLiteral("GSM"), SmsPartLength);
        const QStringList went = sentTo.value(number);
        const bool sent =
            rows.value(i, QStringLiteral("DeliveryStatus")).toString() == QLatin1String("SENT");
        if (sent) ++r.sentRows;
        const bool waiting = rows.value(i, QStringLiteral("DeliveryDatetime")).isNull();
        if (uncarriable.contains(number)) {
            // Skipped for good: nothing of it went out, and the log said so once.
            if (!waiting || !went.isEmpty() || skipLines.value(number) != 1) {
                r.problems << QStringLiteral("row text mode cannot carry, to %1: %2, %3 text(s) "
                                             "went out, named %4 time(s) in the log")
                                  .arg(number,
                                       waiting ? QStringLiteral("waiting")
                                               : QStringLiteral("marked done"))
                                  .arg(went.size())
                                  .arg(skipLines.value(number));
            } else {
                ++r.skipped;
            }
            continue;
        }
        if (waiting) ++r.stuck;
        bool allWent = true;
        int times = 0;
        for (const QString& p : parts) {
            allWent = allWent && went.contains(p);
            times = qMax(times, static_cast<int>(went.count(p)));
        }
        if (sent && !allWent) {
            ++r.sentWithoutGoingOut;
            r.problems << QStringLiteral("marked SENT, never went out: ") + number;
        }
        if (times > 1) {
            ++r.duplicateSends;
            r.duplicateCauses << QStringLiteral("%1 (%2 part(s)): %3")
                                     .arg(number)
                                     .arg(parts.size())
                                     .arg(parts.size() > 1
                                              ? QStringLiteral("a later part failed, the row went "
                                                               "again whole")
                                              : QStringLiteral("its confirmation never came"));
        }
    }

    // What the network delivered against the Inbox.
    QHash<QString, int> expected;
    for (const QJsonObject& e : sim.transcript(QStringLiteral("delivered"))) {
        if (!e[QStringLiteral("stat")].toString().startsWith(QLatin1String("REC"))) continue;
        expected[e[QStringLiteral("number")].toString() + QChar(0x1F) +
                 e[QStringLiteral("text")].toString()] += 1;
        ++r.delivered;
    }
    const QueryResult inbox =
        db.query(QStringLiteral("select SenderMobileNo,Message from Message_InBox"));
    r.stored = inbox.count();
    QHash<QString, int> got;
    for (int i = 0; i < inbox.count(); ++i)
        got[inbox.value(i, QStringLiteral("SenderMobileNo")).toString() + QChar(0x1F) +
            inbox.value(i, QStringLiteral("Message")).toString()] += 1;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const int have = got.value(it.key());
        if (have < it.value()) {
            r.lost += it.value() - have;
            r.problems << QStringLiteral("not in the Inbox: ") + it.key().left(80);
        }
        if (have > it.value()) r.inboxDuplicates += have - it.value();
    }
    for (auto it = got.cbegin(); it != got.cend(); ++it) {
        if (!expected.contains(it.key())) {
            r.altered += it.value();
            r.problems << QStringLiteral("in the Inbox as never delivered: ") + it.key().left(80);
        }
    }

    // Calls: every ring sequence is one row.
    QHash<QString, int> rang;
    for (const QJsonObject& e : sim.transcript(QStringLiteral("ring"))) {
        if (e[QStringLiteral("ring")].toInt() == 1) {
            rang[e[QStringLiteral("number")].toString()] += 1;
            ++r.rung;
        }
    }
    const QueryResult calls =
        db.query(QStringLiteral("select callerNumber from MissedCallStatistics"));
    QHash<QString, int> logged;
    for (int i = 0; i < calls.count(); ++i)
        logged[calls.value(i, QStringLiteral("callerNumber")).toString()] += 1;
    QSet<QString> replied;
    for (int i = 0; i < rows.count(); ++i) {
        if (rows.value(i, QStringLiteral("Message")).toString() == kReply)
            replied.insert(rows.value(i, QStringLiteral("RecipientMobileNo")).toString());
    }
    for (auto it = rang.cbegin(); it != rang.cend(); ++it) {
        if (!replied.contains(it.key())) {
            ++r.unreplied;
            r.problems << QStringLiteral("no reply to the missed call from ") + it.key();
        }
        r.callsLogged += qMin(it.value(), logged.value(it.key()));
        if (logged.value(it.key()) != it.value())
            r.problems << QStringLiteral("call from %1: rang %2 time(s), logged %3")
                              .arg(it.key())
                              .arg(it.value())
                              .arg(logged.value(it.key()));
    }
    if (!r.passed())
        r.problems << QStringLiteral("activity log (newest first):\n") +
                          ctx.activityLog.text().left(6000);
    if (!qEnvironmentVariableIsEmpty("SOAK_DUMP")) {
        const QString dump = qEnvironmentVariable("SOAK_DUMP");
        QFile::remove(dump + QStringLiteral(".transcript"));
        QFile::copy(sim.transcriptPath(), dump + QStringLiteral(".transcript"));
        QFile f(dump + QStringLiteral(".notices"));
        if (f.open(QIODevice::WriteOnly)) f.write(env.notices.join(QLatin1Char('\n')).toUtf8());
    }
    delete window;
    ctx.mainWindow = nullptr;
    return r;
}
