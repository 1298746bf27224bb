// The program's import-file reader: runs one step of reading an import file (list the
// tables or sheets, list a table's columns, preview its first records, read its entries)
// and answers on its standard output in the framed stream of compose/ImportStream.h.
// The program starts it for every step and kills it on Cancel; it runs under limits of
// its own, so that a file that makes a reading library hang, overrun or abort ends this
// process and never the program.
//
//   bulksms-import [--memory-mb N] [--cpu-seconds N] STEP SOURCE FILE TABLE NUMBER MESSAGE
//                  SEPARATOR RECORDS
#include "compose/ImportLimits.h"
#include "compose/ImportStream.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

bool writeAll(const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

void limit(int resource, rlim_t soft, rlim_t hard) {
    rlimit r{soft, hard};
    setrlimit(resource, &r);
}

} // namespace

int main(int argc, char** argv) {
    // Gone with the program, whatever happens to it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1) return 1;

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    qint64 memoryMb = importlimits::readerMemoryBytes >> 20;
    int cpuSeconds = importlimits::readerCpuSeconds;
    while (args.size() >= 2 && args[0].startsWith(QLatin1String("--"))) {
        bool ok = false;
        const qint64 v = args[1].toLongLong(&ok);
        if (!ok || v <= 0) break;
        if (args[0] == QLatin1String("--memory-mb")) memoryMb = v;
        else if (args[0] == QLatin1String("--cpu-seconds")) cpuSeconds = static_cast<int>(v);
        else break;
        args.remove(0, 2);
    }
    const std::optional<ImportRequest> request = ImportRequest::fromArguments(args);
    if (!request) {
        std::fprintf(stderr, "usage: bulksms-import [--memory-mb N] [--cpu-seconds N] "
                             "tables|columns|preview|read text|access|excel FILE TABLE NUMBER "
                             "MESSAGE SEPARATOR RECORDS\n");
        return 2;
    }

    ImportStreamWriter out(writeAll);
    WorkProgress progress;
    // Progress goes out when it moves: a reader stuck inside a library sends nothing, and
    // the program takes the silence for a hang.
    std::mutex m;
    std::condition_variable cv;
    bool stop = false;
    std::thread reporter([&] {
        qint64 sent = -1;
        std::unique_lock lock(m);
        while (!cv.wait_for(lock, std::chrono::milliseconds(200), [&] { return stop; })) {
            const qint64 done = progress.done.load();
            if (done != sent) {
                sent = done;
                out.progress(done, progress.total.load());
            }
        }
    });
    // The limits come after the thread is started (its stack is address space too).
    limit(RLIMIT_CORE, 0, 0);
    limit(RLIMIT_CPU, static_cast<rlim_t>(cpuSeconds), static_cast<rlim_t>(cpuSeconds) + 5);
#if !defined(__SANITIZE_ADDRESS__)
    // (AddressSanitizer keeps terabytes of address space for itself.)
    limit(RLIMIT_AS, static_cast<rlim_t>(memoryMb) << 20, static_cast<rlim_t>(memoryMb) << 20);
#endif
    // The other side gone: end quietly.
    std::signal(SIGPIPE, SIG_DFL);

    setReadingMemoryLimit(memoryMb << 20);
    runImportStep(*request, out, progress);
    {
        std::lock_guard lock(m);
        stop = true;
    }
    cv.notify_all();
    reporter.join();
    // What the readers hold goes with the process; tearing down what a damaged file built
    // would only be another chance to fail.
    std::fflush(stderr);
    _exit(out.finished() ? 0 : 1);
}
