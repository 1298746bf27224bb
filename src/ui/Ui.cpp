#include "ui/Ui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <utility>

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

OthersTurn::OthersTurn() : depth_(std::exchange(backgroundDepth, 0)) {}
OthersTurn::~OthersTurn() {
    backgroundDepth = depth_;
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

namespace {

// The window a question belongs to. An OK box belongs to none: it often tells of a
// window that has just closed, and must outlive it.
QWidget* boxParent(QObject* owner) {
    if (auto* w = qobject_cast<QWidget*>(owner)) return w->window();
    return nullptr;
}

// A real box, shown without waiting; `then` gets the answer when it is closed.
void showBox(const QString& text, Buttons buttons, Icon icon, QObject* owner,
             std::function<void(Answer)> then) {
    const bool question = buttons == Buttons::YesNo;
    const QMessageBox::Icon picture = icon == Icon::None ? QMessageBox::NoIcon
                                      : question         ? QMessageBox::Question
                                                         : QMessageBox::Information;
    auto* box = new QMessageBox(picture, appTitle(), text,
                                question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                                boxParent(owner));
    box->setObjectName(question ? QStringLiteral("question") : QStringLiteral("messageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    // Above the program's windows that are kept on top.
    if (!box->parentWidget()) box->setWindowFlag(Qt::WindowStaysOnTopHint);
    ++openBoxes;
    QObject::connect(box, &QObject::destroyed, [] { --openBoxes; });
    QPointer<QObject> guard(owner);
    const bool guarded = owner != nullptr;
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, question, guard, guarded, then = std::move(then)](int) {
                         const Answer a = !question ? Answer::Ok
                                          : box->clickedButton() == box->button(QMessageBox::Yes)
                                              ? Answer::Yes
                                              : Answer::No;
                         if (then && (!guarded || guard)) then(a);
                     });
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace

void MsgBox(const QString& text, std::function<void()> then) {
    MsgBox(text, Icon::Usual, std::move(then));
}

void MsgBox(const QString& text, Icon icon, std::function<void()> then) {
    if (inBackground()) {
        showNotice(text, appTitle());
        if (then) then();
        return;
    }
    if (msgBoxHandler()) {
        OpenBox open;
        msgBoxHandler()(text, Buttons::Ok, appTitle());
        if (then) then();
        return;
    }
    showBox(text, Buttons::Ok, icon, nullptr, [then = std::move(then)](Answer) {
        if (then) then();
    });
}

void ask(QObject* owner, const QString& text, std::function<void(Answer)> then) {
    ask(owner, text, Icon::Usual, std::move(then));
}

void ask(QObject* owner, const QString& text, Icon icon, std::function<void(Answer)> then) {
    if (inBackground()) {
        if (then) then(Answer::No);
        return;
    }
    if (msgBoxHandler()) {
        Answer a;
        {
            OpenBox open;
            a = msgBoxHandler()(text, Buttons::YesNo, appTitle());
        }
        if (then) then(a);
        return;
    }
    showBox(text, Buttons::YesNo, icon, owner, std::move(then));
}

void setMsgBoxHandler(MsgBoxHandler handler) {
    msgBoxHandler() = std::move(handler);
}

void showModal(QWidget* window) {
    if (showHandler()) {
        showHandler()(window, true);
        return;
    }
    // Application-modal, and nothing waits: a window a person leaves open holds no work
    // of the program.
    window->setWindowModality(Qt::ApplicationModal);
    if (auto* dialog = qobject_cast<QDialog*>(window)) {
        // A dialog closed by accept() or reject() is only hidden; one meant to go when
        // closed goes then too.
        if (dialog->testAttribute(Qt::WA_DeleteOnClose))
            QObject::connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater,
                             Qt::UniqueConnection);
    }
    window->show();
    window->raise();
    window->activateWindow();
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

namespace {
int& busyCursorCount() {
    static int count = 0;
    return count;
}
} // namespace

BusyCursor::BusyCursor() {
    ++busyCursorCount();
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

int busyCursorsShown() {
    return busyCursorCount();
}

BusyCursor::~BusyCursor() {
    QApplication::restoreOverrideCursor();
}

QString fieldName(const QString& caption) {
    QString name;
    name.reserve(caption.size());
    // "&&" is an ampersand; a single "&" marks the next letter.
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == QLatin1Char('&') && i + 1 < caption.size()) ++i;
        name += caption.at(i);
    }
    name = name.trimmed();
    while (name.endsWith(QLatin1Char(':')))
        name = name.chopped(1).trimmed();
    return name;
}

void labelField(QLabel* label, QWidget* field) {
    label->setBuddy(field);
    field->setAccessibleName(fieldName(label->text()));
}

void pumpEvents() {
    const OthersTurn others;
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
