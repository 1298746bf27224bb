#include "ui/Ui.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QList>
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
NoticeHandler& noticeHandler() {
    static NoticeHandler h;
    return h;
}
int openBoxes = 0;
int backgroundDepth = 0;
QList<QPointer<QMessageBox>>& notices() {
    static QList<QPointer<QMessageBox>> list;
    return list;
}

void showNotice(const QString& text, const QString& title) {
    if (noticeHandler()) {
        noticeHandler()(text, title);
        return;
    }
    QList<QPointer<QMessageBox>>& open = notices();
    open.removeAll(nullptr);
    for (const QPointer<QMessageBox>& box : open) {
        if (box->text() == text) {
            box->raise(); // the same error again: no second box
            return;
        }
    }
    auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->setObjectName(QStringLiteral("notice"));
    box->show();
    open << box;
}
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

BackgroundScope::BackgroundScope() {
    ++backgroundDepth;
}
BackgroundScope::~BackgroundScope() {
    --backgroundDepth;
}
bool inBackground() {
    return backgroundDepth > 0;
}

int openNotices() {
    notices().removeAll(nullptr);
    return static_cast<int>(notices().size());
}

void setNoticeHandler(NoticeHandler handler) {
    noticeHandler() = std::move(handler);
}

QString appTitle() {
    return QStringLiteral("Varnex - Bulk SMS");
}

Answer MsgBox(const QString& text, Buttons buttons, const QString& title) {
    if (inBackground()) {
        if (buttons == Buttons::YesNo) return Answer::No;
        showNotice(text, title);
        return Answer::Ok;
    }
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
