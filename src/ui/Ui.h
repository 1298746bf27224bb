#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QLabel;
class QWidget;

// The thin layer every window uses: message boxes, showing windows, twips, the event
// pump and timers with the program's interval semantics. Message boxes and window shows
// go through replaceable handlers so that tests answer them without blocking.
namespace ui {

// The application's title, used as the caption of message boxes.
QString appTitle();

enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };
// The picture beside a box's text: the usual one for its kind (information for an OK
// box, a question mark for a question), or none.
enum class Icon { Usual, None };

// Message boxes never wait: they are shown application-modal and the caller goes on at
// once, so that work underneath (a modem exchange, a pass over the Outbox) is never held
// by a box a person leaves open. What must follow the person's answer goes in `then`.

// An OK box showing `text`; `then`, when given, runs once the box has been closed.
void MsgBox(const QString& text, std::function<void()> then = {});
void MsgBox(const QString& text, Icon icon, std::function<void()> then = {});

// A Yes/No question; `then` gets the answer once it is given. `owner` (may be null) is the
// window the question belongs to: when it goes first, `then` never runs.
void ask(QObject* owner, const QString& text, std::function<void(Answer)> then);
void ask(QObject* owner, const QString& text, Icon icon, std::function<void(Answer)> then);

// How many message boxes are waiting for an answer right now (notices not counted).
int openMessageBoxes();

// Work that no click asked for (timer ticks, the modem's reports) runs in a background
// scope. Nobody may be watching the screen: an OK box becomes a notice (one box per
// text while it is open), and a Yes/No question is answered No without being shown.
class BackgroundScope {
public:
    BackgroundScope();
    ~BackgroundScope();
    BackgroundScope(const BackgroundScope&) = delete;
    BackgroundScope& operator=(const BackgroundScope&) = delete;
};
bool inBackground();
// While background work lets the event loop turn (a pause in an exchange), what runs then
// is not that work: a click, and the window or question it opens, are the person's own.
class OthersTurn {
public:
    OthersTurn();
    ~OthersTurn();
    OthersTurn(const OthersTurn&) = delete;
    OthersTurn& operator=(const OthersTurn&) = delete;

private:
    int depth_;
};
// Notices shown and not yet closed.
int openNotices();

using MsgBoxHandler =
    std::function<Answer(const QString& text, Buttons buttons, const QString& title)>;
// Replaces the message box (tests): the handler's answer is taken at once. An empty
// handler restores the real one.
void setMsgBoxHandler(MsgBoxHandler handler);
// Replaces how notices are shown (tests); unset, they are real boxes that do not wait.
using NoticeHandler = std::function<void(const QString& text, const QString& title)>;
void setNoticeHandler(NoticeHandler handler);

// Shows a window modally: it takes the keyboard and mouse from the program's other
// windows until it closes, but the call returns at once (nothing waits for it).
void showModal(QWidget* window);
// Shows a window modelessly.
void showModeless(QWidget* window);
using ShowHandler = std::function<void(QWidget* window, bool modal)>;
// Replaces how windows are shown (tests); an empty handler restores the real one.
void setShowHandler(ShowHandler handler);

// The busy cursor over the whole program while an object of this kind lives: for a click
// whose work takes a moment (deleting many rows, saving). Work that goes on over several
// turns of the event loop holds one for its whole length. Nested ones show one cursor.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};
// How many busy cursors have been shown since the program started (tests look at it).
int busyCursorsShown();

// Gives `field` its label: the label's text (without its "&" and a closing colon)
// becomes the field's name for screen readers, and the label its buddy, so that
// Alt and the label's underlined letter go to the field.
void labelField(QLabel* label, QWidget* field);
// The name a screen reader gives a field labelled `caption`.
QString fieldName(const QString& caption);

// 1440 twips per inch at 96 pixels per inch: 15 twips per pixel.
constexpr int twipsPerPixel = 15;
inline int twips(int t) {
    return (t + (t >= 0 ? twipsPerPixel / 2 : -twipsPerPixel / 2)) / twipsPerPixel;
}

// Lets pending window events run (timers, serial data, clicks).
void pumpEvents();

// A window timer as the program knows it: an interval of 0 means idle, setting an
// interval restarts the count, and enabled and interval are separate properties. The
// timer runs only while it is enabled and its interval is above 0.
class LegacyTimer : public QObject {
    Q_OBJECT
public:
    explicit LegacyTimer(QObject* parent = nullptr);

    int interval() const { return interval_; }
    void setInterval(int ms);
    bool enabled() const { return enabled_; }
    void setEnabled(bool on);
    // True while the timer is counting.
    bool isRunning() const { return timer_.isActive(); }

signals:
    void timeout();

private:
    void apply();
    QTimer timer_;
    int interval_ = 0;
    bool enabled_ = true;
};

} // namespace ui
