#include "views/Frm_MessageBox.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "core/FolderTotals.h"
#include "modem/Module1.h"
#include "ui/Ui.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

namespace {

// One folder: its rows, its list columns and the columns it can be sorted by.
struct FolderDef {
    QString table;
    QString filter;  // the folder's condition, "" for all rows
    QString columns; // what a page reads
    QString key;
    QString dateColumn;      // the third list column
    QStringList sortColumns; // by list column 1, 2, 3
    // Sort columns with an index in the folder: pages continue from the rows on screen.
    QStringList indexedColumns;
    // A column the folder's condition keeps from being null.
    QString neverNull = {};
    // The folder's key in the kept day totals (by its date column).
    char days = inboxDays;
};

const FolderDef& inboxDef() {
    static const FolderDef d{QStringLiteral("Message_InBox"),
                             QString(),
                             QStringLiteral("SenderMobileNo,IsRead,Message,InboxDateTime,InBox_Id"),
                             QStringLiteral("InBox_Id"),
                             QStringLiteral("InboxDateTime"),
                             {QStringLiteral("SenderMobileNo"), QStringLiteral("Message"),
                              QStringLiteral("InboxDateTime")},
                             {QStringLiteral("SenderMobileNo"), QStringLiteral("Message"),
                              QStringLiteral("InboxDateTime")},
                             QString(),
                             inboxDays};
    return d;
}
const FolderDef& outboxDef() {
    // Rows given up on are in Failed Items, not here.
    static const FolderDef d{
        QStringLiteral("Message_OutBox"),
        QStringLiteral("DeliveryDatetime is Null and (DeliveryStatus is null or "
                       "DeliveryStatus<>'FAILED')"),
        QStringLiteral(
            "RecipientMobileNo,Message,OutBoxDateTime,Outbox_Id,DeliveryStatus,SendAfter"),
        QStringLiteral("Outbox_Id"),
        QStringLiteral("OutBoxDateTime"),
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("OutBoxDateTime")},
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("OutBoxDateTime")},
        QString(),
        outboxDays};
    return d;
}
const FolderDef& sentDef() {
    static const FolderDef d{
        QStringLiteral("Message_OutBox"),
        QStringLiteral("DeliveryDatetime is not Null"),
        QStringLiteral("RecipientMobileNo,Message,DeliveryDatetime,Outbox_Id,DeliveryReport,"
                       "DeliveryReportAt,DeliveryReportStatus"),
        QStringLiteral("Outbox_Id"),
        QStringLiteral("DeliveryDatetime"),
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("DeliveryDatetime")},
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("DeliveryDatetime")},
        QStringLiteral("DeliveryDatetime"),
        sentDays};
    return d;
}

// The rows the dispatcher gave up on, with their last error and number of tries.
const FolderDef& failedDef() {
    static const FolderDef d{
        QStringLiteral("Message_OutBox"),
        QStringLiteral("DeliveryDatetime is Null and DeliveryStatus='FAILED'"),
        QStringLiteral("RecipientMobileNo,Message,OutBoxDateTime,Outbox_Id,SendTries,LastError"),
        QStringLiteral("Outbox_Id"),
        QStringLiteral("OutBoxDateTime"),
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("OutBoxDateTime")},
        {}};
    return d;
}

// What Sent Items says of a row's delivery report.
QString deliveryReportText(const QueryResult& rows, int r) {
    const QString state = rows.value(r, QStringLiteral("DeliveryReport")).toString();
    const QString at = rows.value(r, QStringLiteral("DeliveryReportAt")).toString();
    if (state == QLatin1String("DELIVERED")) return QStringLiteral("Delivered ") + at;
    if (state == QLatin1String("FAILED"))
        return QStringLiteral("Not delivered (status %1)")
            .arg(rows.value(r, QStringLiteral("DeliveryReportStatus")).toInt());
    if (state == QLatin1String("PENDING")) return QStringLiteral("Waiting for report");
    return QString();
}

// A sort order as the window keeps it ("InboxDateTime desc", "Message"), checked
// against the folder's columns: only those ever reach the statement.
struct Order {
    QString column;
    bool descending = false;
};

