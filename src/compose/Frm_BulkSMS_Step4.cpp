#include "compose/Frm_BulkSMS_Step4.h"

#include "compose/ImportReader.h"
#include "compose/ImportSource.h"
#include "core/AppContext.h"
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

    ui::labelField(Label3, CmbSheetName);
    ui::labelField(Label2, cmbColumnName);
    ui::labelField(Label4, MshRecords);
    ui::labelField(Label6, cmbSMSField);

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

ImportRequest Frm_BulkSMS_Step4::request(int step) const {
    ImportRequest r;
    r.step = static_cast<ImportRequest::Step>(step);
    r.source = ImportRequest::Source::Excel;
    r.path = wizard().fromStep2.SelectedfileName;
    const QString real = CmbSheetName->currentData().toString();
    r.table = real.isNull() ? CmbSheetName->currentText() : real;
    return r;
}

void Frm_BulkSMS_Step4::Form_Load() {
    BulkWizardStep::Form_Load();
    optCommonSMS->setChecked(true);
    Label6->setVisible(false);
    cmbSMSField->setVisible(false);
    BulkWizard& w = wizard();
    auto fill = [this](const QStringList& sheets) {
        // Shown without "$" and surrounding spaces; the real name is kept with the entry.
        for (const QString& sheet : sheets)
            CmbSheetName->addItem(displayedSheetName(sheet), sheet);
        CmbSheetName->setCurrentIndex(-1);
    };
    if (!w.listedTables.isEmpty()) return fill(std::exchange(w.listedTables, {}));
    // Loaded afresh (Back from step 5): the sheets are listed again.
    ImportRequest list = request(static_cast<int>(ImportRequest::Step::Tables));
    list.table.clear();
    QPointer<Frm_BulkSMS_Step4> self(this);
    w.read(list, this, QStringLiteral("Opening %1...").arg(QFileInfo(list.path).fileName()),
           [self, fill, &w](ImportReader& r) {
               if (!self) return;
               if (r.outcome() == ImportReader::Outcome::Done) return fill(r.names());
               if (r.outcome() == ImportReader::Outcome::Failed) ui::MsgBox(r.error());
               w.backToFileStep();
           });
}

void Frm_BulkSMS_Step4::Form_Unload() {
    BulkWizardStep::Form_Unload();
}

void Frm_BulkSMS_Step4::CmbSheetName_Click() {
    cmbColumnName->clear();
    cmbSMSField->clear();
    const QString sheet = trimSpacesOnly(CmbSheetName->currentText());
    if (sheet.isEmpty()) return;
    QPointer<Frm_BulkSMS_Step4> self(this);
    wizard().read(request(static_cast<int>(ImportRequest::Step::Columns)), this,
                  QStringLiteral("Reading the columns of %1...").arg(sheet),
                  [self](ImportReader& r) {
                      if (!self || r.outcome() == ImportReader::Outcome::Cancelled) return;
                      if (r.outcome() != ImportReader::Outcome::Done) return void(ui::MsgBox(r.error()));
                      self->cmbColumnName->addItems(r.names());
                      self->cmbSMSField->addItems(r.names());
                      self->cmbColumnName->setCurrentIndex(-1);
                      self->cmbSMSField->setCurrentIndex(-1);
                  });
}

void Frm_BulkSMS_Step4::showPreview(bool withMessages) {
    MshRecords->clearContents();
    MshRecords->setRowCount(0);
    MshRecords->setColumnCount(withMessages ? 2 : 1);
    MshRecords->setHorizontalHeaderLabels(
        {QStringLiteral("Records found"), QStringLiteral("Messages")});
    MshRecords->setColumnWidth(0, ui::twips(1500));
    if (withMessages) MshRecords->setColumnWidth(1, ui::twips(3500));
    // Only the header row and the first four records are read.
    ImportRequest preview = request(static_cast<int>(ImportRequest::Step::Preview));
    preview.numberColumn = trimSpacesOnly(cmbColumnName->currentText());
    preview.messageColumn = withMessages ? trimSpacesOnly(cmbSMSField->currentText()) : QString();
    preview.records = previewRecords;
    QPointer<Frm_BulkSMS_Step4> self(this);
    wizard().read(
        preview, this, QStringLiteral("Reading %1...").arg(CmbSheetName->currentText()),
        [self, withMessages](ImportReader& r) {
            if (!self || r.outcome() == ImportReader::Outcome::Cancelled) return;
            if (r.outcome() != ImportReader::Outcome::Done) return void(ui::MsgBox(r.error()));
            QTableWidget* grid = self->MshRecords;
            const QList<ImportEntry>& rows = r.entries();
            grid->setRowCount(static_cast<int>(rows.size()));
            for (int i = 0; i < rows.size(); ++i) {
                grid->setItem(i, 0, new QTableWidgetItem(rows[i].number));
                if (withMessages) grid->setItem(i, 1, new QTableWidgetItem(rows[i].message));
            }
            // Long numbers are shown whole.
            grid->resizeColumnToContents(0);
            grid->setColumnWidth(0, std::max(grid->columnWidth(0), ui::twips(1500)));
        });
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
        w.fromStep4.realSheetName = CmbSheetName->currentData().toString();
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
