#pragma once

#include "core/WorkProgress.h"

#include <QString>
#include <exception>
#include <functional>
#include <optional>

class QWidget;

// Runs work off the window thread while the windows stay responsive: the calling thread
// keeps running window events (timers, repaints) until the work is done, and a modal
// progress window with `label` appears when the work takes longer than a moment. The
// work must not touch windows or the database connection. An exception thrown by the
// work is rethrown here, on the calling thread.
namespace ui {

void runInBackground(const QString& label, const std::function<void(WorkProgress&)>& work,
                     QWidget* parent = nullptr);

template <class T>
T computeInBackground(const QString& label, const std::function<T(WorkProgress&)>& work,
                      QWidget* parent = nullptr) {
    std::optional<T> result;
    runInBackground(
        label, [&](WorkProgress& p) { result.emplace(work(p)); }, parent);
    return std::move(*result);
}

// A progress window for work done on the window thread in steps (queueing rows): shown
// only when the work lasts longer than a moment; step() updates it and lets window
// events run.
class StepProgress {
public:
    StepProgress(const QString& label, qint64 total, QWidget* parent = nullptr);
    ~StepProgress();
    StepProgress(const StepProgress&) = delete;
    StepProgress& operator=(const StepProgress&) = delete;
    void step(qint64 done);

private:
    struct Impl;
    Impl* d_;
};

// How long work may run before its progress window appears, in milliseconds.
inline constexpr int progressDelayMs = 400;

} // namespace ui
