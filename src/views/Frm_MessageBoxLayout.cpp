// The message box's widgets: built once in the constructor, and the list's columns
// set for the folder listed.
#include "views/Frm_MessageBox.h"

#include "core/AppContext.h"
#include "ui/Ui.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

Frm_MessageBox::Frm_MessageBox(AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frm_MessageBox"));
    setWindowTitle(QStringLiteral("Message Box"));
    setSizeGripEnabled(true);
    // While it is loaded, the folders' changes reach it.
    connect(&ctx_.notifier, &Notifier::messageBoxRefresh, this, &Frm_MessageBox::refreshFromEngine);
    connect(&ctx_.notifier, &Notifier::inboxMessageStored, this, &Frm_MessageBox::showNewInboxRow);

    Toolbar1 = new QToolBar(QStringLiteral("Toolbar1"), this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolButtonReceive =
        Toolbar1->addAction(style()->standardIcon(QStyle::SP_ArrowDown), QStringLiteral("Receive"),
                            this, [this] { Toolbar1_ButtonClick(1); });
    toolButtonReceive->setToolTip(QStringLiteral("Receive SMS In InBox"));
    toolButtonSend =
        Toolbar1->addAction(style()->standardIcon(QStyle::SP_ArrowUp), QStringLiteral("Send"), this,
                            [this] { Toolbar1_ButtonClick(2); });
    toolButtonSend->setToolTip(QStringLiteral("Send SMS From OutBox"));
    toolButtonDelete =
        Toolbar1->addAction(style()->standardIcon(QStyle::SP_TrashIcon), QStringLiteral("Delete"),
                            this, [this] { Toolbar1_ButtonClick(3); });
    toolButtonDelete->setToolTip(QStringLiteral("Delete Selected SMS"));

    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    connect(TreeView1, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
        for (int i = 1; i <= 5; ++i)
            if (node(i) == item) TreeView1_NodeClick(i);
    });

    ListMessage = new QTreeWidget(this);
    ListMessage->setObjectName(QStringLiteral("ListMessage"));
    ListMessage->setRootIsDecorated(false);
    ListMessage->setUniformRowHeights(true);
    ListMessage->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListMessage->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListMessage->setSortingEnabled(false);
    ListMessage->setAllColumnsShowFocus(true);
    ListMessage->header()->setSectionsClickable(true);
    ListMessage->header()->setStretchLastSection(false);
    connect(ListMessage->header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { ListMessage_ColumnClick(logical + 1); });
    ListMessage->installEventFilter(this);
    ListMessage->viewport()->installEventFilter(this);

    txtPages = new QLineEdit(this);
    txtPages->setObjectName(QStringLiteral("txtPages"));
    txtPages->setMaximumWidth(ui::twips(900));
    connect(txtPages, &QLineEdit::textChanged, this, [this] { txtPages_Change(); });
    connect(txtPages, &QLineEdit::returnPressed, this, [this] { txtPages_KeyPress(13); });
    lblPages = new QLabel(QStringLiteral("Of"), this);
    lblPages->setObjectName(QStringLiteral("lblPages"));
    cmdPrevious = new QPushButton(QStringLiteral("<< Previous"), this);
    cmdPrevious->setObjectName(QStringLiteral("cmdPrevious"));
    cmdNext = new QPushButton(QStringLiteral("Next >>"), this);
    cmdNext->setObjectName(QStringLiteral("cmdNext"));
    for (QPushButton* b : {cmdPrevious, cmdNext}) {
        b->setAutoDefault(false); // Enter belongs to the page box
        b->setEnabled(false);
    }
    connect(cmdPrevious, &QPushButton::clicked, this, &Frm_MessageBox::cmdPrevious_Click);
    connect(cmdNext, &QPushButton::clicked, this, &Frm_MessageBox::cmdNext_Click);

    Label3 = new QLabel(QStringLiteral("Mobile Number :"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    LblNo = new QLabel(this);
    LblNo->setObjectName(QStringLiteral("LblNo"));
    LblNo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = LblNo->font();
    bold.setBold(true);
    LblNo->setFont(bold);
    txtMessage = new QPlainTextEdit(this);
    txtMessage->setObjectName(QStringLiteral("txtMessage"));
    txtMessage->setReadOnly(true);
    txtMessage->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtMessage->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Names for screen readers where no label stands beside the control.
    TreeView1->setAccessibleName(QStringLiteral("Folders"));
    ListMessage->setAccessibleName(QStringLiteral("Messages"));
    txtMessage->setAccessibleName(QStringLiteral("Message"));

    // Layout: the tree left; the list with its paging row right; the message panel below.
    auto* paging = new QHBoxLayout;
    auto* pageCaption = new QLabel(QStringLiteral("Page"), this);
    ui::labelField(pageCaption, txtPages);
    paging->addWidget(pageCaption);
    paging->addWidget(txtPages);
    paging->addWidget(lblPages, 1);
    paging->addWidget(cmdPrevious);
    paging->addWidget(cmdNext);
    // The actions of Failed Items, shown while it is listed.
    cmdSendAgain = new QPushButton(QStringLiteral("Send Again"), this);
    cmdSendAgain->setObjectName(QStringLiteral("cmdSendAgain"));
    cmdDeleteFailed = new QPushButton(QStringLiteral("Delete"), this);
    cmdDeleteFailed->setObjectName(QStringLiteral("cmdDeleteFailed"));
    for (QPushButton* b : {cmdSendAgain, cmdDeleteFailed}) {
        b->setAutoDefault(false);
        b->setVisible(false);
    }
    connect(cmdSendAgain, &QPushButton::clicked, this, &Frm_MessageBox::cmdSendAgain_Click);
    connect(cmdDeleteFailed, &QPushButton::clicked, this, &Frm_MessageBox::DeleteSMS);
    paging->addWidget(cmdSendAgain);
    paging->addWidget(cmdDeleteFailed);
    auto* listSide = new QWidget(this);
    auto* listLayout = new QVBoxLayout(listSide);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->addWidget(ListMessage, 1);
    listLayout->addLayout(paging);
    auto* panel = new QWidget(this);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    auto* numberRow = new QHBoxLayout;
    numberRow->addWidget(Label3);
    numberRow->addWidget(LblNo, 1);
    panelLayout->addLayout(numberRow);
    panelLayout->addWidget(txtMessage, 1);
    auto* right = new QSplitter(Qt::Vertical, this);
    right->addWidget(listSide);
    right->addWidget(panel);
    right->setStretchFactor(0, 3);
    right->setStretchFactor(1, 1);
    auto* main = new QSplitter(Qt::Horizontal, this);
    main->addWidget(TreeView1);
    main->addWidget(right);
    main->setStretchFactor(0, 1);
    main->setStretchFactor(1, 4);
    auto* v = new QVBoxLayout(this);
    v->setMenuBar(Toolbar1);
    v->addWidget(main, 1);

    Form_Load();
}

void Frm_MessageBox::setListColumns(Folder folder) {
    const int third = thirdOfList();
    if (folder == Folder::Outbox) {
        ListMessage->setColumnCount(5);
        ListMessage->setHeaderLabels({QStringLiteral("Mobile Number"), QStringLiteral("Message"),
                                      QStringLiteral("Outbox Date"), QString(),
                                      QStringLiteral("Status")});
        const int widths[] = {2000, 4000, 2000, 0, 1500};
        for (int c = 0; c < 5; ++c)
            ListMessage->setColumnWidth(c, ui::twips(widths[c]));
    } else if (folder == Folder::Failed) {
        ListMessage->setColumnCount(6);
        ListMessage->setHeaderLabels({QStringLiteral("Mobile Number"), QStringLiteral("Message"),
                                      QStringLiteral("Outbox Date"), QString(),
                                      QStringLiteral("Tries"), QStringLiteral("Error")});
        const int widths[] = {2000, 3000, 2000, 0, 700, 3500};
        for (int c = 0; c < 6; ++c)
            ListMessage->setColumnWidth(c, ui::twips(widths[c]));
    } else {
        const bool sent = folder == Folder::Sent;
        ListMessage->setColumnCount(sent ? 5 : 4);
        QStringList labels{QStringLiteral("Mobile Number"), QStringLiteral("Message"),
                           sent ? QStringLiteral("Delivered On") : QStringLiteral("Received On"),
                           QString()};
        if (sent) labels << QStringLiteral("Delivery Report");
        ListMessage->setHeaderLabels(labels);
        for (int c = 0; c < 3; ++c)
            ListMessage->setColumnWidth(c, third);
        ListMessage->setColumnWidth(3, 0);
        if (sent) ListMessage->setColumnWidth(4, ui::twips(2500));
    }
    // The key column holds each row's key and is never shown.
    ListMessage->setColumnHidden(3, true);
}
