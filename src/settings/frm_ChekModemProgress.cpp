#include "settings/frm_ChekModemProgress.h"

#include "core/AppContext.h"
#include "modem/ModemSearch.h"
#include "settings/Frm_FoundModemPortNumbers.h"
#include "settings/frm_Settings.h"
#include "ui/Ui.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

frm_ChekModemProgress::frm_ChekModemProgress(AppContext& ctx, frm_Settings* settings,
                                             QWidget* parent)
    : QDialog(parent), ctx_(ctx), settings_(settings) {
    setObjectName(QStringLiteral("frm_ChekModemProgress"));
    setWindowTitle(QStringLiteral("Please Wait.........."));
    ProgBar = new QProgressBar(this);
    ProgBar->setObjectName(QStringLiteral("ProgBar"));
    ProgBar->setRange(0, 100);
    ProgBar->setValue(0);
    ProgBar->setTextVisible(false);
    Label1 = new QLabel(QStringLiteral("0%"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Command1 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, &frm_ChekModemProgress::Command1_Click);

    auto* v = new QVBoxLayout(this);
    v->addWidget(ProgBar);
    v->addWidget(Label1);
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(Command1);
    h->addStretch();
    v->addLayout(h);

    search_ = new ModemSearch(ctx_, this);
    connect(search_, &ModemSearch::probing, this, [this] { setProgress(ProgBar->value() + 5); });
    connect(search_, &ModemSearch::probesDone, this, &frm_ChekModemProgress::probesDone);
    connect(search_, &ModemSearch::finished, this, &frm_ChekModemProgress::searchDone);
}

frm_ChekModemProgress::~frm_ChekModemProgress() {
    if (holdsModalFlag_) ctx_.engine.ModalFormOpen = previousModalFlag_;
}

void frm_ChekModemProgress::Form_Load() {
    setGeometry(ui::twips(3000), ui::twips(3000), ui::twips(4800), ui::twips(1845));
    ComPorts.clear();
    cancelled_ = false;
}

void frm_ChekModemProgress::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!holdsModalFlag_) {
        previousModalFlag_ = ctx_.engine.ModalFormOpen;
        holdsModalFlag_ = true;
    }
    ctx_.engine.ModalFormOpen = true;
    // The search starts once the window is up, so that it shows its progress.
    if (!started_) QTimer::singleShot(0, this, &frm_ChekModemProgress::Form_Activate);
}

void frm_ChekModemProgress::hideEvent(QHideEvent* e) {
    QDialog::hideEvent(e);
    if (holdsModalFlag_) {
        ctx_.engine.ModalFormOpen = previousModalFlag_;
        holdsModalFlag_ = false;
    }
}

void frm_ChekModemProgress::Command1_Click() {
    cancelled_ = true;
    search_->cancel();
    QDialog::reject();
}

void frm_ChekModemProgress::reject() {
    // Escape and the window's close button cancel like the button does.
    Command1_Click();
}

void frm_ChekModemProgress::Form_Activate() {
    if (started_) return;
    started_ = true;
    ctx_.engine.ModalFormOpen = true;
    if (ProgBar->value() == 100) setProgress(0);
    foundPorts.clear();
    permissionProblems.clear();
    if (cancelled_) search_->cancel();
    search_->start();
}

void frm_ChekModemProgress::setProgress(int value) {
    ProgBar->setValue(value);
    Label1->setText(QString::number(ProgBar->value()) + QStringLiteral("%"));
}

void frm_ChekModemProgress::probesDone() {
    foundPorts = search_->foundPorts;
    permissionProblems = search_->permissionProblems;
    if (foundPorts.isEmpty())
        ui::MsgBox(QStringLiteral("Searched COM ports from 1 - 20 but did not find a modem."));
    if (!permissionProblems.isEmpty())
        ui::MsgBox(QStringLiteral("These ports could not be searched:\r\n\r\n") +
                   permissionProblems.join(QStringLiteral("\r\n\r\n")));
    setProgress(100);
}

void frm_ChekModemProgress::searchDone() {
    foundPorts = search_->foundPorts;
    permissionProblems = search_->permissionProblems;
    if (!search_->cancelled()) {
        // 3. The result: the ports, manufacturers and models as the found-modems window
        //    reads them.
        for (int i = 0; i < search_->manufacturers.size(); ++i) {
            ComPorts += QString::number(foundPorts.value(i)) + QStringLiteral(", ");
            ManufacturerId += search_->manufacturers.at(i) + QStringLiteral(",");
            ModelId += search_->models.value(i) + QStringLiteral(", ");
        }
        // The window takes the lists whole: a manufacturer or model with a comma in it
        // stays in its column.
        const QList<int> ports = foundPorts.mid(0, search_->manufacturers.size());
        const QStringList manufacturers = search_->manufacturers;
        const QStringList models = search_->models;
        done(QDialog::Accepted);
        if (!cancelled_) {
            QWidget* owner =
                settings_ ? static_cast<QWidget*>(settings_.data()) : parentWidget();
            auto* found = new Frm_FoundModemPortNumbers(ctx_, settings_, owner);
            found->setAttribute(Qt::WA_DeleteOnClose);
            found->Form_Load(ports, manufacturers, models);
            ui::showModal(found);
        }
        ManufacturerId.clear();
        ModelId.clear();
    }
    finished_ = true;
    emit searchFinished();
}
