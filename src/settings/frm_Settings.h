#pragma once

#include <QWidget>

class AppContext;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabBar;

// The settings window: the serial line and the modem (table ModemSetting) on the
// first tab, the polling timers and the delivery method (table Timer_setting) on the
// second. While the program is connected the modem settings are read-only. Saving
// applies the polling intervals to the main window's timers at once; a changed modem
// delay factor, or a modem taken from the search at another speed than 9600, closes
// the program so that modem and program start afresh together.
class frm_Settings : public QWidget {
    Q_OBJECT
public:
    explicit frm_Settings(AppContext& ctx, QWidget* parent = nullptr);
    ~frm_Settings() override;

    // Opens the settings window modelessly over the main window `parent`, or brings the
    // one that is open already to the front.
    static frm_Settings* showFor(AppContext& ctx, QWidget* parent);

    // Places the window, fills the lists and shows the stored settings.
    void Form_Load();

    void TabStrip1_Click();
    void chkEnableReceive_Click();
    void chkEnableSend_Click();
    void txttime_Change();
    void txtSendmsgtime_Change();
    void cmdSave1_Click();
    void cmdExit3_Click();
    void cmdChkModem_Click();

    // Selects the entry of a list whose text (or, for the port list, port number) is
    // `value`; clears the selection when no entry matches.
    static void selectValue(QComboBox* combo, const QString& value);
    // The port number chosen in Combo_comportNo, 0 when none is.
    int selectedPort() const;
    // Shows the device behind each port number again (after a search, a new link).
    void refreshPortLabels();

    // True when the user took a port from the modem search's result (the found-modems
    // window sets it); a save with another speed than 9600 then restarts the program.
    bool selectPortFromList = false;

    // Controls.
    QTabBar* TabStrip1;
    QFrame* Frame1;
    QFrame* Frame2;
    QPushButton* cmdSave1;
    QPushButton* cmdExit3;
    QComboBox* Combo_comportNo;
    QComboBox* Combo_BitsPerSec;
    QComboBox* Combo_DataBits;
    QComboBox* Combo_Parity;
    QComboBox* Combo_stopBit;
    QComboBox* Cmb_FlowControl;
    QComboBox* cmb_CharSet;
    // "Message format": "Text" (SMS text mode) or "PDU (Unicode and long messages)".
    QComboBox* cmb_MessageFormat;
    QCheckBox* chkEnbCallID;
    QComboBox* cmbDelay;
    QPushButton* cmdChkModem;
    QLabel* lblAlertMsg;
    QCheckBox* chkEnableReceive;
    QLineEdit* txttime;
    QCheckBox* chkEnableSend;
    QLineEdit* txtSendmsgtime;
    QRadioButton* OptDirctDelevary;
    QRadioButton* OptStoreOnSIM;
    // Delivery control: how many failed tries before a message is given up (0 = never),
    // and whether the network is asked for delivery reports.
    QSpinBox* txtGiveUpTries;
    QCheckBox* chkDeliveryReports;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    // The check of a time box as its text changes.
    void checkTimeBox(QLineEdit* box, bool receive);
    // A refused save: the message, the tab that holds the control and the focus on it.
    void refuse(const QString& message, int tab, QWidget* control, bool emptyIt = false);
    // The save itself; false when it was refused.
    bool save();
    void loadModemSetting();
    void loadTimerSetting();

    AppContext& ctx_;
};
