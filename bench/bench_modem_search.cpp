// Times the modem search over COM1 to COM20 of a program folder whose ports are missing
// devices, silent simulated modems or answering simulated modems:
//
//   build/bench/bench_modem_search [runs] [delay factor]
//
// Figures per scenario (median of the runs): wall time of the whole search (probe and
// identification), the part spent in the waits the probe and the identification
// prescribe (ModemDelayFactor x 100 ms per probe read, x 50 ms per identification
// query), and the rest. The baseline, measured in the same run, is a search in which
// all twenty ports are missing; a silent port's cost is its scenario minus that.
#include "modem/QtSerialPort.h"
#include "settings/frm_ChekModemProgress.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"
#include "ui/Ui.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Figures {
    double wallMs = 0, waitMs = 0;
    int found = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One program folder: `modems` answer, `silent` are modems that say nothing, every
// other port links to a missing device.
Figures scan(int runs, double factor, const QList<int>& modems, const QList<int>& silent) {
    TestEnv env(TestEnv::Db::None);
    AppContext& ctx = env.ctx();
    ctx.modem.ModemDelayFactor = factor;
    double waited = 0;
    ctx.sleep = [&waited](int ms) {
        if (ms <= 0) return;
        QElapsedTimer t;
        t.start();
        QThread::msleep(static_cast<unsigned long>(ms));
        waited += static_cast<double>(t.nsecsElapsed()) / 1e6;
    };
    QDir(env.folder()).mkpath(QStringLiteral("ports"));
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int port = 1; port <= 20; ++port) {
        const QString link = SimProcess::portLink(env.folder(), port);
        if (modems.contains(port) || silent.contains(port)) {
            sims.push_back(std::make_unique<SimProcess>(link));
            if (!sims.back()->start() || (silent.contains(port) && !sims.back()->setSilent(true))) {
                std::fprintf(stderr, "bench_modem_search: %s\n",
                             qPrintable(sims.back()->errorString()));
                std::exit(1);
            }
        } else {
            QFile::link(env.folder() + QStringLiteral("/absent"), link);
        }
    }
    ctx.setSerialPort(std::make_unique<QtSerialPort>(env.folder()));

    std::vector<double> walls, waits;
    Figures f;
    for (int r = 0; r < runs; ++r) {
        frm_ChekModemProgress progress(ctx, nullptr);
        progress.Form_Load();
        waited = 0;
        QElapsedTimer t;
        t.start();
        progress.Form_Activate();
        walls.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        waits.push_back(waited);
        f.found = static_cast<int>(progress.foundPorts.size());
        for (QWidget* w : env.shown)
            delete w;
        env.shown.clear();
    }
    f.wallMs = median(walls);
    f.waitMs = median(waits);
    return f;
}

void report(const char* what, const Figures& f, const Figures& baseline) {
    std::printf("%-36s found %d  wall %8.1f ms  waits %8.1f ms  rest %7.1f ms  "
                "(%+.1f ms over the baseline)\n",
                what, f.found, f.wallMs, f.waitMs, f.wallMs - f.waitMs, f.wallMs - baseline.wallMs);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const double factor = argc > 2 ? std::atof(argv[2]) : 1.0;
    ui::setMsgBoxHandler(
        [](const QString&, ui::Buttons, const QString&) { return ui::Answer::Ok; });

    std::printf("modem search, delay factor %.3g, median of %d runs\n", factor, runs);
    const Figures none = scan(runs, factor, {}, {});
    report("baseline: 20 missing ports", none, none);
    const Figures two = scan(runs, factor, {3, 5}, {});
    report("18 missing ports, modems on COM3, COM5", two, none);
    const Figures quiet = scan(runs, factor, {}, {4});
    report("19 missing ports, a silent COM4", quiet, none);
    std::printf("a silent port costs %.1f ms (prescribed: the first wait and three more, "
                "4 x %.0f ms)\n",
                quiet.wallMs - none.wallMs, 100 * factor);
    return 0;
}
