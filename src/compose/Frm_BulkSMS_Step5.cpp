#include "compose/Frm_BulkSMS_Step5.h"

#include "compose/SendAtChooser.h"

#include "compose/Frm_ImportProgress.h"
#include "compose/ImportReader.h"
#include "compose/ImportSource.h"
#include "compose/NumberListModel.h"
#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "core/Notifier.h"
#include "modem/SmsText.h"
#include "core/Storage.h"
#include "ui/Ui.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// Queueing gathers the rows in batches, between which the windows and the program's
// timers run: a batch takes as many rows as it can put in within batchMs, up to batchRows.
constexpr qsizetype batchRows = 10000;
constexpr qint64 batchMs = 150;
// Rows put in between two looks at the clock.
constexpr qsizetype chunkRows = 500;
// How many refused entries a message lists by name.
constexpr int refusedShown = 10;

} // namespace

Frm_BulkSMS_Step5::Frm_BulkSMS_Step5(BulkWizard& wizard)
    : BulkWizardStep(wizard, 5, QStringLiteral("&Send")) {
    auto label = [this](const char* name, const QString& caption) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    Label1 = label("Label1", QStringLiteral("Found Numbers"));
    lblNoItems = label("lblNoItems", QStringLiteral("0"));
    Label4 = label("Label4", QStringLiteral("Selected"));
    lblSelectedItems = label("lblSelectedItems", QStringLiteral("0"));
    for (QLabel* l : {lblNoItems, lblSelectedItems}) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    Check1 = new QCheckBox(QStringLiteral("Select All"), this);
    Check1->setObjectName(QStringLiteral("Check1"));

    listModel = new NumberListModel(this);
    ListNumbers = new QTreeView(this);
    ListNumbers->setObjectName(QStringLiteral("ListNumbers"));
    ListNumbers->setModel(listModel);
    ListNumbers->setRootIsDecorated(false);
    ListNumbers->setUniformRowHeights(true);
    ListNumbers->setAllColumnsShowFocus(true);
    ListNumbers->header()->setStretchLastSection(true);

    Frame1 = new QGroupBox(QStringLiteral("Compose Common SMS"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Label2 = new QLabel(QStringLiteral("Max 160 Characters :"), Frame1);
    Label2->setObjectName(QStringLiteral("Label2"));
    txtMessage = new QPlainTextEdit(Frame1);
    txtMessage->setObjectName(QStringLiteral("txtMessage"));
    txtMessage->setMaximumHeight(ui::twips(1200));
    Label2->setBuddy(txtMessage);
    txtMessage->setAccessibleName(QStringLiteral("Common SMS, max 160 characters"));
    ListNumbers->setAccessibleName(QStringLiteral("Found Numbers"));
    lblCount = new QLabel(Frame1);
    lblCount->setObjectName(QStringLiteral("lblCount"));
    lblCount->setWordWrap(true);
    auto* fv = new QVBoxLayout(Frame1);
    fv->addWidget(Label2);
    fv->addWidget(txtMessage);
    fv->addWidget(lblCount);

    auto* counts = new QHBoxLayout;
    counts->addWidget(Label1);
    counts->addWidget(lblNoItems);
    counts->addSpacing(24);
    counts->addWidget(Label4);
    counts->addWidget(lblSelectedItems);
    counts->addStretch();
    counts->addWidget(Check1);
    body()->addLayout(counts);
    body()->addWidget(ListNumbers, 1);
    body()->addWidget(Frame1);
    fraSendAt = new SendAtChooser(this);
    body()->addWidget(fraSendAt);

    connect(Check1, &QCheckBox::clicked, this, &Frm_BulkSMS_Step5::Check1_Click);
    connect(listModel, &NumberListModel::itemChecked, this,
            &Frm_BulkSMS_Step5::ListNumbers_ItemCheck);
    // The box takes one message, as typed or pasted.
    connect(txtMessage, &QPlainTextEdit::textChanged, this, &Frm_BulkSMS_Step5::limitMessageLength);
    connect(cmdNext, &QPushButton::clicked, this, &Frm_BulkSMS_Step5::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &Frm_BulkSMS_Step5::cmdBack_Click);
    connect(cmdClose, &QPushButton::clicked, this, &Frm_BulkSMS_Step5::cmdClose_Click);
}

Frm_BulkSMS_Step5::Source Frm_BulkSMS_Step5::sourceOf(const QString& path) {
    // Told by the file's name in any case, not by the folders above it.
    const QString name = QFileInfo(path).fileName().toLower();
    if (name.contains(QLatin1String(".txt"))) return Source::Text;
    if (name.contains(QLatin1String(".xls"))) return Source::Excel;
    if (name.contains(QLatin1String(".mdb"))) return Source::Access;
    return Source::None;
}

void Frm_BulkSMS_Step5::limitMessageLength() {
    const QString text = txtMessage->toPlainText();
    const QString fitting = fitMessage(text, pduMode_, characterSet_);
    if (fitting.size() != text.size()) {
        QTextCursor c = txtMessage->textCursor();
        const int pos = std::min<int>(c.position(), static_cast<int>(fitting.size()));
        const QSignalBlocker block(txtMessage);
        txtMessage->setPlainText(fitting);
        c = txtMessage->textCursor();
        c.setPosition(pos);
        txtMessage->setTextCursor(c);
    }
    lblCount->setText(measureMessage(fitting, pduMode_, characterSet_).shown);
}

void Frm_BulkSMS_Step5::showCounts() {
    lblNoItems->setText(QString::number(listModel->size()));
    lblSelectedItems->setText(QString::number(listModel->tickedCount()));
}

void Frm_BulkSMS_Step5::Form_Load() {
    const BulkWizard& w = wizard();
    SourceFile = w.fromStep2.SelectedfileName;
    const Source source = SourceFile.isEmpty() ? Source::None : sourceOf(SourceFile);
    IsCommonSMS = !((source == Source::Access && !w.fromStep3.SMSColumnName.isEmpty()) ||
                    (source == Source::Excel && !w.fromStep4.SMSColumnName.isEmpty()));
    Frame1->setVisible(IsCommonSMS);
    try {
        pduMode_ = storedPduMode(ctx());
        characterSet_ = storedCharacterSet(ctx());
    } catch (const std::exception&) {
        pduMode_ = false; // no settings to be read: text mode, as a new database has
    }
    Label2->setText(pduMode_ ? QStringLiteral("Max 10 SMS, sent as one long message :")
                             : QStringLiteral("Max 160 Characters :"));
    limitMessageLength();
    BulkWizardStep::Form_Load();
    Check1->setChecked(true);
    Check1_Click();
    listModel->clear(!IsCommonSMS);
    ListNumbers->setColumnWidth(0, ui::twips(2500));
    if (!IsCommonSMS) ListNumbers->setColumnWidth(1, ui::twips(3500));
    if (source == Source::None) {
        showCounts();
        return;
    }

    ImportRequest read;
    read.step = ImportRequest::Step::Read;
    read.path = trimSpacesOnly(SourceFile);
    if (source == Source::Text) {
        read.source = ImportRequest::Source::Text;
        read.separator = w.fromStep2.NoSeperatedBy;
    } else if (source == Source::Access) {
        read.source = ImportRequest::Source::Access;
        read.table = w.fromStep3.realTableName.isEmpty() ? trimSpacesOnly(w.fromStep3.tableName)
                                                         : w.fromStep3.realTableName;
        read.numberColumn = trimSpacesOnly(w.fromStep3.FieldName);
        read.messageColumn = trimSpacesOnly(w.fromStep3.SMSColumnName);
    } else {
        read.source = ImportRequest::Source::Excel;
        read.table = w.fromStep4.realSheetName.isEmpty() ? trimSpacesOnly(w.fromStep4.SheetName)
                                                         : w.fromStep4.realSheetName;
        read.numberColumn = trimSpacesOnly(w.fromStep4.ColumnName);
        read.messageColumn = trimSpacesOnly(w.fromStep4.SMSColumnName);
    }
    showCounts();
    QPointer<Frm_BulkSMS_Step5> self(this);
    wizard().read(read, this,
                  QStringLiteral("Reading the numbers from %1...").arg(QFileInfo(read.path).fileName()),
                  [self](ImportReader& r) {
                      if (self) self->entriesRead(r);
                  });
}

void Frm_BulkSMS_Step5::entriesRead(ImportReader& r) {
    // A file that cannot be read, or a reading cancelled, takes the wizard back to the
    // file: nothing of it is listed.
    if (r.outcome() != ImportReader::Outcome::Done) {
        if (r.outcome() == ImportReader::Outcome::Failed) ui::MsgBox(r.error(), ui::Icon::None);
        wizard().backToFileStep();
        return;
    }
    const QStringList notices = r.notices();
    const QString stopped = r.stopped();
    listModel->setEntries(r.takeEntries(), !IsCommonSMS);
    ListNumbers->setColumnWidth(0, ui::twips(2500));
    // A reading that stopped with an error keeps the entries found before it, and leaves
    // the counts as they were.
    if (stopped.isEmpty()) showCounts();
    for (const QString& notice : notices)
        ui::MsgBox(notice, ui::Icon::None);
    if (!stopped.isEmpty()) ui::MsgBox(stopped, ui::Icon::None);
}

void Frm_BulkSMS_Step5::Check1_Click() {
    const bool on = Check1->isChecked();
    listModel->setAllTicked(on);
    lblSelectedItems->setText(on ? QString::number(listModel->size()) : QStringLiteral("0"));
}

void Frm_BulkSMS_Step5::ListNumbers_ItemCheck(qsizetype, bool) {
    lblSelectedItems->setText(QString::number(listModel->tickedCount()));
}

bool Frm_BulkSMS_Step5::messagesCarriable(const QString& commonMessage) {
    QString set = storedCharacterSet(ctx());
    const bool pdu = storedPduMode(ctx());
    const QString setName = set.isEmpty() ? QStringLiteral("ASCII") : set;
    // What keeps a message from going: characters the set cannot carry (text mode), or
    // more SMS than one message may take (PDU mode).
    auto problem = [&](const QString& message) {
        if (pdu) {
            const MessageSize size = measureMessage(message, true, set);
            return size.tooLong ? QStringLiteral("%1 SMS, more than 10").arg(size.parts) : QString();
        }
        const QString bad = uncarriableCharacters(message, set);
        return bad.isEmpty() ? QString() : describeCharacters(bad);
    };
    if (IsCommonSMS) {
        const QString bad = problem(commonMessage);
        if (bad.isEmpty()) return true;
        ui::MsgBox(pdu ? QStringLiteral("The message is too long: it needs %1. Please shorten it; "
                                        "nothing was put in the Out box.")
                             .arg(bad)
                       : QStringLiteral("The message cannot be sent in the modem's character set "
                                        "(%1): it holds %2. Please change the message; nothing "
                                        "was put in the Out box.")
                             .arg(setName, bad),
                   ui::Icon::None);
        txtMessage->setFocus();
        return false;
    }
    QStringList lines;
    qsizetype refused = 0;
    const QList<ImportEntry>& entries = listModel->entries();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!listModel->isTicked(i)) continue;
        const QString bad = problem(trimSpacesOnly(entries[i].message));
        if (bad.isEmpty()) continue;
        if (++refused <= refusedShown)
            lines << QStringLiteral("%1 (entry %2): %3").arg(entries[i].number).arg(i + 1).arg(bad);
        listModel->setTicked(i, false);
    }
    if (refused == 0) return true;
    if (refused > refusedShown)
        lines << QStringLiteral("... and %1 more.").arg(refused - refusedShown);
    showCounts();
    const QString why = pdu ? QStringLiteral("are too long (more than 10 SMS each)")
                            : QStringLiteral("cannot be sent in the modem's character set (%1)")
                                  .arg(setName);
    ui::MsgBox(QStringLiteral("%1 of the messages %2, so nothing was put in the Out box:\n\n%3"
                              "\n\nThese entries are now unticked: change their messages in the "
                              "file, or press Send again to queue the others.")
                   .arg(refused)
                   .arg(why, lines.join(QLatin1Char('\n'))),
               ui::Icon::None);
    return false;
}

