#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <functional>

class AppContext;
class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// The messages stored on the SIM card, reached without the program's database. The
// "Read Messages" half lists the messages of the ticked kinds and deletes ticked rows
// one by one; the "Manage Messages" half deletes every message of the ticked kinds.
class Frm_ManageSIMMsg : public QDialog {
    Q_OBJECT
public:
    explicit Frm_ManageSIMMsg(AppContext& ctx, QWidget* parent = nullptr);
    ~Frm_ManageSIMMsg() override;

    // One kind of message as the modem lists it.
    struct Kind {
        const char* caption; // the check box
        const char* status;  // the listing status
        const char* word;    // what the Status column shows
    };
    // The kinds, in the order every click processes them.
    static const QList<Kind>& kinds();

    // Closes every instance that is open as a child of `parent` (the main window opens
    // a fresh one each time).
    static void closeOpenInstances(QWidget* parent);

    // Modem actions. Each first checks that the port is open; while another modem
    // exchange waits for its answer, the click is carried out as soon as it is over.
    // Their listings and deletes go one per turn of the event loop, so that the engine's
    // work goes on in between.
    void CmdShow_Click();
    void CmdDelFromList_Click();
    void CmdDelete_Click();
    void chkItem_Click();
    void Cmdend_Click();
    void CmdExit_Click();

    // "Read Messages" half.
    QLabel* Label2;
    QCheckBox* Chkshowall;
    QCheckBox* Chkshowread;
    QCheckBox* Chkshowunread;
    QCheckBox* Chkshowsent;
    QCheckBox* Chkshowunsent;
    QPushButton* CmdShow;
    QTreeWidget* Listmessage;
    QCheckBox* chkItem;
    QPushButton* CmdDelFromList;
    QPushButton* Cmdend;
    // "Manage Messages" half.
    QLabel* Label1;
    QCheckBox* ChkAll;
    QCheckBox* ChkRead;
    QCheckBox* ChkUnread;
    QCheckBox* ChkSent;
    QCheckBox* ChkUnsent;
    QPushButton* CmdDelete;
    QPushButton* CmdExit;

    // Columns of Listmessage.
    enum Column { ColMessage = 0, ColStatus = 1, ColNumber = 2, ColIndex = 3 };

protected:
    void showEvent(QShowEvent* e) override;

private:
    void Form_Load();
    void sizeColumns();
    bool modemConnected();
    void showMessages();
    void deleteTickedRows();
    void deleteByKind();
    // The steps of the three: one listing or one delete each.
    void listKinds(QList<Kind> rest);
    void deleteIndexes(QList<int> rest);
    void deleteKinds(QList<Kind> rest);
    void deleteListed(QStringList indexes, QList<Kind> kindsLeft);
    // Reopens the window in its first state.
    void reopen();
    // Runs `work` now, or once no modem exchange, listing or receive pass is under way.
    void whenModemFree(std::function<void()> work);
    // Runs `step` at a later turn of the event loop, once the modem is free.
    void nextStep(std::function<void()> step);
    void setHourglass(bool on);

    AppContext& ctx_;
    QList<QCheckBox*> readBoxes_;
    QList<QCheckBox*> deleteBoxes_;
    bool columnsSized_ = false;
    bool hourglass_ = false;
};
