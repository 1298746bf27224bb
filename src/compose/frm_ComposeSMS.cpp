#include "compose/frm_ComposeSMS.h"

#include "compose/SendAtChooser.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "core/Notifier.h"
#include "modem/Module1.h"
#include "modem/Recipients.h"
#include "modem/SmsText.h"
#include "ui/Ui.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringView>
#include <QTextCursor>
#include <QVBoxLayout>
#include <limits>

frm_ComposeSMS::frm_ComposeSMS(AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("frm_ComposeSMS"));
    setWindowTitle(QStringLiteral("Compose & Send SMS"));

    Label1 = new QLabel(QStringLiteral("Enter Mobile Numbers :"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    MobileNumbers = new QLineEdit(this);
    MobileNumbers->setObjectName(QStringLiteral("MobileNumbers"));
    MobileNumbers->setMaxLength(std::numeric_limits<int>::max()); // no limit of its own
    Label2 = new QLabel(QStringLiteral("(Separate multiple numbers either by comma OR semi-colon. "
                                       "e.g. 9888812121, +442123234455, ...)"),
                        this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setWordWrap(true);
    Label3 = new QLabel(QStringLiteral("Enter Your Message Here :"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Message = new QPlainTextEdit(this);
    Message->setObjectName(QStringLiteral("Message"));
    Message->setTabChangesFocus(true);
    try {
        pduMode_ = storedPduMode(ctx_);
        characterSet_ = storedCharacterSet(ctx_);
    } catch (const std::exception&) {
        // No settings to be read: text mode, as a new database has.
    }
    Label4 = new QLabel(pduMode_ ? QStringLiteral("(Max. 10 SMS, sent as one long message)")
                                 : QStringLiteral("(Max. 160 characters)"),
                        this);
    Label4->setObjectName(QStringLiteral("Label4"));
    lblCount = new QLabel(this);
    lblCount->setObjectName(QStringLiteral("lblCount"));
    lblCount->setWordWrap(true);
    Command1 = new QPushButton(QStringLiteral("Send SMS"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    // Enter in the numbers box must not send.
    Command1->setAutoDefault(false);

    ui::labelField(Label1, MobileNumbers);
    ui::labelField(Label3, Message);
    auto* v = new QVBoxLayout(this);
    v->addWidget(Label1);
    v->addWidget(MobileNumbers);
    v->addWidget(Label2);
    v->addSpacing(8);
    v->addWidget(Label3);
    v->addWidget(Message, 1);
    v->addWidget(Label4);
    v->addWidget(lblCount);
    fraSendAt = new SendAtChooser(this);
    v->addWidget(fraSendAt);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    v->addLayout(buttons);
    resize(ui::twips(6500), ui::twips(4800));

    connect(Message, &QPlainTextEdit::textChanged, this, &frm_ComposeSMS::limitMessageLength);
    connect(Command1, &QPushButton::clicked, this, &frm_ComposeSMS::Command1_Click);
    limitMessageLength();
}

void frm_ComposeSMS::limitMessageLength() {
    const QString text = Message->toPlainText();
    const QString fitting = fitMessage(text, pduMode_, characterSet_);
    if (fitting.size() != text.size()) {
        // Cut at a whole character: a surrogate pair is kept or dropped as one.
        const QSignalBlocker block(Message);
        Message->setPlainText(fitting);
        Message->moveCursor(QTextCursor::End);
    }
    QString shown = measureMessage(fitting, pduMode_, characterSet_).shown;
    if (!pduMode_)
        shown += QStringLiteral(". For longer messages, other languages or characters such as "
                                "€, choose the message format PDU in the settings.");
    lblCount->setText(shown);
}

QStringList frm_ComposeSMS::recipientEntries(const QString& numbersText) {
    QString text = numbersText;
    text.replace(QLatin1Char(';'), QLatin1Char(','));
    QStringList entries = text.split(QLatin1Char(','));
    for (QString& e : entries) {
        e.remove(QLatin1Char('.'));
        e.remove(QLatin1Char(' '));
    }
    return entries;
}

QString frm_ComposeSMS::numbersComplaint(const QString& numbersText) {
    QString typed = numbersText;
    typed.replace(QLatin1Char(';'), QLatin1Char(','));
    const QStringList pieces = typed.split(QLatin1Char(','));
    const QStringList entries = recipientEntries(numbersText);
    int empty = 0;
    QStringList notNumbers;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (trimSpaces(entries[i]).isEmpty())
            ++empty;
        else if (!isSendableNumber(entries[i]))
            notNumbers << QLatin1Char('"') + trimSpaces(pieces.value(i)) + QLatin1Char('"');
    }
    if (empty == 0 && notNumbers.isEmpty()) return QString();
    QStringList problems;
    if (empty > 0)
        problems << (empty == 1 ? QStringLiteral("one entry is empty")
                                : QStringLiteral("%1 entries are empty").arg(empty)) +
                        QStringLiteral(" (two commas or semicolons with no number between "
                                       "them, or one at the start or the end)");
    if (!notNumbers.isEmpty())
        problems << (notNumbers.size() == 1 ? QStringLiteral("this entry is not a number: ")
                                            : QStringLiteral("these entries are not numbers: ")) +
                        notNumbers.join(QStringLiteral(", "));
    return QStringLiteral("Nothing was queued: ") + problems.join(QStringLiteral("; ")) +
           QStringLiteral(".\r\n\r\nA mobile number is made of digits, with an optional + in "
                          "front. Please correct the numbers.");
}

void frm_ComposeSMS::Command1_Click() {
    const QString numbers = trimSpaces(MobileNumbers->text());
    const QString text = Message->toPlainText();
    if (numbers.isEmpty() || trimSpaces(text).isEmpty()) {
        ui::MsgBox(QStringLiteral("You must enter the mobile number and the message."),
                   ui::Icon::None);
        (numbers.isEmpty() ? static_cast<QWidget*>(MobileNumbers) : Message)->setFocus();
        return;
    }
    // Every entry must be a number the dispatcher can send: a row with an empty or
    // non-numeric number would wait in the Outbox for ever.
    const QString refusedNumbers = numbersComplaint(numbers);
    if (!refusedNumbers.isEmpty()) {
        ui::MsgBox(refusedNumbers);
        MobileNumbers->setFocus();
        return;
    }
    // Many numbers take a moment to queue, and the open message box is refilled after.
    const ui::BusyCursor busy;
    try {
        // A text the modem cannot carry in its character set would fail at every send
        // attempt; it is refused here, before anything is queued.
        const QString characterSet = storedCharacterSet(ctx_);
        const QString refused =
            storedPduMode(ctx_) ? QString() : uncarriableCharacters(text, characterSet);
        if (!refused.isEmpty()) {
            ui::MsgBox(QStringLiteral("The message cannot be sent: the modem's character set (%1) "
                                      "cannot carry these characters:\r\n\r\n%2\r\n\r\nPlease "
                                      "remove or replace them.")
                           .arg(characterSet.isEmpty() ? QStringLiteral("ASCII") : characterSet,
                                describeCharacters(refused)));
            Message->setFocus();
            return;
        }

        QString shown = numbers;
        shown.replace(QLatin1Char(';'), QLatin1Char(','));
        MobileNumbers->setText(shown);

        // All rows or none: a failure part-way leaves nothing half queued, so sending
        // again cannot queue a recipient twice.
        const QStringList entries = recipientEntries(shown);
        const QString queuedAt = nowText();
        const QVariant sendAfter = fraSendAt->sendAfter();
        ctx_.DBConnection.transaction([&] {
            ctx_.DBConnection.executeEach(
                QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                               "OutBoxDateTime,SendAfter) values (0,?,?,?,?)"),
                entries.size(),
                [&](qsizetype i) { return QVariantList{entries[i], text, queuedAt, sendAfter}; });
        });
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
        return;
    }
    RefreshMessageBoxIfOpen(ctx_);
    accept();
}

void showComposeSMS(AppContext& ctx, QWidget* parent) {
    auto* w = new frm_ComposeSMS(ctx, parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModal(w);
}
