#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>
#include <functional>

class AppContext;
class QLabel;
namespace ui {
class LegacyTimer;
}

// Opens the program's database (core/Storage.h: openDatabase) and, on failure, shows the
// connection-error message. Returns DatabaseConnected.
bool ConnectDatabase(AppContext& ctx);

// Screen check at start-up: warn only when the screen is smaller than 1024 x 768 in
// both directions.
bool screenNeedsWarning(int width, int height);
QString screenWarningText(int width, int height);

// The start of the program: opens the database, sets the process-wide flags, warns
// about a small screen and shows the splash, which later calls showMainWindow.
// Returns false when the user has already chosen to end the program at the screen
// warning (the context's endProcess has then been called); the warning's answer may also
// come later, and then ends the program or shows the splash.
bool Main(AppContext& ctx, std::function<void()> showMainWindow);

// The splash window: hands over to the main window after 3 seconds, a click or a key,
// exactly once.
class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(std::function<void()> showMainWindow, QWidget* parent = nullptr);

    ui::LegacyTimer* Timer1;
    QLabel* Label1;

    bool handedOver() const { return handedOver_; }

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void handOver();
    std::function<void()> showMainWindow_;
    bool handedOver_ = false;
};

// The about box: the application's title and version.
class frm_About : public QDialog {
    Q_OBJECT
public:
    explicit frm_About(QWidget* parent = nullptr);
    static QString versionText();
};
