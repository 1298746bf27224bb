#pragma once

// The simulator process: the modem on a pseudo-terminal, the control socket and standard
// input that drive it, and the transcript. One poll loop serves them all.

#include "Control.h"
#include "Modem.h"
#include "Options.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

namespace sim {

class Simulator {
public:
    explicit Simulator(Options opt) : opt_(std::move(opt)), modem_(opt_.config) {
        modem_.setDelay(opt_.delay);
        modem_.setNetworkDelay(opt_.networkDelay);
        modem_.onTranscript = [this](const std::string& json) { writeTranscript(json); };
        modem_.onSend = [this](int64_t) { runOnSend(); };
    }
    ~Simulator() { cleanup(); }

    // Creates the transcript, the pseudo-terminal with its link and the control socket,
    // then prints READY.
    bool start(std::string& error);
    // Runs until quit or until `signalFd` becomes readable; returns the exit code.
    int run(int signalFd);

private:
    struct Client {
        int fd = -1;
        std::string in;
    };

    int64_t now() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

    bool plug(std::string& error);
    void unplug();
    bool listen(std::string& error);
    void cleanup();
    void writeTranscript(const std::string& json) {
        if (transcriptFd_ < 0) return;
        std::string line = json + "\n";
        size_t off = 0;
        while (off < line.size()) {
            ssize_t w = write(transcriptFd_, line.data() + off, line.size() - off);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return;
            off += static_cast<size_t>(w);
        }
    }
    void flushLine();
    void readLine();
    void readClient(Client& c);
    void readStdin();
    // Control commands (SimulatorControl.cpp): one line in, one reply line out.
    std::string handle(const std::string& rawLine);
    std::string handleSms(const std::string& line, const std::vector<Word>& w);
    std::string handleFate(const std::vector<Word>& w);
    void runOnSend();

    Options opt_;
    Modem modem_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    int master_ = -1;
    int slave_ = -1;
    std::string pts_;
    int listenFd_ = -1;
    std::vector<Client> clients_;
    bool stdinOpen_ = true;
    std::string stdinBuf_;
    int transcriptFd_ = -1;
    std::string pendingOut_;
    std::vector<std::string> onSend_; // control commands armed for the next send
    bool quit_ = false;
    bool cleaned_ = false;
};

} // namespace sim