Order parseOrder(const FolderDef& def, const QString& sortOrder, bool sentFolder) {
    const QStringList words = sortOrder.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    Order o;
    for (const QString& c : def.sortColumns)
        if (!words.isEmpty() && words[0].compare(c, Qt::CaseInsensitive) == 0) o.column = c;
    if (o.column.isEmpty() || words.size() > 2 ||
        (words.size() == 2 && words[1].compare(QLatin1String("desc"), Qt::CaseInsensitive) != 0 &&
         words[1].compare(QLatin1String("asc"), Qt::CaseInsensitive) != 0))
        throw DbError(QStringLiteral("The list cannot be sorted by '%1'.").arg(sortOrder));
    o.descending =
        words.size() == 2 && words[1].compare(QLatin1String("desc"), Qt::CaseInsensitive) == 0;
    // Sent Items by date: always the newest delivery first.
    if (sentFolder && o.column == def.dateColumn) o.descending = true;
    return o;
}

QString whereClause(const FolderDef& def, const QString& extra) {
    QStringList parts;
    if (!def.filter.isEmpty()) parts << def.filter;
    if (!extra.isEmpty()) parts << extra;
    return parts.isEmpty() ? QString()
                           : QStringLiteral(" where ") + parts.join(QLatin1String(" and "));
}

// "order by column [desc], key [desc]": the key settles ties, so every row has one
// place and pages neither repeat nor skip rows.
QString orderClause(const FolderDef& def, const Order& o, bool reversed) {
    const bool desc = o.descending != reversed;
    const QString dir = desc ? QStringLiteral(" desc") : QString();
    return QStringLiteral(" order by ") + o.column + dir + QStringLiteral(", ") + def.key + dir;
}

QString cellText(const QVariant& v) {
    return v.isNull() ? QString() : trimSpaces(v.toString());
}

void setBold(QTreeWidgetItem* item, bool bold) {
    for (int c = 0; c < item->columnCount(); ++c) {
        QFont f = item->font(c);
        f.setBold(bold);
        item->setFont(c, f);
    }
}

bool isDigits(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^[0-9]+$"));
    return re.match(text).hasMatch();
}

} // namespace

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

Frm_MessageBox::~Frm_MessageBox() {
    Form_Unload();
}

int Frm_MessageBox::thirdOfList() const {
    // A third of the list's width, leaving room for its vertical scroll bar.
    const int room = ListMessage->maximumViewportSize().width() -
                     ListMessage->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return std::max(room / 3, 20);
}

void Frm_MessageBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A folder listed while loading got its column widths before the window had its
    // size; the first showing sets them again.
    if (!shownOnce_ && (isInBoxSelected || isSentItemsSelected)) {
        for (int c = 0; c < 3; ++c)
            ListMessage->setColumnWidth(c, thirdOfList());
    }
    shownOnce_ = true;
}

void Frm_MessageBox::done(int result) {
    Form_Unload();
    QDialog::done(result);
}

void Frm_MessageBox::Form_Load() {
    ctx_.engine.MessageBoxOpen = true;
    isInBoxSelected = isOutBoxSelected = isSentItemsSelected = isFailedItemsSelected = false;
    CurrentPage = 1;
    InboxSortOrder = QStringLiteral("InboxDateTime desc");
    OutboxSortOrder = QStringLiteral("OutBoxDateTime");
    SentSortOrder = QStringLiteral("DeliveryDatetime");
    FailedSortOrder = QStringLiteral("OutBoxDateTime");
    resize(ui::twips(13410), ui::twips(9075));
    loaded_ = true;

    fillTreeView();
    // The home page's Inbox and Outbox labels say which folder to show first; the
    // next opening (from the menu) starts with none.
    const QString type = ctx_.engine.msgType;
    if (type == QLatin1String("I")) {
        selectNode(2);
        fillListInbox();
    } else if (type == QLatin1String("O")) {
        selectNode(3);
        fillListOutbox();
    }
    ctx_.engine.msgType.clear();
}

