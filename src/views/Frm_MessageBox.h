#pragma once

#include <QDialog>
#include <QString>
#include <QVariant>

class AppContext;
class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPoint;
class QPushButton;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

// The message box: a folder tree (Inbox, Outbox, Sent Items, and Failed Items while
// messages are given up on) with counts, one page of
// the chosen folder at a time, sorting by column, the message panel, and deleting.
//
// A folder is never read whole: each fill counts the folder and reads only the rows of
// the page shown, on an index of the sort column, so a folder of a million rows opens
// as fast as a small one. Moving to the next or previous page continues from the rows
// on screen; a jump in a folder sorted by date starts at the day the page begins in (from
// the kept day totals); other jumps count their way in from the nearer end of the folder.
class Frm_MessageBox : public QDialog {
    Q_OBJECT
public:
    explicit Frm_MessageBox(AppContext& ctx, QWidget* parent = nullptr);
    ~Frm_MessageBox() override;

    // Public operations.
    void fillTreeView();
    void fillListInbox();
    void fillListOutbox();
    void fillListSent();
    // Failed Items: the messages the dispatcher gave up on (shown while a limit of
    // tries is set, or some are there), tree node 5.
    void fillListFailed();
    // Deletes the selected rows of the listed folder after asking.
    void DeleteSMS();

    // Event handlers.
    void TreeView1_NodeClick(int index); // 1 Message, 2 Inbox, 3 Outbox, 4 Sent Items,
                                         // 5 Failed Items
    // The selected failed messages go back to the Outbox with no tries counted.
    void cmdSendAgain_Click();
    void cmdNext_Click();
    void cmdPrevious_Click();
    void txtPages_Change();
    void txtPages_KeyPress(int keyAscii);
    void ListMessage_ColumnClick(int column); // 1-based
    // A click on the list at `pos` (viewport coordinates): the row under it is read.
    void ListMessage_Click(const QPoint& pos);
    void ListMessage_KeyDown(int keyCode);
    void Toolbar1_ButtonClick(int index); // 1 receive, 2 send, 3 delete

    // The engine's ways in while the window is open: the folder counts and the listed
    // page follow a change of the tables; a message just received goes on top of the
    // Inbox list, bold (false when the Inbox is not listed).
    void refreshFromEngine();
    bool showNewInboxRow(const QString& sender, const QString& text, qint64 id);

    // The tree node by its 1-based index.
    QTreeWidgetItem* node(int index) const;

    // Window state.
    bool isInBoxSelected = false;
    bool isOutBoxSelected = false;
    bool isSentItemsSelected = false;
    bool isFailedItemsSelected = false;
    qint64 CurrentPage = 1;
    qint64 TotalPages = 0;
    QString InboxSortOrder;
    QString OutboxSortOrder;
    QString SentSortOrder;
    QString FailedSortOrder;

    // Controls.
    QToolBar* Toolbar1;
    QAction* toolButtonReceive;
    QAction* toolButtonSend;
    QAction* toolButtonDelete;
    QTreeWidget* TreeView1;
    QTreeWidget* ListMessage;
    QLineEdit* txtPages;
    QLabel* lblPages;
    QPushButton* cmdPrevious;
    QPushButton* cmdNext;
    QPushButton* cmdSendAgain;    // "Send Again" (Failed Items)
    QPushButton* cmdDeleteFailed; // "Delete" (Failed Items)
    QLabel* Label3;
    QLabel* LblNo;
    QPlainTextEdit* txtMessage;

    // A list cell's text for a stored message: trimmed, each line break one blank.
    static QString listText(const QVariant& value);

public slots:
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The Yes of DeleteSMS: the selected rows go, all together or none.
    void deleteSelected();
    enum class Folder { None, Inbox, Outbox, Sent, Failed };
    // Where the rows on screen sit in their folder, so that the next and previous
    // pages continue from them.
    struct Anchor {
        Folder folder = Folder::None;
        QString order;
        qint64 page = 0;
        QVariant firstValue, lastValue;
        qint64 firstKey = 0, lastKey = 0;
    };

    void Form_Load();
    void Form_Unload();
    Folder listedFolder() const;
    void fillList(Folder folder, bool keepReading = false);
    // The list's headers and widths for `folder`.
    void setListColumns(Folder folder);
    void refillListedFolder(bool keepReading = false);
    void selectNode(int index);
    void readRow(QTreeWidgetItem* item);
    QString& sortOrder(Folder folder);
    qint64 pageSize() const;
    // Counts the folder, sets TotalPages and the totals label; returns the count.
    qint64 showTotals(Folder folder);
    int thirdOfList() const;

    AppContext& ctx_;
    bool loaded_ = false;
    bool shownOnce_ = false;
    Anchor anchor_;
};

// Opens the message box modally over `parent`.
void showMessageBox(AppContext& ctx, QWidget* parent);
