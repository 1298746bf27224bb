#include "compose/BulkWizard.h"

#include "compose/Frm_BulkSMS_Step2.h"
#include "compose/Frm_BulkSMS_Step3.h"
#include "compose/Frm_BulkSMS_Step4.h"
#include "compose/Frm_BulkSMS_Step5.h"
#include "compose/Frm_ImportProgress.h"
#include "compose/ImportReader.h"
#include "compose/ImportSource.h"
#include "core/AppContext.h"
#include "ui/Ui.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// The wizard picture, drawn so that the program ships no image files: a tall banner
// with a phone sending messages.
QPixmap wizardPicture() {
    const QSize size(150, 420);
    QPixmap pm(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, size.height());
    bg.setColorAt(0, QColor(0x1a, 0x4f, 0x9c));
    bg.setColorAt(1, QColor(0x0b, 0x25, 0x4a));
    p.fillRect(pm.rect(), bg);
    // The phone.
    p.setPen(QPen(Qt::white, 3));
    p.setBrush(QColor(0x26, 0x3a, 0x5a));
    p.drawRoundedRect(QRectF(40, 150, 70, 130), 10, 10);
    p.setBrush(QColor(0xd8, 0xe6, 0xf5));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(48, 165, 54, 85));
    // Envelopes flying out of it.
    p.setPen(QPen(Qt::white, 2));
    for (int i = 0; i < 3; ++i) {
        const QRectF env(20 + i * 38, 60 + (i % 2) * 30, 32, 22);
        p.setBrush(QColor(0xf2, 0xb1, 0x34));
        p.drawRect(env);
        QPainterPath flap;
        flap.moveTo(env.topLeft());
        flap.lineTo(env.center());
        flap.lineTo(env.topRight());
        p.drawPath(flap);
    }
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(22);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 300, size.width(), 40), Qt::AlignCenter, QStringLiteral("Bulk SMS"));
    f.setBold(false);
    f.setPixelSize(14);
    p.setFont(f);
    p.drawText(QRect(0, 335, size.width(), 30), Qt::AlignCenter, QStringLiteral("Wizard"));
    return pm;
}

} // namespace

// ---------------------------------------------------------------------------------

