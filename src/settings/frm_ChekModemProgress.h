#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

class AppContext;
class ModemSearch;
class QLabel;
class QProgressBar;
class QPushButton;
class frm_Settings;

// The modem search: probes COM1 to COM20 with a bare "AT", asks every port that
// answered for its manufacturer and model, and hands the result to the found-modems
// window, from which the user takes a port into the settings window. The search
// (modem/ModemSearch.h) starts when the window is first shown and can be cancelled
// between two ports.
class frm_ChekModemProgress : public QDialog {
    Q_OBJECT
public:
    frm_ChekModemProgress(AppContext& ctx, frm_Settings* settings, QWidget* parent = nullptr);
    ~frm_ChekModemProgress() override;

    // Size and place; empties the result and clears the cancel flag.
    void Form_Load();
    // Starts the search (once; the window's first showing calls it).
    void Form_Activate();
    // "&Cancel": the search stops after the port it is probing and shows no result.
    void Command1_Click();

    // The result, as the found-modems window reads it: the answering port numbers, each
    // followed by ", "; their manufacturers, each followed by ","; their models, each
    // followed by ", ".
    QString ComPorts;
    QString ManufacturerId;
    QString ModelId;
    // The ports that answered the probe, in the order found.
    QList<int> foundPorts;
    // Ports whose device exists but may not be opened by this user: the reason and the
    // fix, one line each.
    QStringList permissionProblems;
    bool cancelled() const { return cancelled_; }
    bool finished() const { return finished_; }

    QProgressBar* ProgBar;
    QLabel* Label1;
    QPushButton* Command1;

signals:
    // The search is over (done, cancelled or never started because of a cancel).
    void searchFinished();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    // The search's news: every port probed, the modems identified, the end.
    void probesDone();
    void searchDone();
    void setProgress(int value);

    AppContext& ctx_;
    QPointer<frm_Settings> settings_;
    bool cancelled_ = false;
    bool started_ = false;
    bool finished_ = false;
    bool holdsModalFlag_ = false;
    ModemSearch* search_ = nullptr;
    bool previousModalFlag_ = false;
};
