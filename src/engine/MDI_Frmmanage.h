#pragma once

#include <QMainWindow>

class AppContext;
class QMdiArea;
class QMdiSubWindow;

// The main window: the parent of every other window, with the home page inside.
class MDI_Frmmanage : public QMainWindow {
    Q_OBJECT
public:
    explicit MDI_Frmmanage(AppContext& ctx, QWidget* parent = nullptr);

    // The load sequence: flags, delay factor, auto reply, timer settings, home page.
    // Errors are shown as their description and end the load.
    void MDIForm_Load();

    QMdiArea* mdiArea() const { return mdi_; }

private:
    void showHomePage();
    AppContext& ctx_;
    QMdiArea* mdi_;
    QMdiSubWindow* homeWindow_ = nullptr;
};
