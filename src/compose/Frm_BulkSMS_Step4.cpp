#include "compose/Frm_BulkSMS_Step4.h"

#include "compose/ImportSource.h"
#include "core/AppContext.h"
#include "ui/BackgroundWork.h"
#include "ui/Ui.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int previewRecords = 4;

void showError(const std::exception& e) {
    if (const auto* s = dynamic_cast<const SourceError*>(&e))
        ui::MsgBox(s->description());
    else
        ui::MsgBox(QString::fromStdString(e.what()));
}

} // namespace

Frm_BulkSMS_Step4::Frm_BulkSMS_Step4(BulkWizard& wizard)
    : BulkWizardStep(wizard, 4, QStringLiteral("&Next >>")) {
    auto label = [this](const char* name, const QString& caption) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    auto combo = [this](const char* name) {
        auto* c = new QComboBox(this);
        c->setObjectName(QLatin1String(name));
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        return c;
    };
    Label1 = label("Label1", QStringLiteral("Select sheet and column's names"));
    QFont f = Label1->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    Label1->setFont(f);
    Label3 = label("Label3", QStringLiteral("Sheet Name :"));
    CmbSheetName = combo("CmbSheetName");
    Label2 = label("Label2", QStringLiteral("Mobile Numbers Columns Name :"));
    cmbColumnName = combo("cmbColumnName");
    Label4 = label("Label4", QStringLiteral("First four records of selected sheet and column :"));
    MshRecords = new QTableWidget(0, 1, this);
    MshRecords->setObjectName(QStringLiteral("MshRecords"));
    MshRecords->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MshRecords->verticalHeader()->setVisible(false);
    MshRecords->setHorizontalHeaderLabels({QStringLiteral("Records found")});
    MshRecords->setColumnWidth(0, ui::twips(2000));
    MshRecords->setMaximumHeight(ui::twips(2000));
    Label5 = label("Label5", QStringLiteral("SMS Delivery :"));
    optCommonSMS = new QRadioButton(QStringLiteral("Common SMS To All Numbers"), this);
    optCommonSMS->setObjectName(QStringLiteral("optCommonSMS"));
    optSeparateSMS = new QRadioButton(QStringLiteral("Separate SMS To Each Number"), this);
    optSeparateSMS->setObjectName(QStringLiteral("optSeparateSMS"));
    auto* group = new QButtonGroup(this);
    group->addButton(optCommonSMS);
    group->addButton(optSeparateSMS);
    Label6 =
        label("Label6", QStringLiteral("Select the field where SMS is stored for each number:"));
    Label6->setWordWrap(true);
    cmbSMSField = combo("cmbSMSField");

    auto* grid = new QGridLayout;
    grid->addWidget(Label3, 0, 0);
    grid->addWidget(CmbSheetName, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(cmbColumnName, 1, 1);
    grid->addWidget(Label4, 2, 0, 1, 2);
    grid->addWidget(MshRecords, 3, 0, 1, 2);
    grid->addWidget(Label5, 4, 0);
    grid->addWidget(optCommonSMS, 4, 1);
    grid->addWidget(optSeparateSMS, 5, 1);
    grid->addWidget(Label6, 6, 0, 1, 2);
    grid->addWidget(cmbSMSField, 7, 1);
    grid->setColumnStretch(1, 1);
    body()->addWidget(Label1);
    body()->addSpacing(12);
    body()->addLayout(grid);
    body()->addStretch();

    connect(CmbSheetName, &QComboBox::activated, this, &Frm_BulkSMS_Step4::CmbSheetName_Click);
    connect(cmbColumnName, &QComboBox::activated, this, &Frm_BulkSMS_Step4::cmbColumnName_Click);
    connect(cmbSMSField, &QComboBox::activated, this, &Frm_BulkSMS_Step4::cmbSMSField_Click);
    connect(optCommonSMS, &QRadioButton::clicked, this, &Frm_BulkSMS_Step4::optCommonSMS_Click);
    connect(optSeparateSMS, &QRadioButton::clicked, this, &Frm_BulkSMS_Step4::optSeparateSMS_Click);
    connect(cmdNext, &QPushButton::clicked, this, &Frm_BulkSMS_Step4::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &Frm_BulkSMS_Step4::cmdBack_Click);
    connect(cmdClose, &QPushButton::clicked, this, &Frm_BulkSMS_Step4::cmdClose_Click);
}

Frm_BulkSMS_Step4::~Frm_BulkSMS_Step4() = default;

void Frm_BulkSMS_Step4::Form_Load() {
    BulkWizardStep::Form_Load();
    optCommonSMS->setChecked(true);
    Label6->setVisible(false);
    cmbSMSField->setVisible(false);
    try {
        SourceConnection.reset();
        const QString path = wizard().fromStep2.SelectedfileName;
        const QStringList sheets = ui::computeInBackground<QStringList>(
            QStringLiteral("Opening %1...").arg(QFileInfo(path).fileName()),
            [&](WorkProgress&) {
                SourceConnection = openWorkbook(path);
                return SourceConnection->tableNames();
            },
            ownerWindow());
        for (const QString& sheet : sheets)
            CmbSheetName->addItem(trimSpacesOnly(QString(sheet).remove(QLatin1Char('$'))));
        CmbSheetName->setCurrentIndex(-1);
    } catch (const std::exception& e) {
        SourceConnection.reset();
        showError(e);
    }
}

void Frm_BulkSMS_Step4::Form_Unload() {
    SourceConnection.reset();
    BulkWizardStep::Form_Unload();
}

void Frm_BulkSMS_Step4::CmbSheetName_Click() {
    cmbColumnName->clear();
    cmbSMSField->clear();
    try {
        const QString sheet = trimSpacesOnly(CmbSheetName->currentText());
        if (sheet.isEmpty()) return;
        if (!SourceConnection) throw SourceError(QStringLiteral("The workbook is not open."));
        const QStringList columns = ui::computeInBackground<QStringList>(
            QStringLiteral("Reading the columns of %1...").arg(sheet),
            [&](WorkProgress&) { return SourceConnection->columnNames(sheet); }, this);
        cmbColumnName->addItems(columns);
        cmbSMSField->addItems(columns);
        cmbColumnName->setCurrentIndex(-1);
        cmbSMSField->setCurrentIndex(-1);
    } catch (const std::exception& e) {
        showError(e);
    }
}

void Frm_BulkSMS_Step4::showPreview(bool withMessages) {
    MshRecords->clearContents();
    MshRecords->setRowCount(0);
    MshRecords->setColumnCount(withMessages ? 2 : 1);
    MshRecords->setHorizontalHeaderLabels(
        {QStringLiteral("Records found"), QStringLiteral("Messages")});
    MshRecords->setColumnWidth(0, ui::twips(1500));
    if (withMessages) MshRecords->setColumnWidth(1, ui::twips(3500));
    if (!SourceConnection) throw SourceError(QStringLiteral("The workbook is not open."));
    const QString sheet = trimSpacesOnly(CmbSheetName->currentText());
    const QString number = trimSpacesOnly(cmbColumnName->currentText());
    const QString message = withMessages ? trimSpacesOnly(cmbSMSField->currentText()) : QString();
    const QList<ImportEntry> rows = ui::computeInBackground<QList<ImportEntry>>(
        QStringLiteral("Reading %1...").arg(sheet),
        [&](WorkProgress&) {
            return previewTableEntries(*SourceConnection, sheet, number, message, previewRecords);
        },
        this);
    MshRecords->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        MshRecords->setItem(r, 0, new QTableWidgetItem(rows[r].number));
        if (withMessages) MshRecords->setItem(r, 1, new QTableWidgetItem(rows[r].message));
    }
    // Long numbers are shown whole.
    MshRecords->resizeColumnToContents(0);
    MshRecords->setColumnWidth(0, std::max(MshRecords->columnWidth(0), ui::twips(1500)));
}

