#pragma once

#include <QDialog>
#include <QPointer>
#include <QList>
#include <QString>
#include <QStringList>

class AppContext;
class QTableWidget;
class frm_Settings;

// "Select Your Modem": the modems the search found, one row each with the port (and
// the device it stands for), the manufacturer and the model. A click on a
// manufacturer takes that port into the settings window, at 115200 bits per second
// and delay factor 3; the user still saves there.
class Frm_FoundModemPortNumbers : public QDialog {
    Q_OBJECT
public:
    Frm_FoundModemPortNumbers(AppContext& ctx, frm_Settings* settings, QWidget* parent = nullptr);
    ~Frm_FoundModemPortNumbers() override;

    // Fills the grid from the search's result: the ports found, and each one's
    // manufacturer and model, in the same order.
    void Form_Load(const QList<int>& ports, const QStringList& manufacturers,
                   const QStringList& models);
    // A click on a cell: only the manufacturer column of a filled row counts. Enter on
    // a highlighted row does the same.
    void MshNumbers_Click(int row, int column);

    // True once the user took a port from the list.
    bool selectPortFromList = false;

    QTableWidget* MshNumbers;

protected:
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppContext& ctx_;
    QPointer<frm_Settings> settings_;
    bool holdsModalFlag_ = false;
    bool previousModalFlag_ = false;
};