BulkWizardStep::BulkWizardStep(BulkWizard& wizard, int step, const QString& nextCaption)
    : QWidget(wizard.owner(), Qt::Dialog), wizard_(wizard), step_(step) {
    setObjectName(QStringLiteral("Frm_BulkSMS_Step%1").arg(step));
    setWindowTitle(QStringLiteral("Bulk SMS Wizard"));
    setWindowModality(Qt::ApplicationModal);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(wizardPicture());
    Image1->setAlignment(Qt::AlignTop);

    if (step >= 3) {
        cmdBack = new QPushButton(QStringLiteral("<< &Back"), this);
        cmdBack->setObjectName(QStringLiteral("cmdBack"));
    }
    cmdNext = new QPushButton(nextCaption, this);
    cmdNext->setObjectName(QStringLiteral("cmdNext"));
    cmdNext->setDefault(true);
    cmdClose = new QPushButton(QStringLiteral("&Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));

    body_ = new QVBoxLayout;
    auto* top = new QHBoxLayout;
    top->addWidget(Image1);
    top->addSpacing(12);
    top->addLayout(body_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    if (cmdBack) buttons->addWidget(cmdBack);
    buttons->addWidget(cmdNext);
    buttons->addSpacing(20);
    buttons->addWidget(cmdClose);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top, 1);
    v->addLayout(buttons);
}

AppContext& BulkWizardStep::ctx() const {
    return wizard_.ctx();
}

void BulkWizardStep::Form_Load() {
    resize(ui::twips(9225), ui::twips(7980));
    ctx().engine.ModalFormOpen = true;
}

void BulkWizardStep::Form_Unload() {
    ctx().engine.ModalFormOpen = false;
}

QWidget* BulkWizardStep::ownerWindow() {
    return isVisible() ? this : wizard_.owner();
}

void BulkWizardStep::closeEvent(QCloseEvent* e) {
    // The close box: unload this step, which ends the run.
    if (!unloading_) wizard_.unload(step_);
    e->accept();
}

void BulkWizardStep::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(e);
}

// ---------------------------------------------------------------------------------

BulkWizard::BulkWizard(AppContext& ctx, QWidget* owner) : QObject(owner), ctx_(ctx), owner_(owner) {
    setObjectName(QStringLiteral("BulkWizard"));
}

BulkWizard::~BulkWizard() {
    if (reader_) reader_->disconnect(this);
    delete progress_.data();
    for (auto& s : steps_) {
        if (!s) continue;
        s->unloading_ = true;
        s->Form_Unload();
        delete s.data();
    }
    for (auto& s : retired_)
        delete s.data();
}

BulkWizard* BulkWizard::open(AppContext& ctx, QWidget* mainWindow, bool afresh) {
    BulkWizard* wizard =
        mainWindow ? mainWindow->findChild<BulkWizard*>(QString(), Qt::FindDirectChildrenOnly)
                   : nullptr;
    if (wizard && afresh && wizard->isLoaded(2)) wizard->unload(2);
    if (wizard && !wizard->anyLoaded()) {
        // The last run is over: its values go with it.
        delete wizard;
        wizard = nullptr;
    }
    if (!wizard) wizard = new BulkWizard(ctx, mainWindow);
    wizard->show(2);
    return wizard;
}

Frm_BulkSMS_Step2* BulkWizard::Step2() const {
    return static_cast<Frm_BulkSMS_Step2*>(steps_[2].data());
}
Frm_BulkSMS_Step3* BulkWizard::Step3() const {
    return static_cast<Frm_BulkSMS_Step3*>(steps_[3].data());
}
Frm_BulkSMS_Step4* BulkWizard::Step4() const {
    return static_cast<Frm_BulkSMS_Step4*>(steps_[4].data());
}
Frm_BulkSMS_Step5* BulkWizard::Step5() const {
    return static_cast<Frm_BulkSMS_Step5*>(steps_[5].data());
}

bool BulkWizard::isLoaded(int step) const {
    return step >= 2 && step <= 5 && steps_[step];
}

bool BulkWizard::anyLoaded() const {
    for (int s = 2; s <= 5; ++s)
        if (steps_[s]) return true;
    return false;
}

BulkWizardStep& BulkWizard::load(int step) {
    if (step < 2 || step > 5) throw std::logic_error("no such wizard step");
    if (!steps_[step]) {
        BulkWizardStep* w = nullptr;
        switch (step) {
        case 2:
            w = new Frm_BulkSMS_Step2(*this);
            break;
        case 3:
            w = new Frm_BulkSMS_Step3(*this);
            break;
        case 4:
            w = new Frm_BulkSMS_Step4(*this);
            break;
        default:
            w = new Frm_BulkSMS_Step5(*this);
            break;
        }
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        steps_[step] = w;
        w->Form_Load();
    }
    return *steps_[step];
}

void BulkWizard::show(int step) {
    BulkWizardStep& w = load(step);
    // The load may have ended the run (an error it could not recover from).
    if (!steps_[step]) return;
    ui::showModeless(&w);
}

ImportReader& BulkWizard::reader() {
    if (!reader_) {
        reader_ = new ImportReader(this);
        connect(reader_, &ImportReader::finished, this, [this] {
            if (progress_) static_cast<Frm_ImportProgress*>(progress_.data())->done();
            auto then = std::exchange(then_, {});
            busy_ = false;
            if (then) then(*reader_);
            if (!busy_) emit idle();
        });
    }
    return *reader_;
}

void BulkWizard::read(const ImportRequest& request, QWidget* window, const QString& label,
                      std::function<void(ImportReader&)> then) {
    ImportReader& r = reader();
    if (progress_) static_cast<Frm_ImportProgress*>(progress_.data())->done();
    // Owned by the step (shown by now, or about to be): a step is modal, and only its own
    // windows take clicks.
    auto* progress = new Frm_ImportProgress(label, window ? window : owner());
    progress_ = progress;
    connect(&r, &ImportReader::progress, progress, &Frm_ImportProgress::setProgress);
    connect(progress, &Frm_ImportProgress::cancelRequested, &r, &ImportReader::cancel);
    then_ = std::move(then);
    busy_ = true;
    r.start(request);
}

void BulkWizard::setBusy(bool busy) {
    busy_ = busy;
    if (!busy) emit idle();
}

bool BulkWizard::isBusy() const {
    return busy_;
}

void BulkWizard::backToFileStep() {
    const Step2Values chosen = fromStep2;
    const QString name = QFileInfo(chosen.SelectedfileName).fileName().toLower();
    for (int s : {5, 3, 4, 2})
        unload(s);
    show(2);
    Frm_BulkSMS_Step2* s2 = Step2();
    if (!s2) return;
    if (name.contains(QLatin1String(".mdb"))) {
        s2->OptAccess->setChecked(true);
        s2->OptAccess_Click();
    } else if (name.contains(QLatin1String(".xls"))) {
        s2->OptExcel->setChecked(true);
        s2->OptExcel_Click();
    } else if (chosen.NoSeperatedBy.isEmpty()) {
        s2->OptNoOnNewLine->setChecked(true);
        s2->OptNoOnNewLine_Click();
    } else {
        s2->cmbNoSeperatedBy->setCurrentText(chosen.NoSeperatedBy);
    }
    s2->txtFileName->setText(chosen.SelectedfileName);
    s2->txtFileName->setFocus();
}

void BulkWizard::hide(int step) {
    if (isLoaded(step)) steps_[step]->hide();
}

void BulkWizard::unload(int step) {
    if (!isLoaded(step)) return;
    // What a step was reading goes with it; nothing follows from it.
    if (reader_ && reader_->isRunning()) {
        then_ = {};
        reader_->cancel();
    }
    QPointer<BulkWizardStep> w = steps_[step];
    steps_[step] = nullptr;
    w->unloading_ = true;
    w->Form_Unload();
    w->hide();
    // The step may be running one of its handlers: it goes once that has returned.
    w->deleteLater();
    retired_.removeAll(nullptr);
    retired_ << w;
    for (int other : {2, 5, 3, 4})
        if (other != step) unload(other);
}
