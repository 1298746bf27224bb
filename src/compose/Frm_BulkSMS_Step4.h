#pragma once

#include "compose/BulkWizard.h"


class QComboBox;
class QRadioButton;
class QTableWidget;
struct ImportRequest;

// Bulk wizard, step 4: the sheet of an Excel workbook, its column of mobile numbers
// and, for separate messages, its column of messages, with a preview of the first
// records.
class Frm_BulkSMS_Step4 : public BulkWizardStep {
    Q_OBJECT
public:
    explicit Frm_BulkSMS_Step4(BulkWizard& wizard);
    ~Frm_BulkSMS_Step4() override;

    void Form_Load() override;
    void Form_Unload() override;

    void CmbSheetName_Click();
    void cmbColumnName_Click();
    void cmbSMSField_Click();
    void optCommonSMS_Click();
    void optSeparateSMS_Click();
    void cmdNext_Click();
    void cmdBack_Click();
    void cmdClose_Click();

    QLabel* Label1;
    QLabel* Label3;
    QComboBox* CmbSheetName;
    QLabel* Label2;
    QComboBox* cmbColumnName;
    QLabel* Label4;
    QTableWidget* MshRecords;
    QLabel* Label5;
    QRadioButton* optCommonSMS;
    QRadioButton* optSeparateSMS;
    QLabel* Label6;
    QComboBox* cmbSMSField;

private:
    // Fills the preview grid with the first four records of the chosen column(s).
    void showPreview(bool withMessages);
    // A step of reading the chosen sheet (an ImportRequest::Step).
    ImportRequest request(int step) const;
};
