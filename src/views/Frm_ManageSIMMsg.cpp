#include "views/Frm_ManageSIMMsg.h"

#include "core/AppContext.h"
#include "modem/Module1.h"
#include "modem/SmsCommands.h"
#include "ui/Ui.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// How long the listing waits for the modem's answer, whatever the delay factor.
constexpr int kListingWaitMs = 1500;

const QString kNotCommunicating =
    QStringLiteral("Computer is not communicating with the modem. Please select the option "
                   "'Listen To Modem' before executing any modem commands.");

} // namespace

namespace {

// A listed message's text as the list shows it: in PDU mode also which part of a long
// message it is, a status report's content, or why the PDU cannot be read.
QString shownText(const ModemState& m, int i) {
    const QString text = m.SimMessageText.value(i);
    const ListedMessageInfo info = m.SimMessageInfo.value(i);
    if (!info.problem.isEmpty())
        return QStringLiteral("(cannot be read: %1) %2").arg(info.problem, text);
    if (info.statusReport)
        return QStringLiteral("(status report for message %1: status %2, %3)")
            .arg(info.reference)
            .arg(info.reportStatus)
            .arg(info.dischargeTime);
    if (info.parts > 1)
        return text + QStringLiteral(" (part %1 of %2)").arg(info.part).arg(info.parts);
    return text;
}

} // namespace

const QList<Frm_ManageSIMMsg::Kind>& Frm_ManageSIMMsg::kinds() {
    static const QList<Kind> k{
        {"All", "ALL", "ALL"},
        {"Read", "REC READ", "READ"},
        {"Un Read", "REC UNREAD", "UNREAD"},
        {"Sent", "STO SENT", "SENT"},
        {"Un Sent", "STO UNSENT", "UNSENT"},
    };
    return k;
}

