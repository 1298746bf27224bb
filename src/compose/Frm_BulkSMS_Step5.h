#pragma once

#include "compose/BulkWizard.h"

#include <memory>
#include <vector>

class Frm_ImportProgress;
class ImportReader;
class NumberListModel;
class QCheckBox;
class QGroupBox;
class SendAtChooser;
class QPlainTextEdit;
class QTreeView;

// Bulk wizard, step 5: the numbers found in the chosen file, ticked, and the common
// message; Send puts one Outbox row per ticked number.
class Frm_BulkSMS_Step5 : public BulkWizardStep {
    Q_OBJECT
public:
    explicit Frm_BulkSMS_Step5(BulkWizard& wizard);

    // Reads the numbers from the file chosen in the earlier steps.
    void Form_Load() override;

    void Check1_Click();
    void ListNumbers_ItemCheck(qsizetype row, bool ticked);
    void cmdNext_Click();
    void cmdBack_Click();
    void cmdClose_Click();

    // The longest common message the box takes.
    static constexpr int maxMessageLength = 160;

    QLabel* Label1;
    QLabel* lblNoItems;
    QLabel* Label4;
    QLabel* lblSelectedItems;
    QCheckBox* Check1;
    QTreeView* ListNumbers;
    NumberListModel* listModel;
    QGroupBox* Frame1; // "Compose Common SMS"
    SendAtChooser* fraSendAt; // "Send at": now, or a date and time
    QLabel* Label2;
    QPlainTextEdit* txtMessage;
    // What the common message takes in the modem's message format.
    QLabel* lblCount;

    // The file the numbers come from (decides the reader and where Back leads).
    QString SourceFile;
    // One typed message for every number (true), or each entry's own message.
    bool IsCommonSMS = true;

private:
    enum class Source { None, Text, Access, Excel };
    static Source sourceOf(const QString& path);
    void showCounts();
    // Keeps the common message within one message's limit and shows its counter.
    void limitMessageLength();
    bool pduMode_ = false;
    QString characterSet_;
    // Refuses messages that the modem's character set cannot carry; true when all can go.
    bool messagesCarriable(const QString& commonMessage);
    // Lists what the reader found, or goes back to the file step.
    void entriesRead(ImportReader& reader);
    // One Send: the ticked entries and how far their queueing has got.
    struct Queueing {
        std::vector<qsizetype> rows;
        QString message;
        QString at;
        QVariant sendAfter; // null: at once
        qsizetype done = 0;
        bool cancelled = false;
        QPointer<Frm_ImportProgress> progress;
    };
    // Appends one Outbox row per ticked entry, all or none, with progress and Cancel.
    void queueTicked(const QString& commonMessage);
    void queueBatch(const std::shared_ptr<Queueing>& q);
    // Forgets the rows a Send gathered so far; returns the error, if any.
    QString takeOutQueued(const Queueing& q);
    std::shared_ptr<Queueing> queueing_;

public:
    void Form_Unload() override;
};
