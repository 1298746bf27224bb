#include "compose/Frm_BulkSMS_Step5.h"

#include "compose/ImportSource.h"
#include "compose/NumberListModel.h"
#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "engine/Dispatcher.h"
#include "modem/SmsText.h"
#include "ui/BackgroundWork.h"
#include "ui/Ui.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// Rows per transaction when queueing: big enough to be fast, small enough that the
// windows stay live between batches.
constexpr qsizetype queueBatch = 2000;
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
    auto* fv = new QVBoxLayout(Frame1);
    fv->addWidget(Label2);
    fv->addWidget(txtMessage);

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

    connect(Check1, &QCheckBox::clicked, this, &Frm_BulkSMS_Step5::Check1_Click);
    connect(listModel, &NumberListModel::itemChecked, this,
            &Frm_BulkSMS_Step5::ListNumbers_ItemCheck);
    // The box takes at most 160 characters, as typed or pasted.
    connect(txtMessage, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = txtMessage->toPlainText();
        if (text.size() <= maxMessageLength) return;
        QTextCursor c = txtMessage->textCursor();
        const int pos = std::min(c.position(), maxMessageLength);
        txtMessage->setPlainText(text.left(maxMessageLength));
        c = txtMessage->textCursor();
        c.setPosition(pos);
        txtMessage->setTextCursor(c);
    });
    connect(cmdNext, &QPushButton::clicked, this, &Frm_BulkSMS_Step5::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &Frm_BulkSMS_Step5::cmdBack_Click);
    connect(cmdClose, &QPushButton::clicked, this, &Frm_BulkSMS_Step5::cmdClose_Click);
}

Frm_BulkSMS_Step5::Source Frm_BulkSMS_Step5::sourceOf(const QString& path) {
    // Told by the file's name as the program writes it, not by the folders above it.
    const QString name = QFileInfo(path).fileName();
    if (name.contains(QLatin1String(".txt"))) return Source::Text;
    if (name.contains(QLatin1String(".xls"))) return Source::Excel;
    if (name.contains(QLatin1String(".mdb"))) return Source::Access;
    return Source::None;
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

    const QString path = trimSpacesOnly(SourceFile);
    const auto s3 = w.fromStep3;
    const auto s4 = w.fromStep4;
    const QString separator = w.fromStep2.NoSeperatedBy;
    ImportResult result;
    try {
        result = ui::computeInBackground<ImportResult>(
            QStringLiteral("Reading the numbers from %1...").arg(QFileInfo(path).fileName()),
            [&](WorkProgress& progress) {
                switch (source) {
                case Source::Text:
                    return readTextNumbers(path, separator, &progress);
                case Source::Access: {
                    auto db = openAccessDatabase(path);
                    return readTableEntries(*db, s3.tableName, s3.FieldName, s3.SMSColumnName,
                                            &progress);
                }
                default: {
                    auto book = openWorkbook(path);
                    return readTableEntries(*book, s4.SheetName, s4.ColumnName, s4.SMSColumnName,
                                            &progress);
                }
                }
            },
            wizard().owner());
    } catch (const SourceError& e) {
        result.error = e.description();
    } catch (const std::exception& e) {
        result.error = QString::fromStdString(e.what());
    }
    listModel->setEntries(std::move(result.entries), !IsCommonSMS);
    ListNumbers->setColumnWidth(0, ui::twips(2500));
    showCounts();
    if (!result.error.isEmpty()) ui::MsgBox(result.error);
    else if (!result.stopped.isEmpty()) ui::MsgBox(result.stopped);
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
    const QString setName = set.isEmpty() ? QStringLiteral("ASCII") : set;
    if (IsCommonSMS) {
        const QString bad = uncarriableCharacters(commonMessage, set);
        if (bad.isEmpty()) return true;
        ui::MsgBox(QStringLiteral("The message cannot be sent in the modem's character set (%1): "
                                  "it holds %2. Please change the message; nothing was put in "
                                  "the Out box.")
                       .arg(setName, describeCharacters(bad)));
        txtMessage->setFocus();
        return false;
    }
    QStringList lines;
    qsizetype refused = 0;
    const QList<ImportEntry>& entries = listModel->entries();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!listModel->isTicked(i)) continue;
        const QString bad = uncarriableCharacters(trimSpacesOnly(entries[i].message), set);
        if (bad.isEmpty()) continue;
        if (++refused <= refusedShown)
            lines << QStringLiteral("%1 (entry %2): %3")
                         .arg(entries[i].number)
                         .arg(i + 1)
                         .arg(describeCharacters(bad));
        listModel->setTicked(i, false);
    }
    if (refused == 0) return true;
    if (refused > refusedShown)
        lines << QStringLiteral("... and %1 more.").arg(refused - refusedShown);
    showCounts();
    ui::MsgBox(QStringLiteral("%1 of the messages cannot be sent in the modem's character set "
                              "(%2), so nothing was put in the Out box:\n\n%3\n\nThese entries "
                              "are now unticked: change their messages in the file, or press "
                              "Send again to queue the others.")
                   .arg(refused)
                   .arg(setName, lines.join(QLatin1Char('\n'))));
    return false;
}