void Frm_MessageBox::Form_Unload() {
    if (!loaded_) return;
    loaded_ = false;
    ctx_.engine.MessageBoxOpen = false;
}

QTreeWidgetItem* Frm_MessageBox::node(int index) const {
    QTreeWidgetItem* root = TreeView1->topLevelItem(0);
    if (!root) return nullptr;
    if (index == 1) return root;
    return root->child(index - 2);
}

void Frm_MessageBox::selectNode(int index) {
    if (QTreeWidgetItem* n = node(index)) {
        const QSignalBlocker block(TreeView1);
        TreeView1->setCurrentItem(n);
        n->setSelected(true);
    }
}

Frm_MessageBox::Folder Frm_MessageBox::listedFolder() const {
    if (isInBoxSelected) return Folder::Inbox;
    if (isOutBoxSelected) return Folder::Outbox;
    if (isSentItemsSelected) return Folder::Sent;
    if (isFailedItemsSelected) return Folder::Failed;
    return Folder::None;
}

QString& Frm_MessageBox::sortOrder(Folder folder) {
    switch (folder) {
    case Folder::Inbox:
        return InboxSortOrder;
    case Folder::Outbox:
        return OutboxSortOrder;
    case Folder::Failed:
        return FailedSortOrder;
    default:
        return SentSortOrder;
    }
}

