#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

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

    // Fills the grid from the search's three lists (see frm_ChekModemProgress).
    void Form_Load(const QString& comPorts, const QString& manufacturerIds,
                   const QString& modelIds);
    // A click on a cell: only the manufacturer column of a filled row counts.
    void MshNumbers_Click(int row, int column);

    // True once the user took a port from the list.
    bool selectPortFromList = false;

    QTableWidget* MshNumbers;

protected:
    void hideEvent(QHideEvent* e) override;

private:
    AppContext& ctx_;
    QPointer<frm_Settings> settings_;
    bool holdsModalFlag_ = false;
    bool previousModalFlag_ = false;
};
