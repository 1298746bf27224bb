#pragma once

#include "compose/BulkWizard.h"


class QComboBox;
class QRadioButton;

// Bulk wizard, step 3: the table of an Access file, its field of mobile numbers and,
// for separate messages, its field of messages.
class Frm_BulkSMS_Step3 : public BulkWizardStep {
    Q_OBJECT
public:
    explicit Frm_BulkSMS_Step3(BulkWizard& wizard);
    ~Frm_BulkSMS_Step3() override;

    void Form_Load() override;
    void Form_Unload() override;

    void cmbTableName_Click();
    void optCommonSMS_Click();
    void optSeparateSMS_Click();
    void cmdNext_Click();
    void cmdBack_Click();
    void cmdClose_Click();

    QLabel* Label1;
    QLabel* Label2;
    QComboBox* cmbTableName;
    QLabel* Label3;
    QComboBox* CmbFieldName;
    QLabel* Label4;
    QRadioButton* optCommonSMS;
    QRadioButton* optSeparateSMS;
    QLabel* Label5;
    QComboBox* cmbSMSField;
};
