// Sends 1,000 queued messages through the simulated modem and empties a full SIM, and
// reports the program's own time per message apart from the waits the modem protocol
// prescribes (ModemDelayFactor x multiplier, here with a small factor).
//
//   build/bench/bench_engine [messages] [delay factor]
//
// Figures: wall time, time spent in the prescribed waits, the rest ("own": the
// program's work plus the simulator's answers on the pseudo-terminal) and this
// process's CPU time. The baseline, measured in the same run, is one bare "AT"
// exchange through the same line; per-message figures are also given as a ratio to it.
//
//   build/bench/bench_engine rate [messages]
//
// Sends per minute at delay factor 1 against a simulated network that takes 2.5 s to
// take each message (its limit: 24 a minute), in the same run twice: with every wait of
// an exchange slept out in full (the baseline), and as the program waits (a wait ends
// when its answer is complete). The rest of the program's time per message is shown.
#include "core/DateTimeText.h"
#include "core/Storage.h"
#include "engine/Dispatcher.h"
#include "engine/Receiver.h"
#include "modem/ModemInit.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"
#include "modem/QtSerialPort.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Measure {
    double wallMs = 0, sleptMs = 0, cpuMs = 0;
};

// Runs fn and measures it; `slept` is the context's running total of prescribed waits.
template <typename F> Measure measure(const double& slept, F fn) {
    const double slept0 = slept;
    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    fn();
    Measure m;
    m.wallMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    m.sleptMs = slept - slept0;
    m.cpuMs = (cpuSeconds() - cpu0) * 1000.0;
    return m;
}

void report(const char* what, const Measure& m, int items, double baselineMs) {
    const double own = (m.wallMs - m.sleptMs) / items;
    std::printf(
        "%-34s %6d items  wall %9.1f ms  waits %9.1f ms  own %7.3f ms/item (%.2f x AT round trip)  "
        "cpu %7.3f ms/item\n",
        what, items, m.wallMs, m.sleptMs, own, own / baselineMs, m.cpuMs / items);
}

// Sends `messages` queued rows in one dispatcher pass at delay factor 1 against a
// simulator whose network takes `networkMs` per message; `fullWaits`: every wait of an
// exchange lasts its whole length (a plain pause), otherwise as the program waits.
// Returns the sends per minute (0 when the modem did not start or rows were left).
double sendsPerMinute(int messages, int networkMs, bool fullWaits) {
    TestEnv env;
    AppContext& ctx = env.ctx();
    if (fullWaits)
        ctx.sleep = [](int ms) {
            if (ms > 0) QThread::msleep(static_cast<unsigned long>(ms));
        };
    ctx.modem.ModemDelayFactor = 1;
    SimProcess sim(SimProcess::portLink(env.folder(), 1),
                   {QStringLiteral("--network-delay"), QString::number(networkMs)});
    if (!sim.start()) {
        std::fprintf(stderr, "bench_engine: %s\n", qPrintable(sim.errorString()));
        return 0;
    }
    ctx.setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
    SerialPort& comm = ctx.MSComm1();
    ConfigurePort(ctx, comm, 1, QStringLiteral("115200,n,8,1"));
    OpenPort(ctx, comm);
    InitializeModem(ctx, comm, QStringLiteral("0"), QStringLiteral("GSM"), false);
    if (!ctx.modem.ModemInitialized) return 0;
    Database& db = ctx.DBConnection;
    db.transaction([&] {
        for (int i = 0; i < messages; ++i)
            db.execute(
                QStringLiteral(
                    "insert into Message_OutBox (RecepId,RecipientMobileNo,Message,OutBoxDateTime) "
                    "values (0,?,?,?)"),
                {QStringLiteral("+9198%1").arg(i, 8, 10, QLatin1Char('0')),
                 QStringLiteral("Bulk message number %1 from the benchmark").arg(i), nowText()});
    });
    QElapsedTimer t;
    t.start();
    SendPendingOutbox(ctx);
    env.settle(messages * 60000);
    const double minutes = static_cast<double>(t.nsecsElapsed()) / 60e9;
    const qint64 sent =
        db.count(QStringLiteral("select * from Message_OutBox where DeliveryStatus='SENT'"));
    ClosePort(ctx, comm);
    if (sent != messages) {
        std::printf("  note: %lld of %d rows were sent\n", static_cast<long long>(sent), messages);
        return 0;
    }
    return messages / minutes;
}

