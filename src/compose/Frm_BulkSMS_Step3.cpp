#include "compose/Frm_BulkSMS_Step3.h"

#include "compose/ImportReader.h"
#include "compose/ImportSource.h"
#include "core/AppContext.h"
#include "ui/Ui.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

Frm_BulkSMS_Step3::Frm_BulkSMS_Step3(BulkWizard& wizard)
    : BulkWizardStep(wizard, 3, QStringLiteral("&Next >>")) {
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
    Label1 = label("Label1", QStringLiteral("Select Table And Field Name"));
    QFont f = Label1->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    Label1->setFont(f);
    Label2 = label("Label2", QStringLiteral("Table Name:"));
    cmbTableName = combo("cmbTableName");
    Label3 = label("Label3", QStringLiteral("Mobile Numbers Field Name :"));
    CmbFieldName = combo("CmbFieldName");
    Label4 = label("Label4", QStringLiteral("SMS Delivery :"));
    optCommonSMS = new QRadioButton(QStringLiteral("Common SMS To All Numbers"), this);
    optCommonSMS->setObjectName(QStringLiteral("optCommonSMS"));
    optSeparateSMS = new QRadioButton(QStringLiteral("Separate SMS To Each Number"), this);
    optSeparateSMS->setObjectName(QStringLiteral("optSeparateSMS"));
    auto* group = new QButtonGroup(this);
    group->addButton(optCommonSMS);
    group->addButton(optSeparateSMS);
    Label5 =
        label("Label5", QStringLiteral("Select the field where SMS is stored for each number:"));
    Label5->setWordWrap(true);
    cmbSMSField = combo("cmbSMSField");

    ui::labelField(Label2, cmbTableName);
    ui::labelField(Label3, CmbFieldName);
    ui::labelField(Label5, cmbSMSField);

    auto* grid = new QGridLayout;
    grid->addWidget(Label2, 0, 0);
    grid->addWidget(cmbTableName, 0, 1);
    grid->addWidget(Label3, 1, 0);
    grid->addWidget(CmbFieldName, 1, 1);
    grid->addWidget(Label4, 2, 0);
    grid->addWidget(optCommonSMS, 2, 1);
    grid->addWidget(optSeparateSMS, 3, 1);
    grid->addWidget(Label5, 4, 0, 1, 2);
    grid->addWidget(cmbSMSField, 5, 1);
    grid->setColumnStretch(1, 1);
    body()->addWidget(Label1);
    body()->addSpacing(12);
    body()->addLayout(grid);
    body()->addStretch();

    connect(cmbTableName, &QComboBox::activated, this, &Frm_BulkSMS_Step3::cmbTableName_Click);
    connect(optCommonSMS, &QRadioButton::clicked, this, &Frm_BulkSMS_Step3::optCommonSMS_Click);
    connect(optSeparateSMS, &QRadioButton::clicked, this, &Frm_BulkSMS_Step3::optSeparateSMS_Click);
    connect(cmdNext, &QPushButton::clicked, this, &Frm_BulkSMS_Step3::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &Frm_BulkSMS_Step3::cmdBack_Click);
    connect(cmdClose, &QPushButton::clicked, this, &Frm_BulkSMS_Step3::cmdClose_Click);
}

Frm_BulkSMS_Step3::~Frm_BulkSMS_Step3() = default;

void Frm_BulkSMS_Step3::Form_Load() {
    BulkWizardStep::Form_Load();
    optCommonSMS->setChecked(true);
    Label5->setVisible(false);
    cmbSMSField->setVisible(false);
    BulkWizard& w = wizard();
    auto fill = [this](const QStringList& tables) {
        // Shown as the file writes them; the name is kept with the entry.
        for (const QString& t : tables)
            cmbTableName->addItem(t, t);
        cmbTableName->setCurrentIndex(-1);
    };
    if (!w.listedTables.isEmpty()) return fill(std::exchange(w.listedTables, {}));
    // Loaded afresh (Back from step 5): the tables are listed again.
    ImportRequest list;
    list.step = ImportRequest::Step::Tables;
    list.source = ImportRequest::Source::Access;
    list.path = w.fromStep2.SelectedfileName;
    QPointer<Frm_BulkSMS_Step3> self(this);
    w.read(list, this, QStringLiteral("Opening %1...").arg(QFileInfo(list.path).fileName()),
           [self, fill, &w](ImportReader& r) {
               if (!self) return;
               if (r.outcome() == ImportReader::Outcome::Done) return fill(r.names());
               if (r.outcome() == ImportReader::Outcome::Failed) ui::MsgBox(r.error());
               w.backToFileStep();
           });
}

void Frm_BulkSMS_Step3::Form_Unload() {
    BulkWizardStep::Form_Unload();
}

void Frm_BulkSMS_Step3::cmbTableName_Click() {
    CmbFieldName->clear();
    cmbSMSField->clear();
    const QString table = cmbTableName->currentData().toString();
    if (trimSpacesOnly(cmbTableName->currentText()).isEmpty()) return;
    ImportRequest columns;
    columns.step = ImportRequest::Step::Columns;
    columns.source = ImportRequest::Source::Access;
    columns.path = wizard().fromStep2.SelectedfileName;
    columns.table = table.isNull() ? cmbTableName->currentText() : table;
    QPointer<Frm_BulkSMS_Step3> self(this);
    wizard().read(columns, this,
                  QStringLiteral("Reading the fields of %1...").arg(cmbTableName->currentText()),
                  [self](ImportReader& r) {
                      if (!self || r.outcome() == ImportReader::Outcome::Cancelled) return;
                      if (r.outcome() != ImportReader::Outcome::Done) return void(ui::MsgBox(r.error()));
                      for (const QString& field : r.names()) {
                          self->CmbFieldName->addItem(trimSpacesOnly(field));
                          self->cmbSMSField->addItem(trimSpacesOnly(field));
                      }
                      self->CmbFieldName->setCurrentIndex(-1);
                      self->cmbSMSField->setCurrentIndex(-1);
                  });
}

void Frm_BulkSMS_Step3::optCommonSMS_Click() {
    Label5->setVisible(false);
    cmbSMSField->setVisible(false);
}

void Frm_BulkSMS_Step3::optSeparateSMS_Click() {
    Label5->setVisible(true);
    cmbSMSField->setVisible(true);
}

void Frm_BulkSMS_Step3::cmdNext_Click() {
    try {
        auto refuse = [](QComboBox* box, const QString& message) {
            ui::MsgBox(message);
            box->setFocus();
        };
        if (cmbTableName->currentText().isEmpty())
            return refuse(cmbTableName, QStringLiteral("Please select Table Name."));
        if (CmbFieldName->currentText().isEmpty())
            return refuse(CmbFieldName, QStringLiteral("Please select Field Name."));
        const bool separate = optSeparateSMS->isChecked();
        if (separate && cmbSMSField->currentText().isEmpty())
            return refuse(cmbSMSField, QStringLiteral("Please select SMS Field Name."));
        BulkWizard& w = wizard();
        w.fromStep3.tableName = cmbTableName->currentText();
        w.fromStep3.realTableName = cmbTableName->currentData().toString();
        w.fromStep3.FieldName = CmbFieldName->currentText();
        w.fromStep3.SMSColumnName = separate ? cmbSMSField->currentText() : QString();
        w.hide(3);
        w.unload(5);
        w.show(5);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void Frm_BulkSMS_Step3::cmdBack_Click() {
    BulkWizard& w = wizard();
    w.hide(3);
    w.show(2);
}

void Frm_BulkSMS_Step3::cmdClose_Click() {
    wizard().unload(3);
}
