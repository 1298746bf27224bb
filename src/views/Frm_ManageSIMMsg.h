#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class AppContext;
class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;
namespace ui {
class BusyCursor;
}

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
    // A listed message to delete: where it is stored, from whom, what it says.
    struct Slot {
        int index;
        QString number;
        QString text;
    };
    // The steps of the three: one listing or one delete each. A ticked row is deleted
    // only while its place still holds that message (`skipped` names those that no
    // longer do).
    void listKinds(QList<Kind> rest);
    void deleteSlots(QList<Slot> rest, QStringList skipped);
    void deleteKinds(QList<Kind> rest);
    void deleteListed(QStringList indexes, QList<Kind> kindsLeft);
    // Reopens the window in its first state.
    void reopen();
    // Runs `work` now, or once no modem exchange, listing or receive pass is under way.
    void whenModemFree(std::function<void()> work);
    // Runs `step` at a later turn of the event loop, once the modem is free.
    void nextStep(std::function<void()> step);
    // The busy cursor stays from the start of a piece of modem work to its end.
    void beginWork();
    void endWork();

    AppContext& ctx_;
    QList<QCheckBox*> readBoxes_;
    QList<QCheckBox*> deleteBoxes_;
    bool columnsSized_ = false;
    int work_ = 0;
    std::unique_ptr<ui::BusyCursor> busy_;
};
