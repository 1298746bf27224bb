#include "engine/Startup.h"

#include "core/AppContext.h"
#include "core/Storage.h"
#include "ui/Ui.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <memory>

bool ConnectDatabase(AppContext& ctx) {
    const QString error = openDatabase(ctx);
    if (!error.isEmpty()) ui::MsgBox(connectionErrorMessage(error));
    return ctx.core.DatabaseConnected;
}

bool screenNeedsWarning(int width, int height) {
    return width < 1024 && height < 768;
}

QString screenWarningText(int width, int height) {
    const QStringList lines = {
        QStringLiteral("Required Screen Resolution: 1024 x 768"),
        QStringLiteral("Current Screen Resolution: %1 x %2").arg(width).arg(height),
        QString(),
        QStringLiteral("This application requires 1024 x 768 screen resolution. Application may "
                       "not be displyed properly on your screen."),
        QString(),
        QStringLiteral(" It is highly recommanded that you should increase the screen resolution "
                       "to 1024 x 768."),
        QStringLiteral(" Do you want to continue any way?"),
    };
    return lines.join(QStringLiteral("\r\n"));
}

namespace {

void showSplash(std::function<void()> showMainWindow) {
    auto* splash = new frmSplash(std::move(showMainWindow));
    splash->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModeless(splash);
    splash->setFocus();
}

} // namespace

bool Main(AppContext& ctx, std::function<void()> showMainWindow) {
    ConnectDatabase(ctx);
    if (ctx.core.DatabaseConnected) {
        try {
            DiscardUnfinishedQueueing(ctx);
        } catch (const DbError&) {
            // Such rows are never sent; they go at a later start.
        }
        ctx.engine.ModalFormOpen = false;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QSize size = screen->size();
            if (screenNeedsWarning(size.width(), size.height())) {
                // The question may be answered later (a real box): the flag outlives
                // this call.
                auto ended = std::make_shared<bool>(false);
                ui::ask(nullptr, screenWarningText(size.width(), size.height()),
                        [&ctx, ended, showMainWindow](ui::Answer answer) mutable {
                            if (answer != ui::Answer::Yes) {
                                *ended = true;
                                ctx.endProcess(0);
                                return;
                            }
                            showSplash(std::move(showMainWindow));
                        });
                return !*ended;
            }
        }
    }
    showSplash(std::move(showMainWindow));
    return true;
}

frmSplash::frmSplash(std::function<void()> showMainWindow, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint),
      showMainWindow_(std::move(showMainWindow)) {
    setObjectName(QStringLiteral("frmSplash"));
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(ui::twips(6600), ui::twips(3600));
    setStyleSheet(QStringLiteral("frmSplash { background: #0f3d6e; } QLabel { color: white; }"));
    setAttribute(Qt::WA_StyledBackground);

    auto* title = new QLabel(ui::appTitle(), this);
    QFont f = title->font();
    f.setPointSizeF(f.pointSizeF() * 2.2);
    f.setBold(true);
    title->setFont(f);
    title->setAlignment(Qt::AlignCenter);
    Label1 = new QLabel(QStringLiteral("Version %1\n\nSend and receive SMS through your GSM modem.")
                            .arg(frm_About::versionText()),
                        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    auto* v = new QVBoxLayout(this);
    v->addStretch();
    v->addWidget(title);
    v->addWidget(Label1);
    v->addStretch();

    Timer1 = new ui::LegacyTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &ui::LegacyTimer::timeout, this, &frmSplash::handOver);
    Timer1->setInterval(3000);
}

void frmSplash::mousePressEvent(QMouseEvent* e) {
    QWidget::mousePressEvent(e);
    handOver();
}

void frmSplash::keyPressEvent(QKeyEvent* e) {
    QWidget::keyPressEvent(e);
    handOver();
}

void frmSplash::handOver() {
    // The timer, a click and a key may all arrive; only the first hands over.
    if (handedOver_) return;
    handedOver_ = true;
    Timer1->setEnabled(false);
    close();
    if (showMainWindow_) showMainWindow_();
}

frm_About::frm_About(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frm_About"));
    setWindowTitle(QStringLiteral("About ") + ui::appTitle());
    auto* title = new QLabel(ui::appTitle(), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont f = title->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.5);
    title->setFont(f);
    auto* version = new QLabel(QStringLiteral("Version ") + versionText(), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto* about = new QLabel(
        QStringLiteral("Sends and receives SMS through a GSM modem or phone on a serial port."),
        this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* v = new QVBoxLayout(this);
    v->addWidget(title);
    v->addWidget(version);
    v->addWidget(about);
    v->addWidget(buttons);
}

QString frm_About::versionText() {
    return QStringLiteral(BULKSMS_VERSION);
}
