#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class AppContext;

// The search of COM ports 1 to 20 for a modem, on the program's serial control while the
// program is not connected: every port is probed with a bare "AT", then every port that
// answered is asked for its manufacturer and model. One port per turn of the event loop,
// so that nothing of it holds the rest of the program, and it can be cancelled between
// two ports.
class ModemSearch : public QObject {
    Q_OBJECT
public:
    explicit ModemSearch(AppContext& ctx, QObject* parent = nullptr);
    ~ModemSearch() override;

    static constexpr int LastPort = 20;

    // Starts the search (once). Without a serial control it finishes at once.
    void start();
    // The search stops after the port it is probing; no result follows.
    void cancel();
    bool cancelled() const { return cancelled_; }
    bool isFinished() const { return finished_; }

    // The ports that answered the probe, in the order found.
    QList<int> foundPorts;
    // Ports whose device exists but may not be opened by this user: the reason and the
    // fix, one line each.
    QStringList permissionProblems;
    // What each port that answered said it is ("" when it did not say), in foundPorts'
    // order.
    QStringList manufacturers;
    QStringList models;

signals:
    // A port is about to be probed (the first pass: LastPort of them).
    void probing(int port);
    // Every port was probed and the search goes on to ask the modems found what they are
    // (not after a cancel).
    void probesDone();
    // The search is over: done, or cancelled.
    void finished();

private:
    void probe(int port);
    void endProbes();
    void identify(int i);
    void finish();
    void later(std::function<void()> step);

    AppContext& ctx_;
    bool started_ = false;
    bool cancelled_ = false;
    bool finished_ = false;
};