Frm_ManageSIMMsg::Frm_ManageSIMMsg(AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frm_ManageSIMMsg"));
    setWindowTitle(QStringLiteral("Manage Messages"));

    auto makeBox = [this](const char* name, const char* caption) {
        auto* b = new QCheckBox(QLatin1String(caption), this);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    auto makeButton = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };

    // "Read Messages".
    Label2 =
        new QLabel(QStringLiteral("Please select the type of messages you wanted to read"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Chkshowall = makeBox("Chkshowall", "All");
    Chkshowread = makeBox("Chkshowread", "Read");
    Chkshowunread = makeBox("Chkshowunread", "Un Read");
    Chkshowsent = makeBox("Chkshowsent", "Sent");
    Chkshowunsent = makeBox("Chkshowunsent", "Un Sent");
    readBoxes_ = {Chkshowall, Chkshowread, Chkshowunread, Chkshowsent, Chkshowunsent};
    CmdShow = makeButton("CmdShow", QStringLiteral("&Show"));
    Listmessage = new QTreeWidget(this);
    Listmessage->setObjectName(QStringLiteral("Listmessage"));
    Listmessage->setRootIsDecorated(false);
    Listmessage->setUniformRowHeights(true);
    Listmessage->setAllColumnsShowFocus(true);
    Listmessage->setSelectionMode(QAbstractItemView::SingleSelection);
    Listmessage->setAccessibleName(QStringLiteral("Messages on the SIM card"));
    chkItem = makeBox("chkItem", "Select All");
    CmdDelFromList = makeButton("CmdDelFromList", QStringLiteral("Dele&te"));
    Cmdend = makeButton("Cmdend", QStringLiteral("&Exit"));

    // "Manage Messages".
    Label1 = new QLabel(QStringLiteral("Please select which type of messages you want to "
                                       "delete.All the messages of selected type will be deleted "
                                       "from the SIM card."),
                        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    ChkAll = makeBox("ChkAll", "All");
    ChkRead = makeBox("ChkRead", "Read");
    ChkUnread = makeBox("ChkUnread", "Un Read");
    ChkSent = makeBox("ChkSent", "Sent");
    ChkUnsent = makeBox("ChkUnsent", "Un Sent");
    deleteBoxes_ = {ChkAll, ChkRead, ChkUnread, ChkSent, ChkUnsent};
    CmdDelete = makeButton("CmdDelete", QStringLiteral("&Delete"));
    CmdExit = makeButton("CmdExit", QStringLiteral("E&xit"));

    auto* readGroup = new QGroupBox(QStringLiteral("Read Messages"), this);
    auto* readBoxRow = new QHBoxLayout;
    for (QCheckBox* b : readBoxes_)
        readBoxRow->addWidget(b);
    readBoxRow->addStretch();
    readBoxRow->addWidget(CmdShow);
    auto* readButtons = new QHBoxLayout;
    readButtons->addWidget(chkItem);
    readButtons->addStretch();
    readButtons->addWidget(CmdDelFromList);
    readButtons->addWidget(Cmdend);
    auto* readLayout = new QVBoxLayout(readGroup);
    readLayout->addWidget(Label2);
    readLayout->addLayout(readBoxRow);
    readLayout->addWidget(Listmessage, 1);
    readLayout->addLayout(readButtons);

    auto* manageGroup = new QGroupBox(QStringLiteral("Manage Messages"), this);
    auto* manageBoxRow = new QHBoxLayout;
    for (QCheckBox* b : deleteBoxes_)
        manageBoxRow->addWidget(b);
    manageBoxRow->addStretch();
    manageBoxRow->addWidget(CmdDelete);
    manageBoxRow->addWidget(CmdExit);
    auto* manageLayout = new QVBoxLayout(manageGroup);
    manageLayout->addWidget(Label1);
    manageLayout->addLayout(manageBoxRow);

    auto* v = new QVBoxLayout(this);
    v->addWidget(readGroup, 1);
    v->addWidget(manageGroup);

    connect(CmdShow, &QPushButton::clicked, this, &Frm_ManageSIMMsg::CmdShow_Click);
    connect(CmdDelFromList, &QPushButton::clicked, this, &Frm_ManageSIMMsg::CmdDelFromList_Click);
    connect(CmdDelete, &QPushButton::clicked, this, &Frm_ManageSIMMsg::CmdDelete_Click);
    connect(chkItem, &QCheckBox::clicked, this, &Frm_ManageSIMMsg::chkItem_Click);
    connect(Cmdend, &QPushButton::clicked, this, &Frm_ManageSIMMsg::Cmdend_Click);
    connect(CmdExit, &QPushButton::clicked, this, &Frm_ManageSIMMsg::CmdExit_Click);

    Form_Load();
}

void Frm_ManageSIMMsg::Form_Load() {
    try {
        if (parentWidget() && parentWidget()->isWindow()) {
            // Placed within the main window, as its other windows are.
            move(parentWidget()->geometry().topLeft() + QPoint(ui::twips(1200), ui::twips(500)));
        } else {
            move(ui::twips(1200), ui::twips(500));
        }
        resize(ui::twips(9360), ui::twips(5640));
        Listmessage->setHeaderLabels({QStringLiteral("Message"), QStringLiteral("Status"),
                                      QStringLiteral("Mobile Number"), QString()});
        sizeColumns();
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_ManageSIMMsg::sizeColumns() {
    // The columns share the list's width: a third each for the text, the status and the
    // number, a narrow one for the storage index.
    layout()->activate();
    const int w = Listmessage->viewport()->width();
    Listmessage->setColumnWidth(ColMessage, w / 3);
    Listmessage->setColumnWidth(ColStatus, w / 3);
    Listmessage->setColumnWidth(ColNumber, w / 3);
    Listmessage->setColumnWidth(ColIndex, w / 40);
}

void Frm_ManageSIMMsg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // The list has its real width only once the window is on screen.
    if (!columnsSized_) {
        columnsSized_ = true;
        sizeColumns();
    }
}

void Frm_ManageSIMMsg::closeOpenInstances(QWidget* parent) {
    if (!parent) return;
    for (Frm_ManageSIMMsg* w :
         parent->findChildren<Frm_ManageSIMMsg*>(QString(), Qt::FindDirectChildrenOnly))
        w->close();
}

bool Frm_ManageSIMMsg::modemConnected() {
    if (ctx_.modem.ModemConnected) return true;
    ui::MsgBox(kNotCommunicating, ui::Icon::None);
    return false;
}

void Frm_ManageSIMMsg::whenModemFree(std::function<void()> work) {
    const ModemState& m = ctx_.modem;
    // A click that arrives while the engine waits for a modem answer must not start an
    // exchange inside that one, nor delete by an index while the receiver works through
    // its listing; it runs right after them.
    if (m.ExchangeDepth > 0 || m.ListingInProgress || ctx_.engine.SendingInProgress ||
        ctx_.engine.ReceivePassInProgress) {
        QTimer::singleShot(50, this, [this, work = std::move(work)]() mutable {
            whenModemFree(std::move(work));
        });
        return;
    }
    work();
}

void Frm_ManageSIMMsg::nextStep(std::function<void()> step) {
    QTimer::singleShot(0, this, [this, step = std::move(step)]() mutable {
        whenModemFree(std::move(step));
    });
}

void Frm_ManageSIMMsg::beginWork() {
    if (work_++ == 0) busy_ = std::make_unique<ui::BusyCursor>();
}

void Frm_ManageSIMMsg::endWork() {
    if (work_ > 0 && --work_ == 0) busy_.reset();
}

Frm_ManageSIMMsg::~Frm_ManageSIMMsg() = default;

void Frm_ManageSIMMsg::CmdShow_Click() {
    // The busy cursor from the click to the last listing, waits for the modem included.
    beginWork();
    whenModemFree([this] { showMessages(); });
}

void Frm_ManageSIMMsg::showMessages() {
    try {
        if (!modemConnected()) {
            endWork();
            return;
        }
        Listmessage->clear();
        // The kinds ticked now, before any modem work lets other events run.
        QList<Kind> chosen;
        for (int k = 0; k < kinds().size(); ++k)
            if (readBoxes_[k]->isChecked()) chosen << kinds()[k];
        listKinds(chosen);
    } catch (const std::exception& e) {
        endWork();
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_ManageSIMMsg::listKinds(QList<Kind> rest) {
    if (rest.isEmpty()) {
        endWork();
        return;
    }
    try {
        const Kind kind = rest.takeFirst();
        QPointer<Frm_ManageSIMMsg> self(this);
        ListMessages(ctx_, ctx_.MSComm1(), QLatin1String(kind.status), kListingWaitMs);
        if (!self) return; // the window was closed while the modem answered
        const ModemState& m = ctx_.modem;
        QList<QTreeWidgetItem*> rows;
        for (int i = 0; i < m.SimMessageCount; ++i) {
            auto* item = new QTreeWidgetItem;
            item->setText(ColMessage, shownText(m, i));
            item->setText(ColStatus, QLatin1String(kind.word));
            item->setText(ColNumber, m.SimMessageNumber.value(i));
            item->setText(ColIndex, m.SimMessageIndex.value(i));
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(ColMessage, Qt::Unchecked);
            rows << item;
        }
        Listmessage->addTopLevelItems(rows);
    } catch (const std::exception& e) {
        endWork();
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
        return;
    }
    nextStep([this, rest] { listKinds(rest); });
}

void Frm_ManageSIMMsg::chkItem_Click() {
    try {
        const Qt::CheckState state = chkItem->isChecked() ? Qt::Checked : Qt::Unchecked;
        for (int i = 0; i < Listmessage->topLevelItemCount(); ++i)
            Listmessage->topLevelItem(i)->setCheckState(ColMessage, state);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_ManageSIMMsg::CmdDelFromList_Click() {
    whenModemFree([this] { deleteTickedRows(); });
}

void Frm_ManageSIMMsg::deleteTickedRows() {
    if (!modemConnected()) return;
    ui::ask(this, QStringLiteral("Are you sure to delete the selected messages?"), ui::Icon::None,
            [this](ui::Answer answer) {
                if (answer != ui::Answer::Yes) {
                    reopen(); // whatever the answer, the window starts again empty
                    return;
                }
                // The ticked rows at the moment of the answer.
                QList<Slot> chosen;
                for (int i = 0; i < Listmessage->topLevelItemCount(); ++i) {
                    const QTreeWidgetItem* item = Listmessage->topLevelItem(i);
                    if (item->checkState(ColMessage) != Qt::Checked) continue;
                    bool ok = false;
                    const int index = trimSpaces(item->text(ColIndex)).toInt(&ok);
                    // A row without a storage index names no message; deleting "0" would
                    // be a command for nothing.
                    if (ok) chosen << Slot{index, item->text(ColNumber), item->text(ColMessage)};
                }
                beginWork();
                whenModemFree([this, chosen] { deleteSlots(chosen, {}); });
            });
}

void Frm_ManageSIMMsg::deleteSlots(QList<Slot> rest, QStringList skipped) {
    try {
        if (rest.isEmpty()) {
            endWork();
            if (!skipped.isEmpty())
                ui::MsgBox(QStringLiteral("These messages were not deleted: the SIM card holds "
                                          "another message in their place now, or none (the "
                                          "program may have moved them to the Inbox meanwhile, "
                                          "and new messages taken their place).\r\n\r\n") +
                           skipped.join(QStringLiteral("\r\n")));
            if (isVisible()) reopen(); // a window closed meanwhile stays closed
            return;
        }
        const Slot slot = rest.takeFirst();
        QPointer<Frm_ManageSIMMsg> self(this);
        // The place is listed again right before the delete: since the list was shown,
        // its message may have gone and another taken its index.
        ModemState& m = ctx_.modem;
        ListMessages(ctx_, ctx_.MSComm1(), QStringLiteral("ALL"), delayMs(ctx_, 200));
        if (!self) return; // closed while the modem answered
        const bool listed = m.CommandSucceeded && m.ModemConnected && !m.ModemBusy;
        bool same = false;
        for (int i = 0; listed && i < m.SimMessageCount; ++i) {
            bool ok = false;
            if (trimSpaces(m.SimMessageIndex.value(i)).toInt(&ok) != slot.index || !ok) continue;
            same = m.SimMessageNumber.value(i) == slot.number &&
                   m.SimMessageText.value(i) == slot.text;
            break;
        }
        if (same) {
            DeleteMessage(ctx_, ctx_.MSComm1(), slot.index);
            if (!self) return;
        } else {
            QString text = slot.text;
            if (text.size() > 40) text = text.left(40) + QStringLiteral("...");
            skipped << QStringLiteral("Place %1: from %2, \"%3\"%4")
                           .arg(slot.index)
                           .arg(slot.number, text,
                                listed ? QString()
                                       : QStringLiteral(" (the SIM card could not be listed "
                                                        "to check it)"));
        }
    } catch (const std::exception& e) {
        endWork();
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
        return;
    }
    nextStep([this, rest, skipped] { deleteSlots(rest, skipped); });
}

void Frm_ManageSIMMsg::reopen() {
    auto* fresh = new Frm_ManageSIMMsg(ctx_, parentWidget());
    fresh->setAttribute(Qt::WA_DeleteOnClose);
    fresh->move(pos());
    close();
    ui::showModeless(fresh);
}

void Frm_ManageSIMMsg::CmdDelete_Click() {
    whenModemFree([this] { deleteByKind(); });
}

void Frm_ManageSIMMsg::deleteByKind() {
    if (!modemConnected()) return;
    ui::ask(this, QStringLiteral("Are you sure to delete the Messages?"), ui::Icon::None,
            [this](ui::Answer a) {
                if (a != ui::Answer::Yes) return;
                // Only the kinds ticked at the moment of the answer count.
                QList<Kind> chosen;
                for (int k = 0; k < kinds().size(); ++k)
                    if (deleteBoxes_[k]->isChecked()) chosen << kinds()[k];
                beginWork();
                whenModemFree([this, chosen] { deleteKinds(chosen); });
            });
}

void Frm_ManageSIMMsg::deleteKinds(QList<Kind> rest) {
    if (rest.isEmpty()) {
        endWork();
        return;
    }
    QStringList indexes;
    try {
        const Kind kind = rest.takeFirst();
        QPointer<Frm_ManageSIMMsg> self(this);
        indexes = ListMessagesToDelete(ctx_, ctx_.MSComm1(), QLatin1String(kind.status));
        if (!self) return;
    } catch (const std::exception& e) {
        endWork();
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
        return;
    }
    nextStep([this, indexes, rest] { deleteListed(indexes, rest); });
}

void Frm_ManageSIMMsg::deleteListed(QStringList indexes, QList<Kind> kindsLeft) {
    try {
        if (indexes.isEmpty()) {
            deleteKinds(kindsLeft);
            return;
        }
        QPointer<Frm_ManageSIMMsg> self(this);
        DeleteListedMessage(ctx_, ctx_.MSComm1(), indexes.takeFirst());
        if (!self) return;
    } catch (const std::exception& e) {
        endWork();
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
        return;
    }
    nextStep([this, indexes, kindsLeft] { deleteListed(indexes, kindsLeft); });
}

void Frm_ManageSIMMsg::Cmdend_Click() {
    close();
}

void Frm_ManageSIMMsg::CmdExit_Click() {
    close();
}