int rateRun(int messages) {
    const int networkMs = 2500;
    const double limit = 60000.0 / networkMs;
    std::printf("sends per minute, delay factor 1, the network taking %.1f s per message "
                "(limit %.1f/min, goal >= %.1f/min), %d messages each:\n",
                networkMs / 1000.0, limit, limit * 0.9375, messages);
    const double full = sendsPerMinute(messages, networkMs, true);
    const double early = sendsPerMinute(messages, networkMs, false);
    auto own = [&](double rate) { return rate > 0 ? 60.0 / rate - networkMs / 1000.0 : 0.0; };
    std::printf("  baseline, every wait slept out in full: %5.1f/min (%.2f s of its own per "
                "message)\n",
                full, own(full));
    std::printf("  waits end at the answer:               %5.1f/min (%.2f s of its own per "
                "message) | %.1f%% of the limit %.1f/min, %s\n",
                early, own(early), 100.0 * early / limit, limit,
                early >= limit * 0.9375 ? "within 6%" : "NOT within 6%");
    return full > 0 && early > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && QLatin1String(argv[1]) == QLatin1String("rate"))
        return rateRun(argc > 2 ? std::atoi(argv[2]) : 10);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 1000;
    const double factor = argc > 2 ? std::atof(argv[2]) : 0.05;

    TestEnv env;
    AppContext& ctx = env.ctx();
    double slept = 0;
    // The prescribed waits, as long as they really took (a sleep may overshoot).
    ctx.sleep = [&slept](int ms) {
        if (ms <= 0) return;
        QElapsedTimer t;
        t.start();
        QThread::msleep(static_cast<unsigned long>(ms));
        slept += static_cast<double>(t.nsecsElapsed()) / 1e6;
    };
    ctx.modem.ModemDelayFactor = factor;
    ctx.engine.ActivityLogEnabled = true;

    SimProcess sim(SimProcess::portLink(env.folder(), 1),
                   {QStringLiteral("--slots"), QStringLiteral("30")});
    if (!sim.start()) {
        std::fprintf(stderr, "bench_engine: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    ctx.setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
    SerialPort& comm = ctx.MSComm1();
    ConfigurePort(ctx, comm, 1, QStringLiteral("115200,n,8,1"));
    OpenPort(ctx, comm);
    InitializeModem(ctx, comm, QStringLiteral("0"), QStringLiteral("GSM"), false);
    if (!ctx.modem.ModemInitialized) {
        std::fprintf(stderr, "bench_engine: the modem did not initialise:\n%s\n",
                     qPrintable(ctx.activityLog.text()));
        return 1;
    }

    // Baseline: bare AT exchanges on the same line.
    const int probes = 200;
    const Measure at = measure(slept, [&] {
        for (int i = 0; i < probes; ++i)
            ExecuteCommand(ctx, comm, QStringLiteral("AT\r"), 0, QStringLiteral("OK"), 50,
                           QString());
    });
    const double baseline = at.wallMs / probes;
    std::printf("delay factor %.3g; baseline: one AT exchange %.3f ms (cpu %.3f ms)\n", factor,
                baseline, at.cpuMs / probes);

    // Second baseline: one durable row update (each sent message takes two).
    Database& db = ctx.DBConnection;
    db.execute(
        QStringLiteral("insert into Message_OutBox (RecipientMobileNo,Message) values ('1','x')"));
    const qint64 probeRow = db.lastInsertId();
    const Measure write = measure(slept, [&] {
        for (int i = 0; i < probes; ++i)
            db.execute(
                QStringLiteral("update Message_OutBox set DeliveryStatus=? where Outbox_Id=?"),
                {QString::number(i), probeRow});
    });
    db.execute(QStringLiteral("delete from Message_OutBox"));
    std::printf("baseline: one durable row update %.3f ms (cpu %.3f ms)\n", write.wallMs / probes,
                write.cpuMs / probes);

    // Sending: one pass of the dispatcher over the whole queue, direct delivery.
    db.transaction([&] {
        for (int i = 0; i < messages; ++i)
            db.execute(
                QStringLiteral(
                    "insert into Message_OutBox (RecepId,RecipientMobileNo,Message,OutBoxDateTime) "
                    "values (0,?,?,?)"),
                {QStringLiteral("+9198%1").arg(i, 8, 10, QLatin1Char('0')),
                 QStringLiteral("Bulk message number %1 from the benchmark").arg(i), nowText()});
    });
    const Measure send = measure(slept, [&] {
        SendPendingOutbox(ctx);
        env.settle(messages * 60000);
    });
    const qint64 sent =
        db.count(QStringLiteral("select * from Message_OutBox where DeliveryStatus='SENT'"));
    report("send (direct delivery)", send, messages, baseline);
    if (sent != messages)
        std::printf("  note: %lld of %d rows were sent in the one pass\n",
                    static_cast<long long>(sent), messages);

    // Receiving: a full SIM of received messages.
    const int simSlots = 30;
    for (int i = 0; i < simSlots; ++i)
        sim.deliverSms(QStringLiteral("+4479%1").arg(i, 8, 10, QLatin1Char('0')),
                       QStringLiteral("Incoming message %1, \"quoted\" and with a comma").arg(i));
    const Measure receive = measure(slept, [&] {
        ReceiveNewMessages(ctx, delayMs(ctx, 400));
        env.settle(600000);
    });
    const qint64 stored = db.count(QStringLiteral("select * from Message_InBox"));
    report("receive (full SIM)", receive, simSlots, baseline);
    if (stored != simSlots)
        std::printf("  note: %lld of %d messages were stored in the one pass\n",
                    static_cast<long long>(stored), simSlots);

    ClosePort(ctx, comm);
    std::printf("\n");
    return rateRun(10);
}
