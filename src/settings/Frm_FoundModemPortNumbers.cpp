#include "settings/Frm_FoundModemPortNumbers.h"

#include "core/AppContext.h"
#include "modem/ComPortMap.h"
#include "settings/frm_Settings.h"
#include "ui/Ui.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QTableWidget>
#include <QVBoxLayout>

Frm_FoundModemPortNumbers::Frm_FoundModemPortNumbers(AppContext& ctx, frm_Settings* settings,
                                                     QWidget* parent)
    : QDialog(parent), ctx_(ctx), settings_(settings) {
    setObjectName(QStringLiteral("Frm_FoundModemPortNumbers"));
    setWindowTitle(QStringLiteral("Select Your Modem"));
    auto* found = new QLabel(QStringLiteral("Found Modems :"), this);
    QFont bold = found->font();
    bold.setBold(true);
    found->setFont(bold);
    MshNumbers = new QTableWidget(this);
    MshNumbers->setObjectName(QStringLiteral("MshNumbers"));
    MshNumbers->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // From the keyboard: the arrows highlight a modem, Enter takes it.
    MshNumbers->setSelectionMode(QAbstractItemView::SingleSelection);
    MshNumbers->setSelectionBehavior(QAbstractItemView::SelectRows);
    MshNumbers->setTabKeyNavigation(false);
    MshNumbers->verticalHeader()->hide();
    MshNumbers->installEventFilter(this);
    auto* hint = new QLabel(
        QStringLiteral("Please select the modem which you wish for your application ."), this);
    hint->setWordWrap(true);
    ui::labelField(found, MshNumbers);
    auto* v = new QVBoxLayout(this);
    v->addWidget(found);
    v->addWidget(MshNumbers, 1);
    v->addWidget(hint);
    connect(MshNumbers, &QTableWidget::cellClicked, this,
            &Frm_FoundModemPortNumbers::MshNumbers_Click);
}

Frm_FoundModemPortNumbers::~Frm_FoundModemPortNumbers() {
    if (holdsModalFlag_) ctx_.engine.ModalFormOpen = previousModalFlag_;
}

void Frm_FoundModemPortNumbers::Form_Load(const QList<int>& ports,
                                          const QStringList& manufacturers,
                                          const QStringList& models) {
    try {
        if (!holdsModalFlag_) {
            previousModalFlag_ = ctx_.engine.ModalFormOpen;
            holdsModalFlag_ = true;
        }
        ctx_.engine.ModalFormOpen = true;
        resize(ui::twips(7395), ui::twips(2940));
        selectPortFromList = false;
        if (settings_) settings_->selectPortFromList = false;
        MshNumbers->clear();
        MshNumbers->setRowCount(0);

        MshNumbers->setColumnCount(4);
        MshNumbers->setHorizontalHeaderLabels(
            QStringLiteral("|Port Number| Manufacturer Id| Model Number").split(QLatin1Char('|')));
        MshNumbers->setColumnWidth(0, ui::twips(1));
        MshNumbers->setColumnWidth(2, ui::twips(2700));
        MshNumbers->setColumnWidth(3, ui::twips(2700));

        QFont bold = MshNumbers->font();
        bold.setBold(true);
        // One row per port, its manufacturer and model whole (commas in them included).
        for (int i = 0; i < ports.size(); ++i) {
            const int port = ports.at(i);
            const int row = MshNumbers->rowCount();
            MshNumbers->insertRow(row);
            MshNumbers->setItem(row, 0, new QTableWidgetItem(QString::number(i)));
            // The port with the device it stands for, so a person knows which plug it is.
            auto* portItem = new QTableWidgetItem(comPortLabel(ctx_.programFolder(), port));
            portItem->setData(Qt::UserRole, QString::number(port));
            MshNumbers->setItem(row, 1, portItem);
            auto* manufacturer = new QTableWidgetItem(manufacturers.value(i).trimmed());
            manufacturer->setFont(bold);
            manufacturer->setForeground(QColor(0, 0, 255));
            MshNumbers->setItem(row, 2, manufacturer);
            MshNumbers->setItem(row, 3, new QTableWidgetItem(models.value(i).trimmed()));
        }
        MshNumbers->resizeColumnToContents(1);
        MshNumbers->setColumnWidth(1, std::max(MshNumbers->columnWidth(1), ui::twips(1000)));
        // Long device names widen the window rather than hide the model behind a scroll bar.
        int columns = 0;
        for (int c = 0; c < MshNumbers->columnCount(); ++c)
            columns += MshNumbers->columnWidth(c);
        const QMargins margins = layout()->contentsMargins();
        const int needed =
            columns + 2 * MshNumbers->frameWidth() + margins.left() + margins.right() + 2;
        if (needed > width()) resize(needed, height());
        if (MshNumbers->rowCount() > 0) MshNumbers->setCurrentCell(0, 2);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void Frm_FoundModemPortNumbers::MshNumbers_Click(int row, int column) {
    if (column != 2) return;
    const QTableWidgetItem* portItem = MshNumbers->item(row, 1);
    const QString port = portItem ? portItem->data(Qt::UserRole).toString().trimmed() : QString();
    if (port.isEmpty()) return;
    selectPortFromList = true;
    if (settings_) {
        settings_->selectPortFromList = true;
        frm_Settings::selectValue(settings_->Combo_comportNo, port);
        frm_Settings::selectValue(settings_->Combo_BitsPerSec, QStringLiteral("115200"));
        frm_Settings::selectValue(settings_->cmbDelay, QStringLiteral("3"));
    }
    close();
    if (settings_) {
        settings_->refreshPortLabels();
        settings_->Combo_comportNo->setFocus();
    }
}

bool Frm_FoundModemPortNumbers::eventFilter(QObject* watched, QEvent* event) {
    if (watched == MshNumbers && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && MshNumbers->currentRow() >= 0) {
            // As a click on the highlighted row's manufacturer.
            MshNumbers_Click(MshNumbers->currentRow(), 2);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Frm_FoundModemPortNumbers::hideEvent(QHideEvent* e) {
    QDialog::hideEvent(e);
    if (holdsModalFlag_) {
        ctx_.engine.ModalFormOpen = previousModalFlag_;
        holdsModalFlag_ = false;
    }
}
