#pragma once

#include <QDialog>

class AppContext;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The reply to missed calls: the text the program sends back to a caller whose call
// it missed, and whether it does so. It edits the one row of AutoReply_OnMissedCall and
// hands the new state to the engine on saving, so the next missed call gets it.
class Frm_AutoReplyOnMissedCall : public QDialog {
    Q_OBJECT
public:
    explicit Frm_AutoReplyOnMissedCall(AppContext& ctx, QWidget* parent = nullptr);

    // Longest reply the text box takes in text mode; in PDU mode up to pdu::MaxParts SMS.
    static constexpr int MaxMessageLength = 160;

    // Stores the text and the tick, updates the engine and closes. A failing save, a text
    // the modem's character set cannot carry, or no text with the reply switched on: it
    // says why and keeps the window open.
    void Cmdsend_Click();
    // Closes without storing.
    void CmdExit_Click();

    QLabel* Label1;
    QCheckBox* chkSetMsg;
    QLabel* Label2;
    QLabel* Label5;
    QPlainTextEdit* Text_Message;
    // What the reply takes in the modem's message format.
    QLabel* lblCount;
    QPushButton* Cmdsend;
    QPushButton* CmdExit;

private:
    void Form_Load();
    void limitMessageLength();
    AppContext& ctx_;
    bool pduMode_ = false;
    QString characterSet_;
};
