#include "ui/Ui.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace ui {

namespace {
MsgBoxHandler& msgBoxHandler() {
    static MsgBoxHandler h;
    return h;
}
ShowHandler& showHandler() {
    static ShowHandler h;
    return h;
}
int openBoxes = 0;
struct OpenBox {
    OpenBox() { ++openBoxes; }
    ~OpenBox() { --openBoxes; }
    OpenBox(const OpenBox&) = delete;
    OpenBox& operator=(const OpenBox&) = delete;
};
} // namespace

int openMessageBoxes() {
    return openBoxes;
}

QString appTitle() {
    return QStringLiteral("Varnex - Bulk SMS");
}

Answer MsgBox(const QString& text, Buttons buttons, const QString& title) {
    OpenBox open;
    if (msgBoxHandler()) return msgBoxHandler()(text, buttons, title);
    QMessageBox box(
        buttons == Buttons::YesNo ? QMessageBox::Question : QMessageBox::Information, title, text,
        buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok);
    const int r = box.exec();
    if (buttons == Buttons::Ok) return Answer::Ok;
    return r == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void setMsgBoxHandler(MsgBoxHandler handler) {
    msgBoxHandler() = std::move(handler);
}

void showModal(QWidget* window) {
    if (showHandler()) {
        showHandler()(window, true);
        return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(window)) {
        dialog->exec();
        return;
    }
    // A plain widget: make it application-modal and wait until it closes.
    QPointer<QWidget> w(window);
    w->setWindowModality(Qt::ApplicationModal);
    w->show();
    while (w && w->isVisible())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void showModeless(QWidget* window) {
    if (showHandler()) {
        showHandler()(window, false);
        return;
    }
    window->show();
    window->raise();
}

void setShowHandler(ShowHandler handler) {
    showHandler() = std::move(handler);
}

void pumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

LegacyTimer::LegacyTimer(QObject* parent) : QObject(parent) {
    connect(&timer_, &QTimer::timeout, this, &LegacyTimer::timeout);
}

void LegacyTimer::setInterval(int ms) {
    interval_ = ms < 0 ? 0 : ms;
    apply();
}

void LegacyTimer::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    apply();
}

void LegacyTimer::apply() {
    if (enabled_ && interval_ > 0)
        timer_.start(interval_); // (re)starts the count
    else
        timer_.stop();
}

} // namespace ui
