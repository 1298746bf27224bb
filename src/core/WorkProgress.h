#pragma once

#include <QtGlobal>
#include <atomic>

// How far a piece of work running off the window thread has got. The worker sets
// `total` (0 while unknown) and `done`; the window reads them to show progress and may
// ask the worker to stop early through `cancelled`.
struct WorkProgress {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    std::atomic<bool> cancelled{false};

    void set(qint64 d, qint64 t) {
        total.store(t, std::memory_order_relaxed);
        done.store(d, std::memory_order_relaxed);
    }
    bool stopRequested() const { return cancelled.load(std::memory_order_relaxed); }
};

// Reports progress through an optional WorkProgress.
inline void reportProgress(WorkProgress* p, qint64 done, qint64 total) {
    if (p) p->set(done, total);
}