void Frm_MessageBox::fillTreeView() {
    try {
        const FolderTotals totals = readFolderTotals(ctx_.DBConnection);
        const QSignalBlocker block(TreeView1);
        TreeView1->clear();
        auto* root = new QTreeWidgetItem(TreeView1, {QStringLiteral("Message")});
        root->setData(0, Qt::UserRole, QStringLiteral("parent"));
        auto add = [root](const QString& name, qint64 count, bool counted) {
            auto* n = new QTreeWidgetItem(
                root, {counted && count > 0 ? name + QStringLiteral("(%1)").arg(count) : name});
            setBold(n, counted && count > 0);
        };
        add(QStringLiteral("Inbox"), totals.inboxUnread, true);
        add(QStringLiteral("Outbox"), totals.outboxWaiting, true);
        add(QStringLiteral("Sent Items"), 0, false);
        // Failed Items: while messages are given up on, or some are there.
        const QueryResult limit = ctx_.DBConnection.query(
            QStringLiteral("select GiveUpAfterTries from Timer_setting"));
        if (totals.outboxFailed > 0 ||
            (!limit.isEmpty() && limit.value(0, QStringLiteral("GiveUpAfterTries")).toInt() > 0))
            add(QStringLiteral("Failed Items"), totals.outboxFailed, true);
        setBold(root, true);
        root->setExpanded(true);
        // No node is selected now: a caller that wants the listed folder marked selects
        // it afterwards.
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::fillListInbox() {
    fillList(Folder::Inbox);
}
void Frm_MessageBox::fillListOutbox() {
    fillList(Folder::Outbox);
}
void Frm_MessageBox::fillListSent() {
    fillList(Folder::Sent);
}
void Frm_MessageBox::fillListFailed() {
    fillList(Folder::Failed);
}

void Frm_MessageBox::refillListedFolder(bool keepReading) {
    const Folder f = listedFolder();
    if (f != Folder::None) fillList(f, keepReading);
}

void Frm_MessageBox::fillList(Folder folder, bool keepReading) {
    // A fill the user asked for shows the busy cursor (a large folder takes a moment to
    // count and sort); one that follows the engine does not flicker it.
    std::optional<ui::BusyCursor> busy;
    if (!keepReading) busy.emplace();
    try {
        const FolderDef& def = folder == Folder::Inbox    ? inboxDef()
                               : folder == Folder::Outbox ? outboxDef()
                               : folder == Folder::Failed ? failedDef()
                                                          : sentDef();
        isInBoxSelected = folder == Folder::Inbox;
        isOutBoxSelected = folder == Folder::Outbox;
        isSentItemsSelected = folder == Folder::Sent;
        isFailedItemsSelected = folder == Folder::Failed;
        cmdSendAgain->setVisible(isFailedItemsSelected);
        cmdDeleteFailed->setVisible(isFailedItemsSelected);
        const Order order = parseOrder(def, sortOrder(folder), folder == Folder::Sent);

        // What the user is looking at survives a refresh from the engine.
        QSet<qint64> selected;
        qint64 current = -1;
        const int scroll = ListMessage->verticalScrollBar()->value();
        if (keepReading) {
            for (QTreeWidgetItem* item : ListMessage->selectedItems())
                selected << item->text(3).toLongLong();
            if (ListMessage->currentItem())
                current = ListMessage->currentItem()->text(3).toLongLong();
        } else {
            LblNo->clear();
            txtMessage->clear();
        }

        ListMessage->clear();
        const int third = thirdOfList();
        if (folder == Folder::Outbox) {
            ListMessage->setColumnCount(5);
            ListMessage->setHeaderLabels({QStringLiteral("Mobile Number"),
                                          QStringLiteral("Message"), QStringLiteral("Outbox Date"),
                                          QString(), QStringLiteral("Status")});
            const int widths[] = {2000, 4000, 2000, 0, 1500};
            for (int c = 0; c < 5; ++c)
                ListMessage->setColumnWidth(c, ui::twips(widths[c]));
        } else if (folder == Folder::Failed) {
            ListMessage->setColumnCount(6);
            ListMessage->setHeaderLabels({QStringLiteral("Mobile Number"),
                                          QStringLiteral("Message"), QStringLiteral("Outbox Date"),
                                          QString(), QStringLiteral("Tries"),
                                          QStringLiteral("Error")});
            const int widths[] = {2000, 3000, 2000, 0, 700, 3500};
            for (int c = 0; c < 6; ++c)
                ListMessage->setColumnWidth(c, ui::twips(widths[c]));
        } else {
            const bool sent = folder == Folder::Sent;
            ListMessage->setColumnCount(sent ? 5 : 4);
            QStringList labels{QStringLiteral("Mobile Number"), QStringLiteral("Message"),
                               sent ? QStringLiteral("Delivered On")
                                    : QStringLiteral("Received On"),
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

        const qint64 n = showTotals(folder);
        const qint64 size = pageSize();
        // A page past the end of a folder that shrank under it (rows deleted or sent
        // meanwhile) shows no rows; Previous leads back to the rows.
        if (CurrentPage < 1) CurrentPage = 1;
        if (n <= 0 || (CurrentPage - 1) * size >= n) {
            anchor_ = Anchor();
        } else {

            const QString select =
                QStringLiteral("select ") + def.columns + QStringLiteral(" from ") + def.table;
            const qint64 offset = (CurrentPage - 1) * size;
            const qint64 onPage = std::min(size, n - offset);
            QueryResult rows;
            bool found = false;

            // The next or previous page continues from the rows on screen, on the index
            // of the sort column, however deep in the folder they are. That needs a
            // sort value in every row of the folder (a null would fall out of the range).
            const bool sameView = anchor_.folder == folder && anchor_.order == sortOrder(folder);
            const bool step =
                sameView && (CurrentPage == anchor_.page + 1 || CurrentPage == anchor_.page - 1);
            if (step && def.indexedColumns.contains(order.column) &&
                (order.column == def.neverNull ||
                 ctx_.DBConnection.count(
                     QStringLiteral("select ") + def.key + QStringLiteral(" from ") + def.table +
                     whereClause(def, order.column + QStringLiteral(" is null")) +
                     QStringLiteral(" limit 1")) == 0)) {
                const bool forward = CurrentPage == anchor_.page + 1;
                const QVariant value = forward ? anchor_.lastValue : anchor_.firstValue;
                const qint64 key = forward ? anchor_.lastKey : anchor_.firstKey;
                // Rows after (or before) the boundary row in list order.
                const bool up = forward != order.descending;
                const QString cmp = up ? QStringLiteral(">") : QStringLiteral("<");
                const QString range = order.column + cmp + QStringLiteral("=? and (") +
                                      order.column + cmp + QStringLiteral("? or ") + def.key + cmp +
                                      QStringLiteral("?)");
                rows = ctx_.DBConnection.query(select + whereClause(def, range) +
                                                   orderClause(def, order, !forward) +
                                                   QStringLiteral(" limit ?"),
                                               {value, value, key, onPage});
                if (!forward) std::reverse(rows.rows.begin(), rows.rows.end());
                found = rows.count() == onPage;
            }
            // A jump in a folder sorted by date starts at the day the page begins in,
            // found from the folder's day totals: only the rows of that day before the
            // page are counted, not the whole folder before it.
            if (!found && order.column == def.dateColumn) {
                const QList<DayTotal> days = readDayTotals(ctx_.DBConnection, def.days);
                qint64 all = 0;
                for (const DayTotal& d : days)
                    all += d.messages;
                // Days that add up to less than the folder (a date that is no text)
                // cannot place the page: then the rows are counted.
                if (all == n && !days.isEmpty()) {
                    const qsizetype last = days.size() - 1;
                    qsizetype i = order.descending ? last : 0;
                    const qsizetype towards = order.descending ? -1 : 1;
                    qint64 before = 0;
                    while (before + days[i].messages <= offset && i + towards >= 0 &&
                           i + towards <= last) {
                        before += days[i].messages;
                        i += towards;
                    }
                    // Rows of that day and the days after it in list order. A date
                    // begins with its day, so a row of a later day (newest first: an
                    // earlier one) sorts past every row of an earlier day.
                    QString range;
                    QVariantList params;
                    if (!order.descending) {
                        range = order.column + QStringLiteral(">=?");
                        params << days[i].day;
                    } else if (i < last) {
                        range = order.column + QStringLiteral("<?");
                        params << days[i + 1].day;
                    }
                    params << onPage << offset - before;
                    rows = ctx_.DBConnection.query(select + whereClause(def, range) +
                                                       orderClause(def, order, false) +
                                                       QStringLiteral(" limit ? offset ?"),
                                                   params);
                    found = rows.count() == onPage;
                }
            }
            if (!found) {
                // Counted in from the nearer end of the folder.
                const qint64 fromEnd = n - offset - onPage;
                const bool reversed = fromEnd < offset;
                rows = ctx_.DBConnection.query(select + whereClause(def, QString()) +
                                                   orderClause(def, order, reversed) +
                                                   QStringLiteral(" limit ? offset ?"),
                                               {onPage, reversed ? fromEnd : offset});
                if (reversed) std::reverse(rows.rows.begin(), rows.rows.end());
            }

            QList<QTreeWidgetItem*> items;
            items.reserve(rows.count());
            for (int r = 0; r < rows.count(); ++r) {
                auto* item = new QTreeWidgetItem;
                if (folder == Folder::Inbox) {
                    item->setText(0, cellText(rows.value(r, QStringLiteral("SenderMobileNo"))));
                    item->setText(1, listText(rows.value(r, QStringLiteral("Message"))));
                    item->setText(2, cellText(rows.value(r, QStringLiteral("InboxDateTime"))));
                    item->setText(3, cellText(rows.value(r, QStringLiteral("InBox_Id"))));
                    if (rows.value(r, QStringLiteral("IsRead")).toLongLong() == 0)
                        setBold(item, true);
                } else {
                    item->setText(0, cellText(rows.value(r, QStringLiteral("RecipientMobileNo"))));
                    item->setText(1, listText(rows.value(r, QStringLiteral("Message"))));
                    item->setText(2, cellText(rows.value(r, def.dateColumn)));
                    item->setText(3, cellText(rows.value(r, QStringLiteral("Outbox_Id"))));
                    if (folder == Folder::Outbox) {
                        const QString status =
                            cellText(rows.value(r, QStringLiteral("DeliveryStatus")));
                        const QString after = cellText(rows.value(r, QStringLiteral("SendAfter")));
                        if (!status.isEmpty())
                            item->setText(4, status);
                        else if (!after.isEmpty() && after > dateTimeText(ctx_.now()))
                            item->setText(4, QStringLiteral("Send at ") + after.left(16));
                    } else if (folder == Folder::Failed) {
                        item->setText(4, cellText(rows.value(r, QStringLiteral("SendTries"))));
                        item->setText(5, listText(rows.value(r, QStringLiteral("LastError"))));
                    } else if (folder == Folder::Sent) {
                        item->setText(4, deliveryReportText(rows, r));
                    }
                }
                items << item;
            }
            ListMessage->addTopLevelItems(items);

            anchor_ = Anchor();
            if (!rows.isEmpty()) {
                anchor_.folder = folder;
                anchor_.order = sortOrder(folder);
                anchor_.page = CurrentPage;
                anchor_.firstValue = rows.value(0, order.column);
                anchor_.firstKey = rows.value(0, def.key).toLongLong();
                anchor_.lastValue = rows.value(rows.count() - 1, order.column);
                anchor_.lastKey = rows.value(rows.count() - 1, def.key).toLongLong();
            }
        }

        if (keepReading) {
            for (int i = 0; i < ListMessage->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = ListMessage->topLevelItem(i);
                const qint64 key = item->text(3).toLongLong();
                if (key == current) {
                    ListMessage->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
                }
                if (selected.contains(key)) item->setSelected(true);
            }
            ListMessage->verticalScrollBar()->setValue(scroll);
        }
        cmdNext->setEnabled(TotalPages > CurrentPage);
        cmdPrevious->setEnabled(CurrentPage > 1);
        // The page box shows the page listed, unless the person is typing in it.
        if (!(keepReading && txtPages->isModified())) {
            const QSignalBlocker block(txtPages);
            txtPages->setText(QString::number(CurrentPage));
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

qint64 Frm_MessageBox::pageSize() const {
    return ctx_.engine.MessageBoxPageSize > 0 ? ctx_.engine.MessageBoxPageSize : 100;
}

qint64 Frm_MessageBox::showTotals(Folder folder) {
    const FolderTotals totals = readFolderTotals(ctx_.DBConnection);
    const qint64 n = folder == Folder::Inbox    ? totals.inboxTotal
                     : folder == Folder::Outbox ? totals.outboxWaiting
                     : folder == Folder::Failed ? totals.outboxFailed
                                                : totals.sentTotal;
    const qint64 size = pageSize();
    if (n <= 0) {
        TotalPages = 0;
        lblPages->setText(QStringLiteral("of 0 Pages. Total records: 0"));
    } else {
        TotalPages = n % size == 0 ? n / size : n / size + 1;
        lblPages->setText(n % size != 0
                              ? QStringLiteral("of %1 Pages. Total records: %2").arg(TotalPages).arg(n)
                              : QStringLiteral("of %1 Total records: %2").arg(TotalPages).arg(n));
    }
    return n;
}

QString Frm_MessageBox::listText(const QVariant& value) {
    if (value.isNull()) return QString();
    QString s = value.toString();
    s.replace(QLatin1String("\r\n"), QLatin1String(" "));
    // Line breaks typed on this machine are single characters; they too keep a row to one line.
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return trimSpaces(s);
}

void Frm_MessageBox::TreeView1_NodeClick(int index) {
    try {
        CurrentPage = 1; // for every node, the root too
        if (index == 1) return; // the root: the list keeps what it shows
        if (index == 2)
            fillListInbox();
        else if (index == 3)
            fillListOutbox();
        else if (index == 4)
            fillListSent();
        else if (index == 5 && node(5))
            fillListFailed();
        else
            return;
        selectNode(index);
        if (ListMessage->topLevelItemCount() > 0) {
            ListMessage->clearSelection();
            ListMessage->setCurrentItem(nullptr);
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::cmdNext_Click() {
    ++CurrentPage;
    refillListedFolder();
}

void Frm_MessageBox::cmdPrevious_Click() {
    if (CurrentPage > 1) {
        --CurrentPage;
        refillListedFolder();
    }
}

void Frm_MessageBox::txtPages_Change() {
    const QString t = trimSpaces(txtPages->text());
    if (t.isEmpty()) return;
    if (!isDigits(t)) {
        ui::MsgBox(QStringLiteral("Please enter numeric value."), ui::Icon::None);
        txtPages->setText(QString::number(CurrentPage));
    }
}

void Frm_MessageBox::txtPages_KeyPress(int keyAscii) {
    if (keyAscii != 13) return;
    const QString t = trimSpaces(txtPages->text());
    // An empty box is no number: the conversion's own error, and nothing else happens.
    if (t.isEmpty()) {
        ui::MsgBox(QStringLiteral("Type mismatch"), ui::Icon::None);
        return;
    }
    bool ok = false;
    const qint64 n = isDigits(t) ? t.toLongLong(&ok) : 0;
    if (ok && n >= 1 && n <= TotalPages) {
        CurrentPage = n;
        refillListedFolder();
    } else {
        ui::MsgBox(QStringLiteral("This page does not exist."));
        txtPages->setText(QString::number(CurrentPage));
    }
}

void Frm_MessageBox::ListMessage_ColumnClick(int column) {
    const Folder f = listedFolder();
    if (f == Folder::None || column < 1 || column > 3) return;
    const FolderDef& def = f == Folder::Inbox    ? inboxDef()
                           : f == Folder::Outbox ? outboxDef()
                           : f == Folder::Failed ? failedDef()
                                                 : sentDef();
    sortOrder(f) = def.sortColumns[column - 1];
    refillListedFolder();
}

void Frm_MessageBox::ListMessage_Click(const QPoint& pos) {
    QTreeWidgetItem* item = ListMessage->itemAt(pos);
    if (!item || ListMessage->columnAt(pos.x()) < 0) return;
    readRow(item);
}

void Frm_MessageBox::readRow(QTreeWidgetItem* item) {
    try {
        const qint64 key = item->text(3).trimmed().toLongLong();
        LblNo->clear();
        txtMessage->clear();
        if (isInBoxSelected) {
            LblNo->setText(trimSpaces(item->text(0)));
            const QueryResult r = ctx_.DBConnection.query(
                QStringLiteral("select * from Message_InBox where InBox_Id=?"), {key});
            if (!r.isEmpty()) {
                txtMessage->setPlainText(cellText(r.value(0, QStringLiteral("Message"))));
                ctx_.DBConnection.execute(
                    QStringLiteral(
                        "update Message_InBox set IsRead=true where InBox_Id=? and IsRead=false"),
                    {key});
            }
            setBold(item, false);
            fillTreeView();
            selectNode(2);
        } else if (isOutBoxSelected || isSentItemsSelected || isFailedItemsSelected) {
            LblNo->setText(trimSpaces(item->text(0)));
            const QueryResult r = ctx_.DBConnection.query(
                QStringLiteral("select * from Message_OutBox where Outbox_Id=?"), {key});
            if (!r.isEmpty())
                txtMessage->setPlainText(cellText(r.value(0, QStringLiteral("Message"))));
            selectNode(isOutBoxSelected ? 3 : isSentItemsSelected ? 4 : 5);
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::DeleteSMS() {
    ui::ask(this, QStringLiteral("Are you sure to delete the message(s)?"), ui::Icon::None,
            [this](ui::Answer a) {
                if (a == ui::Answer::Yes) deleteSelected();
            });
}

void Frm_MessageBox::deleteSelected() {
    try {
        QList<QTreeWidgetItem*> chosen;
        for (int i = 0; i < ListMessage->topLevelItemCount(); ++i)
            if (ListMessage->topLevelItem(i)->isSelected()) chosen << ListMessage->topLevelItem(i);
        if (chosen.isEmpty()) {
            ui::MsgBox(QStringLiteral("Please select message which you want to delete."),
                       ui::Icon::None);
            return;
        }
        const ui::BusyCursor busy;
        // A row that moved to the other folder since the page was read (a message sent
        // while the Outbox was on screen) is left alone; its list row goes all the same.
        QString sql;
        if (isInBoxSelected)
            sql = QStringLiteral("delete from Message_InBox where InBox_Id=?");
        else if (isOutBoxSelected)
            sql = QStringLiteral(
                "delete from Message_Outbox where DeliveryDatetime is Null and Outbox_Id=?");
        else if (isSentItemsSelected)
            sql = QStringLiteral(
                "delete from Message_Outbox where DeliveryDatetime is not Null and Outbox_Id=?");
        else if (isFailedItemsSelected)
            sql = QStringLiteral("delete from Message_Outbox where DeliveryDatetime is Null and "
                                 "DeliveryStatus='FAILED' and Outbox_Id=?");
        else
            return;
        // All selected rows go together, or none (and the list stays as it was).
        ctx_.DBConnection.transaction([&] {
            for (QTreeWidgetItem* item : chosen)
                ctx_.DBConnection.execute(sql, {item->text(3).trimmed().toLongLong()});
        });
        qDeleteAll(chosen);
        LblNo->clear();
        txtMessage->clear();
        fillTreeView();
        // The rows left on the page stay; the totals tell the truth.
        showTotals(listedFolder());
        cmdNext->setEnabled(TotalPages > CurrentPage);
        cmdPrevious->setEnabled(CurrentPage > 1);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::cmdSendAgain_Click() {
    if (!isFailedItemsSelected) return;
    try {
        QList<qint64> keys;
        for (QTreeWidgetItem* item : ListMessage->selectedItems())
            keys << item->text(3).trimmed().toLongLong();
        if (keys.isEmpty()) {
            ui::MsgBox(QStringLiteral("Please select message which you want to send again."),
                       ui::Icon::None);
            return;
        }
        // Back to waiting, with a fresh count of tries.
        ctx_.DBConnection.transaction([&] {
            for (const qint64 key : keys)
                ctx_.DBConnection.execute(
                    QStringLiteral("update Message_OutBox set DeliveryStatus='', SendTries=0, "
                                   "LastError=null where Outbox_Id=? and DeliveryDatetime is "
                                   "Null and DeliveryStatus='FAILED'"),
                    {key});
        });
        LblNo->clear();
        txtMessage->clear();
        fillTreeView();
        refillListedFolder();
        selectNode(5);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()), ui::Icon::None);
    }
}

void Frm_MessageBox::ListMessage_KeyDown(int keyCode) {
    if (keyCode == 46) DeleteSMS();
}

void Frm_MessageBox::Toolbar1_ButtonClick(int index) {
    const ModemState& m = ctx_.modem;
    // Never a second exchange inside one that is waiting for its answer.
    const bool modemFree =
        m.ModemConnected && m.ModemInitialized && !m.ModemBusy && m.ExchangeDepth == 0;
    if (index == 1) {
        if (modemFree && !m.ListingInProgress) {
            WriteActivityLog(ctx_, QStringLiteral("Checking for new SMS on SIM card."));
            emit ctx_.notifier.receiveRequested();
        }
    } else if (index == 2) {
        if (modemFree) {
            WriteActivityLog(ctx_, QStringLiteral("Checking if there are any SMS to be sent."));
            emit ctx_.notifier.sendRequested();
        }
    } else if (index == 3) {
        DeleteSMS();
    }
}

void Frm_MessageBox::refreshFromEngine() {
    if (!loaded_) return;
    fillTreeView();
    refillListedFolder(true);
}

bool Frm_MessageBox::showNewInboxRow(const QString& sender, const QString& text, qint64 id) {
    if (!loaded_ || !isInBoxSelected) return false;
    auto* item = new QTreeWidgetItem;
    item->setText(0, trimSpaces(sender));
    item->setText(1, listText(text));
    item->setText(2, nowText());
    item->setText(3, QString::number(id));
    setBold(item, true);
    ListMessage->insertTopLevelItem(0, item);
    return true;
}

bool Frm_MessageBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListMessage->viewport() && event->type() == QEvent::MouseButtonRelease) {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton) ListMessage_Click(e->position().toPoint());
    } else if (watched == ListMessage && event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            ListMessage_KeyDown(46);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void showMessageBox(AppContext& ctx, QWidget* parent) {
    auto* w = new Frm_MessageBox(ctx, parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModal(w);
}