// The rows of one Send are first gathered in batches in a table of the connection's own
// (temp.OutboxQueueing, which no other part of the program reads and which goes with the
// connection), between which the windows and the program's timers run; when the last
// batch is in, one statement puts them all in the Out box, so that the dispatcher and the
// folder totals see all of them at once. Cancel, an error or the program ending before
// that leaves nothing in the Out box: all of them reach it, or none.
void Frm_BulkSMS_Step5::queueTicked(const QString& commonMessage) {
    auto q = std::make_shared<Queueing>();
    for (qsizetype i = 0; i < listModel->size(); ++i)
        if (listModel->isTicked(i)) q->rows.push_back(i);
    q->message = commonMessage;
    q->at = nowText();
    try {
        ctx().DBConnection.executeScript(QStringLiteral(
            "CREATE TEMP TABLE IF NOT EXISTS OutboxQueueing (RecipientMobileNo, Message); "
            "DELETE FROM temp.OutboxQueueing;"));
    } catch (const DbError& e) {
        ui::MsgBox(e.description() + QStringLiteral("\n\nNothing was put in the Out box."));
        return;
    }
    q->sendAfter = fraSendAt->sendAfter();
    auto* progress = new Frm_ImportProgress(
        QStringLiteral("Putting the messages in the Out box..."), this);
    q->progress = progress;
    connect(progress, &Frm_ImportProgress::cancelRequested, this, [q] { q->cancelled = true; });
    queueing_ = q;
    wizard().setBusy(true);
    QTimer::singleShot(0, this, [this, q] { queueBatch(q); });
}

