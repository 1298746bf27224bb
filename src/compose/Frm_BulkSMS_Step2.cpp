#include "compose/Frm_BulkSMS_Step2.h"

#include "compose/ImportReader.h"
#include "compose/ImportSource.h"
#include "core/AppContext.h"
#include "ui/Ui.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

Frm_BulkSMS_Step2::FileDialog& fileDialog() {
    static Frm_BulkSMS_Step2::FileDialog dialog;
    return dialog;
}

} // namespace

void Frm_BulkSMS_Step2::setFileDialog(FileDialog dialog) {
    fileDialog() = std::move(dialog);
}

Frm_BulkSMS_Step2::Frm_BulkSMS_Step2(BulkWizard& wizard)
    : BulkWizardStep(wizard, 2, QStringLiteral("&Next >>")) {
    Label1 = new QLabel(QStringLiteral("Select Source File"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont f = Label1->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    Label1->setFont(f);

    auto radio = [this](const char* name, const QString& caption) {
        auto* r = new QRadioButton(caption, this);
        r->setObjectName(QLatin1String(name));
        return r;
    };
    OptTxt = radio("OptTxt", QStringLiteral("From Text File"));
    OptAccess = radio("OptAccess", QStringLiteral("From MS Access File"));
    OptExcel = radio("OptExcel", QStringLiteral("From MS Excel File"));
    OptNoOnNewLine = radio("OptNoOnNewLine", QStringLiteral("Each number is on new line"));
    OptNoSeperatedBy = radio("OptNoSeperatedBy", QStringLiteral("Numbers are seperated by:"));
    auto* group1 = new QButtonGroup(this);
    for (auto* r : {OptTxt, OptAccess, OptExcel})
        group1->addButton(r);
    auto* group2 = new QButtonGroup(this);
    for (auto* r : {OptNoOnNewLine, OptNoSeperatedBy})
        group2->addButton(r);

    cmbNoSeperatedBy = new QComboBox(this);
    cmbNoSeperatedBy->setObjectName(QStringLiteral("cmbNoSeperatedBy"));
    cmbNoSeperatedBy->addItems({QStringLiteral(","), QStringLiteral(";"), QStringLiteral("~"),
                                QStringLiteral("^"), QStringLiteral(":")});
    Label2 = new QLabel(QStringLiteral("File :"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    txtFileName = new QLineEdit(this);
    txtFileName->setObjectName(QStringLiteral("txtFileName"));
    cmdBrowse = new QPushButton(QStringLiteral("Browse"), this);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));

    ui::labelField(Label2, txtFileName);
    cmbNoSeperatedBy->setAccessibleName(ui::fieldName(OptNoSeperatedBy->text()));

    auto* sources = new QGroupBox(this);
    auto* sv = new QVBoxLayout(sources);
    sv->addWidget(OptTxt);
    auto* textLayout = new QVBoxLayout;
    textLayout->setContentsMargins(24, 0, 0, 0);
    textLayout->addWidget(OptNoOnNewLine);
    auto* sepRow = new QHBoxLayout;
    sepRow->addWidget(OptNoSeperatedBy);
    sepRow->addWidget(cmbNoSeperatedBy);
    sepRow->addStretch();
    textLayout->addLayout(sepRow);
    sv->addLayout(textLayout);
    sv->addWidget(OptAccess);
    sv->addWidget(OptExcel);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(Label2);
    fileRow->addWidget(txtFileName, 1);
    fileRow->addWidget(cmdBrowse);
    body()->addWidget(Label1);
    body()->addSpacing(12);
    body()->addWidget(sources);
    body()->addSpacing(12);
    body()->addLayout(fileRow);
    body()->addStretch();

    connect(OptTxt, &QRadioButton::clicked, this, &Frm_BulkSMS_Step2::OptTxt_Click);
    connect(OptAccess, &QRadioButton::clicked, this, &Frm_BulkSMS_Step2::OptAccess_Click);
    connect(OptExcel, &QRadioButton::clicked, this, &Frm_BulkSMS_Step2::OptExcel_Click);
    connect(OptNoOnNewLine, &QRadioButton::clicked, this, &Frm_BulkSMS_Step2::OptNoOnNewLine_Click);
    connect(OptNoSeperatedBy, &QRadioButton::clicked, this,
            &Frm_BulkSMS_Step2::OptNoSeperatedBy_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &Frm_BulkSMS_Step2::cmdBrowse_Click);
    connect(cmdNext, &QPushButton::clicked, this, &Frm_BulkSMS_Step2::cmdNext_Click);
    connect(cmdClose, &QPushButton::clicked, this, &Frm_BulkSMS_Step2::cmdClose_Click);
}

void Frm_BulkSMS_Step2::Form_Load() {
    try {
        BulkWizardStep::Form_Load();
        OptTxt->setChecked(true);
        OptNoSeperatedBy->setChecked(true);
        cmbNoSeperatedBy->setCurrentIndex(-1);
        OptTxt_Click();
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void Frm_BulkSMS_Step2::OptTxt_Click() {
    txtFileName->clear();
    OptNoOnNewLine->setEnabled(true);
    OptNoSeperatedBy->setEnabled(true);
    cmbNoSeperatedBy->setEnabled(OptNoSeperatedBy->isChecked());
}

void Frm_BulkSMS_Step2::OptAccess_Click() {
    txtFileName->clear();
    OptNoOnNewLine->setEnabled(false);
    OptNoSeperatedBy->setEnabled(false);
    cmbNoSeperatedBy->setEnabled(false);
}

void Frm_BulkSMS_Step2::OptExcel_Click() {
    OptAccess_Click();
}

void Frm_BulkSMS_Step2::OptNoOnNewLine_Click() {
    cmbNoSeperatedBy->setEnabled(false);
}

void Frm_BulkSMS_Step2::OptNoSeperatedBy_Click() {
    cmbNoSeperatedBy->setEnabled(true);
}

void Frm_BulkSMS_Step2::cmdBrowse_Click() {
    try {
        QString filter;
        // Names in any case.
        if (OptAccess->isChecked())
            filter = QStringLiteral("MDB Files (*.mdb *.MDB)");
        else if (OptExcel->isChecked())
            filter = QStringLiteral("Excel Files (*.xls *.xlsx *.XLS *.XLSX);;XLS Files (*.xls "
                                    "*.XLS);;XLSX Files (*.xlsx *.XLSX)");
        else
            filter = QStringLiteral("TXT Files (*.txt *.TXT)");
        const QString folder = ctx().programFolder();
        const QString chosen = fileDialog()
                                   ? fileDialog()(this, folder, filter)
                                   : QFileDialog::getOpenFileName(this, QString(), folder, filter);
        // Cancelled: everything stays as it was.
        if (chosen.isEmpty()) return;
        wizard().fromStep2.SelectedfileName = chosen;
        txtFileName->setText(trimSpacesOnly(chosen));
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void Frm_BulkSMS_Step2::cmdNext_Click() {
    try {
        const QString file = trimSpacesOnly(txtFileName->text());
        if (file.isEmpty()) {
            ui::MsgBox(QStringLiteral("Please select file."));
            cmdBrowse->setFocus();
            return;
        }
        const bool separated = OptTxt->isChecked() && OptNoSeperatedBy->isChecked();
        if (separated && cmbNoSeperatedBy->currentText().isEmpty()) {
            ui::MsgBox(QStringLiteral("Plese select 'Numbers are seperated by' from combo box."));
            cmbNoSeperatedBy->setFocus();
            return;
        }
        BulkWizard& w = wizard();
        w.fromStep2.NoSeperatedBy = separated ? cmbNoSeperatedBy->currentText() : QString();
        if (!QFileInfo(file).isFile()) {
            ui::MsgBox(QStringLiteral("This file does not exist!!!"));
            txtFileName->setFocus();
            return;
        }
        w.fromStep2.SelectedfileName = file;
        // The kind of file is told by its name (not by the folders it lies in), in any
        // case: LIST.TXT is a text file.
        const QString name = QFileInfo(file).fileName().toLower();
        auto refuse = [this](const QString& message) {
            ui::MsgBox(message);
            txtFileName->setFocus();
        };
        if (OptTxt->isChecked()) {
            if (!name.contains(QLatin1String(".txt")))
                return refuse(QStringLiteral("Please enter or select Text file only."));
            w.unload(5);
            w.hide(2);
            w.show(5);
            return;
        }
        const bool access = OptAccess->isChecked();
        if (access && !name.contains(QLatin1String(".mdb")))
            return refuse(QStringLiteral("Please enter or select Access file only."));
        if (!access && !name.contains(QLatin1String(".xls")))
            return refuse(QStringLiteral("Please enter or select Excel file only."));
        // The file's tables or sheets are listed before its step opens: a file that cannot
        // be read keeps the wizard here.
        ImportRequest list;
        list.step = ImportRequest::Step::Tables;
        list.source = access ? ImportRequest::Source::Access : ImportRequest::Source::Excel;
        list.path = file;
        QPointer<Frm_BulkSMS_Step2> self(this);
        w.read(list, this, QStringLiteral("Opening %1...").arg(QFileInfo(file).fileName()),
               [self, access, &w](ImportReader& r) {
                   if (r.outcome() == ImportReader::Outcome::Cancelled) return;
                   if (r.outcome() != ImportReader::Outcome::Done) {
                       ui::MsgBox(r.error());
                       if (self) self->txtFileName->setFocus();
                       return;
                   }
                   w.listedTables = r.names();
                   const int step = access ? 3 : 4;
                   w.hide(2);
                   // A step left from an earlier visit takes this step with it.
                   w.unload(step);
                   w.show(step);
               });
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void Frm_BulkSMS_Step2::cmdClose_Click() {
    wizard().unload(2);
}