void Frm_BulkSMS_Step4::cmbColumnName_Click() {
    try {
        showPreview(optSeparateSMS->isChecked() &&
                    !trimSpacesOnly(cmbSMSField->currentText()).isEmpty());
    } catch (const std::exception& e) {
        showError(e);
    }
}

void Frm_BulkSMS_Step4::cmbSMSField_Click() {
    try {
        if (trimSpacesOnly(cmbSMSField->currentText()).isEmpty()) return;
        if (trimSpacesOnly(cmbColumnName->currentText()).isEmpty()) {
            ui::MsgBox(QStringLiteral("First select the mobile numbers column"));
            cmbSMSField->setCurrentIndex(-1);
            return;
        }
        showPreview(true);
    } catch (const std::exception& e) {
        showError(e);
    }
}

void Frm_BulkSMS_Step4::optCommonSMS_Click() {
    Label6->setVisible(false);
    cmbSMSField->setVisible(false);
}

void Frm_BulkSMS_Step4::optSeparateSMS_Click() {
    Label6->setVisible(true);
    cmbSMSField->setVisible(true);
}

void Frm_BulkSMS_Step4::cmdNext_Click() {
    try {
        auto refuse = [](QComboBox* box, const QString& message) {
            ui::MsgBox(message);
            box->setFocus();
        };
        if (trimSpacesOnly(CmbSheetName->currentText()).isEmpty())
            return refuse(CmbSheetName, QStringLiteral("Please select Sheet Name."));
        if (trimSpacesOnly(cmbColumnName->currentText()).isEmpty())
            return refuse(cmbColumnName, QStringLiteral("Please select Column Name."));
        const bool separate = optSeparateSMS->isChecked();
        if (separate && trimSpacesOnly(cmbSMSField->currentText()).isEmpty())
            return refuse(cmbSMSField, QStringLiteral("Please select SMS Column Name."));
        BulkWizard& w = wizard();
        w.fromStep4.SheetName = CmbSheetName->currentText();
        w.fromStep4.ColumnName = cmbColumnName->currentText();
        w.fromStep4.SMSColumnName = separate ? cmbSMSField->currentText() : QString();
        w.hide(4);
        w.unload(5);
        w.show(5);
    } catch (const std::exception& e) {
        showError(e);
    }
}

void Frm_BulkSMS_Step4::cmdBack_Click() {
    BulkWizard& w = wizard();
    w.hide(4);
    w.show(2);
}

void Frm_BulkSMS_Step4::cmdClose_Click() {
    wizard().unload(4);
}
