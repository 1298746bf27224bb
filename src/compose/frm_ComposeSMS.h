#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class AppContext;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class SendAtChooser;

// The compose window: one message to one or more typed numbers. Sending queues one
// Outbox row per number (the dispatcher sends them later) and closes the window.
class frm_ComposeSMS : public QDialog {
    Q_OBJECT
public:
    // The longest text in text mode; in PDU mode a text may take up to pdu::MaxParts SMS.
    static constexpr int MessageMaxLength = 160;

    explicit frm_ComposeSMS(AppContext& ctx, QWidget* parent = nullptr);

    // "Send SMS": checks the input, queues the rows, closes the window.
    void Command1_Click();

    // The numbers as queued: semicolons count as commas, every entry (empty ones too)
    // is one recipient, with its dots and spaces removed.
    static QStringList recipientEntries(const QString& numbersText);
    // Why the typed numbers cannot be queued (empty entries, entries that are not
    // numbers, named as typed); "" when every entry is a number.
    static QString numbersComplaint(const QString& numbersText);

    QLabel* Label1;
    QLineEdit* MobileNumbers;
    QLabel* Label2;
    QLabel* Label3;
    QPlainTextEdit* Message;
    QLabel* Label4;
    // What the text takes: units of the message format (or character set) and SMS.
    QLabel* lblCount;
    QPushButton* Command1;
    SendAtChooser* fraSendAt; // "Send at": now, or a date and time

private:
    // The message box refuses typing beyond what one message may take, and the counter
    // follows the text.
    void limitMessageLength();

    AppContext& ctx_;
    bool pduMode_ = false;
    QString characterSet_;
};

// Opens the compose window modally over `parent`.
void showComposeSMS(AppContext& ctx, QWidget* parent);
