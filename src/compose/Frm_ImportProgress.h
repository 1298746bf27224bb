#pragma once

#include <QProgressDialog>

class QProgressBar;

// The progress window of the bulk wizard's long work (opening a file, listing, the
// preview, reading, queueing): it appears when the work lasts longer than a moment, is
// shown without waiting, and its Cancel button asks the work to stop (cancelRequested).
// It goes when the work says it is over (done()).
class Frm_ImportProgress : public QProgressDialog {
    Q_OBJECT
public:
    Frm_ImportProgress(const QString& label, QWidget* parent);

    // How far the work has got (total 0 while unknown).
    void setProgress(qint64 done, qint64 total);
    // The work is over: the window closes and goes.
    void done();

    // How long work may run before the window appears, in milliseconds.
    static constexpr int delayMs = 400;

signals:
    void cancelRequested();

private:
    QProgressBar* bar_;
};
