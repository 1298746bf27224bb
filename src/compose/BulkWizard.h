#pragma once

#include <QLabel>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class AppContext;
class ImportReader;
struct ImportRequest;
class QPushButton;
class QVBoxLayout;
class BulkWizard;
class Frm_BulkSMS_Step2;
class Frm_BulkSMS_Step3;
class Frm_BulkSMS_Step4;
class Frm_BulkSMS_Step5;

// The common frame of the bulk wizard's four windows: caption, size, the wizard picture,
// the Next / Close (and, from step 3, Back) buttons. A step is "loaded" from its load
// to its unload; while any step is loaded the program's ModalFormOpen flag is set. The
// window's close box unloads the step, which ends the wizard run.
class BulkWizardStep : public QWidget {
    Q_OBJECT
public:
    BulkWizardStep(BulkWizard& wizard, int step, const QString& nextCaption);

    int step() const { return step_; }
    BulkWizard& wizard() const { return wizard_; }
    AppContext& ctx() const;

    // Runs when the wizard loads the step, before it is shown.
    virtual void Form_Load();
    // Runs when the wizard unloads the step: releases what the step holds.
    virtual void Form_Unload();

    QLabel* Image1;
    QPushButton* cmdBack = nullptr; // steps 3 to 5
    QPushButton* cmdNext;
    QPushButton* cmdClose;

protected:
    // Where a step puts its own controls.
    QVBoxLayout* body() const { return body_; }
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    // The window progress windows and message boxes belong to.
    QWidget* ownerWindow();

private:
    friend class BulkWizard;
    BulkWizard& wizard_;
    int step_;
    bool unloading_ = false;
    QVBoxLayout* body_;
};

// One run of the bulk wizard: the values the steps hand on to each other and the step
// windows that are loaded. A run starts when the main window opens step 2 with every
// value empty; closing any step unloads every step and ends it.
class BulkWizard : public QObject {
    Q_OBJECT
public:
    // `owner`: the main window (or none); the steps are its dialog windows.
    BulkWizard(AppContext& ctx, QWidget* owner = nullptr);
    ~BulkWizard() override;

    // The main window's entry: shows step 2 modally in the current run, or in a new one
    // when no step is loaded. `afresh`: unload a loaded step 2 first (the "Bulk SMS"
    // command). Returns the wizard of the run.
    static BulkWizard* open(AppContext& ctx, QWidget* mainWindow, bool afresh);

    AppContext& ctx() const { return ctx_; }
    QWidget* owner() const { return owner_; }

    // Values handed on, written when a step's Next is pressed (step 2's path also by
    // Browse). They last for the whole run; unloading a step keeps them.
    struct Step2Values {
        QString SelectedfileName;
        QString NoSeperatedBy;
    } fromStep2;
    struct Step3Values {
        QString tableName;
        QString FieldName;
        QString SMSColumnName;
        QString realTableName; // as the file writes it
    } fromStep3;
    struct Step4Values {
        QString SheetName; // as shown: without "$" and surrounding spaces
        QString ColumnName;
        QString SMSColumnName;
        QString realSheetName; // as the file writes it
    } fromStep4;
    // The tables or sheets of SelectedfileName, listed before its step 3 or 4 loads.
    QStringList listedTables;

    // Reads a step of the chosen file in the reader process, with a progress window
    // (owned by `window`) whose Cancel stops it; `then` runs when it is over, whatever the
    // outcome. A read still running is cancelled first (its `then` does not run).
    void read(const ImportRequest& request, QWidget* window, const QString& label,
              std::function<void(ImportReader&)> then);
    // Long work of a step, so that a second click does not start it twice.
    void setBusy(bool busy);
    // True while a read or the queueing is under way.
    bool isBusy() const;
    ImportReader& reader();
    // The progress window of the read under way (null when none).
    QWidget* progressWindow() const { return progress_; }

    // Ends the run's steps and shows step 2 again with the choices made in it: where the
    // wizard goes when the file cannot be read.
    void backToFileStep();

    // The loaded step windows (null when not loaded).
    Frm_BulkSMS_Step2* Step2() const;
    Frm_BulkSMS_Step3* Step3() const;
    Frm_BulkSMS_Step4* Step4() const;
    Frm_BulkSMS_Step5* Step5() const;
    bool isLoaded(int step) const;
    bool anyLoaded() const;

    // Loads a step when it is not loaded (its load runs) and returns it.
    BulkWizardStep& load(int step);
    // Loads the step if needed and shows it (modal to the program, without waiting).
    void show(int step);
    // Hides a loaded step; it keeps its inputs.
    void hide(int step);
    // Unloads a step and with it every other step: the run is over unless a step is
    // loaded again.
    void unload(int step);

signals:
    // Long work is over (a read or the queueing).
    void idle();

private:
    AppContext& ctx_;
    ImportReader* reader_ = nullptr;
    QPointer<QWidget> progress_;
    std::function<void(ImportReader&)> then_;
    bool busy_ = false;
    QPointer<QWidget> owner_;
    QPointer<BulkWizardStep> steps_[6];
    // Unloaded steps waiting to be deleted; the wizard deletes those left when it goes.
    QList<QPointer<BulkWizardStep>> retired_;
};
