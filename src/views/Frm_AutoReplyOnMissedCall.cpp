#include "views/Frm_AutoReplyOnMissedCall.h"

#include "core/AppContext.h"
#include "modem/Module1.h"
#include "modem/SmsText.h"
#include "ui/Ui.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {
const QString kSelectReply = QStringLiteral("select * from AutoReply_OnMissedCall");
} // namespace

Frm_AutoReplyOnMissedCall::Frm_AutoReplyOnMissedCall(AppContext& ctx, QWidget* parent)
    : QDialog(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frm_AutoReplyOnMissedCall"));
    setWindowTitle(QStringLiteral("AutoReply SMS on Missed Call"));

    Label1 = new QLabel(
        QStringLiteral("If some one calls you on your SIM card mobile number connected with this "
                       "software, it can automatically send them following SMS if this option is "
                       "enabled."),
        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    chkSetMsg = new QCheckBox(QStringLiteral("Enable Autoreply SMS on Missed Calls"), this);
    chkSetMsg->setObjectName(QStringLiteral("chkSetMsg"));
    try {
        pduMode_ = storedPduMode(ctx_);
        characterSet_ = storedCharacterSet(ctx_);
    } catch (const std::exception&) {
        // No settings to be read: text mode, as a new database has.
    }
    Label2 = new QLabel(pduMode_ ? QStringLiteral("Message (Max. 10 SMS, sent as one long message) :")
                                 : QStringLiteral("Message (Max.Length 160 Characters) :"),
                        this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label5 = new QLabel(QStringLiteral("*"), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setStyleSheet(QStringLiteral("color: #b00000;"));
    Text_Message = new QPlainTextEdit(this);
    Text_Message->setObjectName(QStringLiteral("Text_Message"));
    Text_Message->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text_Message->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text_Message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text_Message->setTabChangesFocus(true);
    Cmdsend = new QPushButton(QStringLiteral("&Save"), this);
    Cmdsend->setObjectName(QStringLiteral("Cmdsend"));
    Cmdsend->setDefault(false);
    Cmdsend->setAutoDefault(false);
    lblCount = new QLabel(this);
    lblCount->setObjectName(QStringLiteral("lblCount"));
    lblCount->setWordWrap(true);
    CmdExit = new QPushButton(QStringLiteral("E&xit"), this);
    CmdExit->setObjectName(QStringLiteral("CmdExit"));
    CmdExit->setAutoDefault(false);

    ui::labelField(Label2, Text_Message);

    auto* messageRow = new QHBoxLayout;
    messageRow->addWidget(Text_Message, 1);
    messageRow->addWidget(Label5, 0, Qt::AlignTop);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Cmdsend);
    buttons->addWidget(CmdExit);
    auto* v = new QVBoxLayout(this);
    v->addWidget(Label1);
    v->addWidget(chkSetMsg);
    v->addWidget(Label2);
    v->addLayout(messageRow, 1);
    v->addWidget(lblCount);
    v->addLayout(buttons);

    connect(Text_Message, &QPlainTextEdit::textChanged, this,
            &Frm_AutoReplyOnMissedCall::limitMessageLength);
    connect(Cmdsend, &QPushButton::clicked, this, &Frm_AutoReplyOnMissedCall::Cmdsend_Click);
    connect(CmdExit, &QPushButton::clicked, this, &Frm_AutoReplyOnMissedCall::CmdExit_Click);

    Form_Load();
    limitMessageLength();
}

void Frm_AutoReplyOnMissedCall::Form_Load() {
    resize(ui::twips(8625), ui::twips(4110));
    try {
        const QueryResult r = ctx_.DBConnection.query(kSelectReply);
        if (!r.isEmpty()) {
            const QString message = r.value(0, QStringLiteral("Message")).toString();
            if (!message.isEmpty()) Text_Message->setPlainText(trimSpaces(message));
            // Ticked for a row stored as switched on (-1).
            chkSetMsg->setChecked(r.value(0, QStringLiteral("IsActive")).toLongLong() == -1);
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_AutoReplyOnMissedCall::limitMessageLength() {
    const QString text = Text_Message->toPlainText();
    // Typing or pasting past the limit keeps the first characters, as a length-limited
    // text box does, without splitting a surrogate pair.
    const QString fitting = fitMessage(text, pduMode_, characterSet_);
    if (fitting.size() != text.size()) {
        QSignalBlocker block(Text_Message);
        Text_Message->setPlainText(fitting);
        Text_Message->moveCursor(QTextCursor::End);
    }
    lblCount->setText(measureMessage(fitting, pduMode_, characterSet_).shown);
}

void Frm_AutoReplyOnMissedCall::Cmdsend_Click() {
    try {
        const QString message = trimSpaces(Text_Message->toPlainText());
        const bool active = chkSetMsg->isChecked();
        // Switched on without a text, the reply would send nothing to the next caller.
        if (active && message.isEmpty()) {
            ui::MsgBox(QStringLiteral("Please enter the message to send to callers whose call "
                                      "was missed, or clear \"Enable Autoreply SMS on Missed "
                                      "Calls\"."));
            Text_Message->setFocus();
            return;
        }
        // A reply the modem cannot carry would fail at every missed call: refuse it now.
        const QString characterSet = storedCharacterSet(ctx_);
        const QString refused =
            storedPduMode(ctx_) ? QString() : uncarriableCharacters(message, characterSet);
        if (!refused.isEmpty()) {
            ui::MsgBox(QStringLiteral("The message cannot be sent in the modem's character set "
                                      "(%1): %2. Please remove these characters.")
                           .arg(characterSet.isEmpty() ? QStringLiteral("ASCII") : characterSet,
                                describeCharacters(refused)));
            Text_Message->setFocus();
            return;
        }
        Database& db = ctx_.DBConnection;
        db.transaction([&] {
            // The first row is the one the program reads; the window makes it when none
            // exists, and leaves any further rows alone.
            const QueryResult first =
                db.query(QStringLiteral("select min(rowid) from AutoReply_OnMissedCall"));
            const QVariant rowid = first.rows.value(0).value(0);
            if (rowid.isNull())
                db.execute(
                    QStringLiteral(
                        "insert into AutoReply_OnMissedCall (IsActive,Message) values (?,?)"),
                    {active ? -1 : 0, message});
            else
                db.execute(QStringLiteral("update AutoReply_OnMissedCall set IsActive=?, "
                                          "Message=? where rowid=?"),
                           {active ? -1 : 0, message, rowid});
        });
        // The engine's state, as the main window's start-up reads it from the saved row.
        ctx_.engine.AutoReplyActive = active;
        ctx_.engine.AutoReplyMessage = active ? message.trimmed() : QString();
        close();
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void Frm_AutoReplyOnMissedCall::CmdExit_Click() {
    close();
}
