// gsm-modem-sim: a simulated GSM modem (SMS text and PDU mode) on a pseudo-terminal.
//
// It creates a pseudo-terminal, links its device at the path given on the command line
// and answers AT commands on it like a GSM modem with a SIM card. Line commands on its
// standard input or on a Unix control socket deliver SMS, ring, slow it down, silence
// it, make it reject sends, fill its SIM and unplug it. Every command it gets and every
// SMS it "sends" is written, one JSON object per line, to a transcript file.
// See README.md beside this file, or run it with --help.

#include "Options.h"
#include "Simulator.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

using namespace sim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    int saved = errno;
    char c = 1;
    [[maybe_unused]] auto r = write(signalPipe[1], &c, 1);
    errno = saved;
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    const int exitCode = parseOptions(std::vector<std::string>(argv + 1, argv + argc), opt);
    if (exitCode >= 0) return exitCode;

    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator sim(opt);
    std::string error;
    if (!sim.start(error)) {
        std::fprintf(stderr, "gsm-modem-sim: %s\n", error.c_str());
        return 1;
    }
    return sim.run(signalPipe[0]);
}
