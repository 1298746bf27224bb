#pragma once

#include "compose/BulkWizard.h"

class NumberListModel;
class QCheckBox;
class QGroupBox;
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
    QLabel* Label2;
    QPlainTextEdit* txtMessage;

    // The file the numbers come from (decides the reader and where Back leads).
    QString SourceFile;
    // One typed message for every number (true), or each entry's own message.
    bool IsCommonSMS = true;

private:
    enum class Source { None, Text, Access, Excel };
    static Source sourceOf(const QString& path);
    void showCounts();
    // Refuses messages that the modem's character set cannot carry; true when all can go.
    bool messagesCarriable(const QString& commonMessage);
    // Appends one Outbox row per ticked entry, in batches; false after an error.
    bool queueTicked(const QString& commonMessage);
};
