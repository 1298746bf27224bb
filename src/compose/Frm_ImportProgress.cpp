#include "compose/Frm_ImportProgress.h"

#include "ui/Ui.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

Frm_ImportProgress::Frm_ImportProgress(const QString& label, QWidget* parent)
    : QProgressDialog(label, QStringLiteral("Cancel"), 0, 0, parent) {
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(ui::appTitle());
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    setAutoClose(false);
    setAutoReset(false);
    // Shown by the timer below, not by the dialog's own guess.
    setMinimumDuration(24 * 3600 * 1000);
    setAttribute(Qt::WA_DeleteOnClose, false);
    // The bar is set directly: the dialog's own setValue lets window events run.
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 0);
    setBar(bar_);
    connect(this, &QProgressDialog::canceled, this, &Frm_ImportProgress::cancelRequested);
    QTimer::singleShot(delayMs, this, [this] {
        if (!isVisible()) open();
    });
}

void Frm_ImportProgress::setProgress(qint64 done, qint64 total) {
    // The window counts in int: large totals are scaled down.
    int max = 0, value = 0;
    if (total > 0) {
        const qint64 scale = total > 1000000 ? total / 1000000 + 1 : 1;
        max = static_cast<int>(total / scale);
        value = static_cast<int>(std::min(done, total) / scale);
    }
    if (bar_->maximum() != max) bar_->setRange(0, max);
    bar_->setValue(value);
}

void Frm_ImportProgress::done() {
    blockSignals(true);
    hide();
    deleteLater();
}