bool Frm_BulkSMS_Step5::queueTicked(const QString& commonMessage) {
    std::vector<qsizetype> rows;
    rows.reserve(static_cast<size_t>(listModel->tickedCount()));
    for (qsizetype i = 0; i < listModel->size(); ++i)
        if (listModel->isTicked(i)) rows.push_back(i);
    const qsizetype total = static_cast<qsizetype>(rows.size());
    const QList<ImportEntry>& entries = listModel->entries();
    Database& db = ctx().DBConnection;
    const QString insert = QStringLiteral(
        "insert into Message_OutBox (RecipientMobileNo,Message,OutBoxDateTime) values (?,?,?)");

    ui::StepProgress progress(QStringLiteral("Putting the messages in the Out box..."), total,
                              this);
    qsizetype queued = 0;
    QString error;
    for (qsizetype first = 0; first < total && error.isEmpty(); first += queueBatch) {
        const qsizetype n = std::min(queueBatch, total - first);
        const QString now = nowText();
        qsizetype ran = 0;
        try {
            db.execute(QStringLiteral("BEGIN IMMEDIATE"));
            try {
                db.executeEach(
                    insert, n,
                    [&](qsizetype k) {
                        const ImportEntry& e = entries[rows[static_cast<size_t>(first + k)]];
                        return QVariantList{trimSpacesOnly(e.number),
                                            IsCommonSMS ? commonMessage : trimSpacesOnly(e.message),
                                            now};
                    },
                    &ran);
            } catch (const DbError& e) {
                error = e.description();
            }
            // Rows saved before an error stay saved.
            db.execute(QStringLiteral("COMMIT"));
            queued += ran;
        } catch (const DbError& e) {
            try {
                db.execute(QStringLiteral("ROLLBACK"));
            } catch (const DbError&) {
                // No transaction was left open.
            }
            if (error.isEmpty()) error = e.description();
        }
        // Between batches the windows and the program's timers run.
        if (error.isEmpty()) progress.step(queued);
    }
    if (error.isEmpty()) return true;

    // What went in stays in; unticking it keeps a second Send from queueing it twice.
    for (qsizetype k = 0; k < queued; ++k)
        listModel->setTicked(rows[static_cast<size_t>(k)], false);
    showCounts();
    if (queued > 0) RefreshMessageBoxIfOpen(ctx());
    ui::MsgBox(queued == 0 ? error
                           : error + QStringLiteral("\n\n%1 of the %2 messages were put in the "
                                                    "Out box before this error and are now "
                                                    "unticked.")
                                         .arg(queued)
                                         .arg(total));
    return false;
}

void Frm_BulkSMS_Step5::cmdNext_Click() {
    try {
        QString message;
        if (IsCommonSMS) {
            // Lines end in CR LF, as in the messages read from files.
            message = trimSpacesOnly(
                txtMessage->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n")));
            if (message.isEmpty()) {
                ui::MsgBox(QStringLiteral("Please enter message."));
                return;
            }
        }
        if (listModel->tickedCount() == 0) {
            ui::MsgBox(QStringLiteral("Please select mobile number from list."));
            return;
        }
        if (!messagesCarriable(message)) return;
        if (!queueTicked(message)) return;
        ui::MsgBox(QStringLiteral("Message has been sent successfully to Out box."));
        AppContext& c = ctx();
        wizard().unload(5);
        RefreshMessageBoxIfOpen(c);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
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