QString Frm_BulkSMS_Step5::takeOutQueued(const Queueing&) {
    try {
        ctx().DBConnection.execute(QStringLiteral("delete from temp.OutboxQueueing"));
    } catch (const DbError& e) {
        // What is gathered there is never sent, and goes with the connection.
        return e.description();
    }
    return QString();
}

void Frm_BulkSMS_Step5::Form_Unload() {
    // Closed while queueing: the Send is cancelled, and nothing of it stays.
    if (auto q = std::exchange(queueing_, {})) {
        q->cancelled = true;
        takeOutQueued(*q);
        if (q->progress) q->progress->done();
        wizard().setBusy(false);
    }
    BulkWizardStep::Form_Unload();
}

void Frm_BulkSMS_Step5::queueBatch(const std::shared_ptr<Queueing>& q) {
    if (queueing_ != q) return; // the window was closed meanwhile
    Database& db = ctx().DBConnection;
    const qsizetype total = static_cast<qsizetype>(q->rows.size());
    QString error;
    if (!q->cancelled && q->done < total) {
        const qsizetype limit = std::min(batchRows, total - q->done);
        const QList<ImportEntry>& entries = listModel->entries();
        QElapsedTimer clock;
        clock.start();
        qsizetype n = 0;
        try {
            // A transaction of the connection's own table only: the database file is not
            // locked by it.
            db.execute(QStringLiteral("BEGIN"));
            while (n < limit && (n == 0 || clock.elapsed() < batchMs)) {
                const qsizetype from = q->done + n;
                const qsizetype chunk = std::min(chunkRows, limit - n);
                db.executeEach(
                    QStringLiteral("insert into temp.OutboxQueueing (RecipientMobileNo,Message) "
                                   "values (?,?)"),
                    chunk, [&](qsizetype k) {
                        const ImportEntry& e = entries[q->rows[static_cast<size_t>(from + k)]];
                        return QVariantList{trimSpacesOnly(e.number),
                                            IsCommonSMS ? q->message : trimSpacesOnly(e.message)};
                    });
                n += chunk;
            }
            db.execute(QStringLiteral("COMMIT"));
            q->done += n;
        } catch (const DbError& e) {
            error = e.description();
            try {
                db.execute(QStringLiteral("ROLLBACK"));
            } catch (const DbError&) {
            }
        }
        if (q->progress) q->progress->setProgress(q->done, total);
        if (error.isEmpty() && !q->cancelled && q->done < total) {
            QTimer::singleShot(0, this, [this, q] { queueBatch(q); });
            return;
        }
    }
    // Every row in, or none.
    if (error.isEmpty() && !q->cancelled) {
        try {
            db.transaction([&] {
                db.execute(QStringLiteral("insert into Message_OutBox "
                                          "(RecipientMobileNo,Message,OutBoxDateTime,SendAfter) "
                                          "select RecipientMobileNo,Message,?,? from "
                                          "temp.OutboxQueueing order by rowid"),
                           {q->at, q->sendAfter});
            });
        } catch (const DbError& e) {
            error = e.description();
        }
    }
    takeOutQueued(*q);
    if (q->progress) q->progress->done();
    queueing_.reset();
    wizard().setBusy(false);
    if (!error.isEmpty()) {
        ui::MsgBox(error + QStringLiteral("\n\nNothing was put in the Out box."), ui::Icon::None);
        return;
    }
    if (q->cancelled) {
        ui::MsgBox(QStringLiteral("Sending was cancelled: nothing was put in the Out box."),
                   ui::Icon::None);
        return;
    }
    ui::MsgBox(QStringLiteral("Message has been sent successfully to Out box."), ui::Icon::None);
    AppContext& c = ctx();
    wizard().unload(5);
    RefreshMessageBoxIfOpen(c);
}

void Frm_BulkSMS_Step5::cmdNext_Click() {
    try {
        QString message;
        if (IsCommonSMS) {
            // Lines end in CR LF, as in the messages read from files.
            message = trimSpacesOnly(
                txtMessage->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n")));
            if (message.isEmpty()) {
                ui::MsgBox(QStringLiteral("Please enter message."), ui::Icon::None);
                return;
            }
        }
        if (listModel->tickedCount() == 0) {
            ui::MsgBox(QStringLiteral("Please select mobile number from list."), ui::Icon::None);
            return;
        }
        if (!messagesCarriable(message)) return;
        if (wizard().isBusy()) return;
        queueTicked(message);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_BulkSMS_Step5::cmdBack_Click() {
    BulkWizard& w = wizard();
    const Source source = sourceOf(SourceFile);
    w.unload(5);
    switch (source) {
    case Source::Excel:
        w.show(4);
        break;
    case Source::Access:
        w.show(3);
        break;
    default:
        w.show(2);
        break;
    }
}

void Frm_BulkSMS_Step5::cmdClose_Click() {
    wizard().unload(5);
}
