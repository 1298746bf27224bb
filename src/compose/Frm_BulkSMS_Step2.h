#pragma once

#include "compose/BulkWizard.h"

#include <functional>

class QComboBox;
class QLineEdit;
class QRadioButton;

// Bulk wizard, step 2: the kind of source (text, Access or Excel file), how a text file
// separates its numbers, and the file.
class Frm_BulkSMS_Step2 : public BulkWizardStep {
    Q_OBJECT
public:
    explicit Frm_BulkSMS_Step2(BulkWizard& wizard);

    void Form_Load() override;

    void OptTxt_Click();
    void OptAccess_Click();
    void OptExcel_Click();
    void OptNoOnNewLine_Click();
    void OptNoSeperatedBy_Click();
    void cmdBrowse_Click();
    void cmdNext_Click();
    void cmdClose_Click();

    // The file-open dialog: returns the chosen path, or "" when cancelled. Tests replace
    // it.
    using FileDialog =
        std::function<QString(QWidget* parent, const QString& folder, const QString& filter)>;
    static void setFileDialog(FileDialog dialog);

    QLabel* Label1;
    QRadioButton* OptTxt;
    QRadioButton* OptAccess;
    QRadioButton* OptExcel;
    QRadioButton* OptNoOnNewLine;
    QRadioButton* OptNoSeperatedBy;
    QComboBox* cmbNoSeperatedBy;
    QLabel* Label2;
    QLineEdit* txtFileName;
    QPushButton* cmdBrowse;
};
