#include "ui/BackgroundWork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <thread>

namespace ui {

namespace {

// The progress window: no cancel button, modal, shown by the caller when the work has
// lasted long enough.
QProgressDialog* makeProgressWindow(const QString& label, QWidget* parent) {
    auto* dlg = new QProgressDialog(label, QString(), 0, 0, parent);
    dlg->setObjectName(QStringLiteral("progressWindow"));
    dlg->setWindowTitle(QCoreApplication::applicationName().isEmpty()
                            ? QStringLiteral("Varnex - Bulk SMS")
                            : QCoreApplication::applicationName());
    dlg->setWindowModality(Qt::ApplicationModal);
    dlg->setAutoClose(false);
    dlg->setAutoReset(false);
    dlg->setMinimumDuration(0);
    dlg->setCancelButton(nullptr);
    dlg->hide();
    return dlg;
}

void showProgress(QProgressDialog* dlg, qint64 done, qint64 total) {
    // QProgressDialog counts in int; scale large totals down.
    int max = 0, value = 0;
    if (total > 0) {
        const qint64 scale = total > 1000000 ? total / 1000000 + 1 : 1;
        max = static_cast<int>(total / scale);
        value = static_cast<int>(std::min(done, total) / scale);
    }
    if (dlg->maximum() != max) dlg->setMaximum(max);
    dlg->setValue(value);
    if (!dlg->isVisible()) dlg->show();
}

} // namespace

void runInBackground(const QString& label, const std::function<void(WorkProgress&)>& work,
                     QWidget* parent) {
    WorkProgress progress;
    std::exception_ptr failure;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });

    QElapsedTimer elapsed;
    elapsed.start();
    QPointer<QProgressDialog> dlg = makeProgressWindow(label, parent);
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (dlg && elapsed.elapsed() >= progressDelayMs)
            showProgress(dlg, progress.done.load(), progress.total.load());
    });
    tick.start();
    // Window events keep running (timers, repaints); clicks and keys wait until the work
    // is over, so nothing can start the same work twice.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    tick.stop();
    worker.join();
    delete dlg.data();
    if (failure) std::rethrow_exception(failure);
}

struct StepProgress::Impl {
    QString label;
    qint64 total = 0;
    QWidget* parent = nullptr;
    QElapsedTimer elapsed;
    QElapsedTimer sincePump;
    QPointer<QProgressDialog> dlg;
};

StepProgress::StepProgress(const QString& label, qint64 total, QWidget* parent)
    : d_(new Impl{label, total, parent, {}, {}, nullptr}) {
    d_->elapsed.start();
    d_->sincePump.start();
}

StepProgress::~StepProgress() {
    delete d_->dlg.data();
    delete d_;
}

void StepProgress::step(qint64 done) {
    if (d_->sincePump.elapsed() < 50) return;
    d_->sincePump.restart();
    if (d_->elapsed.elapsed() >= progressDelayMs) {
        if (!d_->dlg) d_->dlg = makeProgressWindow(d_->label, d_->parent);
        showProgress(d_->dlg, done, d_->total);
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace ui
