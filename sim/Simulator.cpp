#include "Simulator.h"

#include "Json.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

void setNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

bool makeParents(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        std::string dir = path.substr(0, pos);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

} // namespace

bool Simulator::start(std::string& error) {
    makeParents(opt_.transcript);
    transcriptFd_ = open(opt_.transcript.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (transcriptFd_ < 0) {
        error = "cannot write the transcript " + opt_.transcript + ": " + std::strerror(errno);
        return false;
    }
    if (!plug(error)) return false;
    if (!listen(error)) return false;
    std::printf("READY %s\n", opt_.link.c_str());
    std::fflush(stdout);
    return true;
}

bool Simulator::plug(std::string& error) {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (m >= 0) close(m);
        return false;
    }
    const char* name = ptsname(m);
    if (!name) {
        error = "ptsname failed";
        close(m);
        return false;
    }
    std::string pts = name;
    // The simulator keeps the slave side open itself, so that the master never sees a
    // hang-up while the program closes and reopens the port.
    int s = open(pts.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0) {
        error = "cannot open " + pts + ": " + std::strerror(errno);
        close(m);
        return false;
    }
    termios tio{};
    if (tcgetattr(s, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(s, TCSANOW, &tio);
    }
    // Anyone may open the device, as a modem device that the user can use.
    chmod(pts.c_str(), 0666);
    setNonBlocking(m);

    struct stat st {};
    if (lstat(opt_.link.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = opt_.link + " is a folder";
            close(s);
            close(m);
            return false;
        }
        unlink(opt_.link.c_str());
    }
    if (!makeParents(opt_.link) || symlink(pts.c_str(), opt_.link.c_str()) != 0) {
        error = "cannot link " + opt_.link + " to " + pts + ": " + std::strerror(errno);
        close(s);
        close(m);
        return false;
    }
    master_ = m;
    slave_ = s;
    pts_ = pts;
    pendingOut_.clear();
    modem_.powerCycle();
    writeTranscript(JsonObject().str("t", "plug").num("ms", now()).str("pty", pts_).done());
    return true;
}

void Simulator::unplug() {
    if (master_ < 0) return;
    char target[PATH_MAX];
    ssize_t n = readlink(opt_.link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == pts_) unlink(opt_.link.c_str());
    close(master_);
    close(slave_);
    master_ = slave_ = -1;
    pendingOut_.clear();
    modem_.hangup(now()); // a call ringing when the modem goes ends there; nobody hears it
    modem_.powerCycle();
    writeTranscript(JsonObject().str("t", "unplug").num("ms", now()).str("pty", pts_).done());
    pts_.clear();
}

bool Simulator::listen(std::string& error) {
    sockaddr_un addr{};
    if (opt_.control.size() >= sizeof addr.sun_path) {
        error = "control socket path too long: " + opt_.control;
        return false;
    }
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, opt_.control.c_str(), opt_.control.size() + 1);
    struct stat st {};
    if (lstat(opt_.control.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(opt_.control.c_str());
    if (!makeParents(opt_.control) ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        error = "cannot listen on " + opt_.control + ": " + std::strerror(errno);
        return false;
    }
    setNonBlocking(listenFd_);
    return true;
}

void Simulator::cleanup() {
    if (cleaned_) return;
    cleaned_ = true;
    unplug();
    for (auto& c : clients_)
        close(c.fd);
    clients_.clear();
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(opt_.control.c_str());
        listenFd_ = -1;
    }
    if (transcriptFd_ >= 0) {
        writeTranscript(JsonObject().str("t", "exit").num("ms", now()).done());
        close(transcriptFd_);
        transcriptFd_ = -1;
    }
}

void Simulator::flushLine() {
    std::string out = modem_.takeOutput(now());
    if (master_ < 0) return; // unplugged: nobody hears it
    pendingOut_ += out;
    if (pendingOut_.size() > (1u << 20)) pendingOut_.erase(0, pendingOut_.size() - (1u << 20));
    while (!pendingOut_.empty()) {
        ssize_t w = write(master_, pendingOut_.data(), pendingOut_.size());
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return; // the line is full: poll tells when it takes more
        pendingOut_.erase(0, static_cast<size_t>(w));
    }
}

void Simulator::readLine() {
    char buf[4096];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) modem_.receive(std::string_view(buf, static_cast<size_t>(n)), now());
}

void Simulator::readClient(Client& c) {
    char buf[4096];
    ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        close(c.fd);
        c.fd = -1;
        return;
    }
    c.in.append(buf, static_cast<size_t>(n));
    size_t pos;
    while (c.fd >= 0 && (pos = c.in.find('\n')) != std::string::npos) {
        std::string line = c.in.substr(0, pos);
        c.in.erase(0, pos + 1);
        std::string reply = handle(line) + "\n";
        flushLine(); // what the command put on the line is there before its reply
        if (send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
            static_cast<ssize_t>(reply.size())) {
            close(c.fd);
            c.fd = -1;
        }
    }
    if (c.fd >= 0 && c.in.size() > (1u << 20)) {
        c.in.clear();
        const char* msg = "ERROR line too long\n";
        send(c.fd, msg, std::strlen(msg), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

void Simulator::readStdin() {
    char buf[4096];
    ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        stdinOpen_ = false; // end of input: go on, driven by the control socket
        if (opt_.quitOnEof) quit_ = true;
        return;
    }
    stdinBuf_.append(buf, static_cast<size_t>(n));
    size_t pos;
    while ((pos = stdinBuf_.find('\n')) != std::string::npos) {
        std::string line = stdinBuf_.substr(0, pos);
        stdinBuf_.erase(0, pos + 1);
        std::string reply = handle(line);
        flushLine();
        std::printf("%s\n", reply.c_str());
        std::fflush(stdout);
    }
    if (stdinBuf_.size() > (1u << 20)) {
        stdinBuf_.clear();
        std::printf("ERROR line too long\n");
        std::fflush(stdout);
    }
}

int Simulator::run(int signalFd) {
    while (!quit_) {
        modem_.advance(now());
        flushLine();

        std::vector<pollfd> fds;
        fds.push_back({signalFd, POLLIN, 0});
        size_t stdinAt = 0, listenAt = 0, masterAt = 0, clientsAt = 0;
        if (stdinOpen_) {
            stdinAt = fds.size();
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        }
        listenAt = fds.size();
        fds.push_back({listenFd_, POLLIN, 0});
        if (master_ >= 0) {
            masterAt = fds.size();
            short ev = POLLIN;
            if (!pendingOut_.empty()) ev |= POLLOUT;
            fds.push_back({master_, ev, 0});
        }
        clientsAt = fds.size();
        for (auto& c : clients_)
            fds.push_back({c.fd, POLLIN, 0});

        int64_t wake = modem_.nextWakeup(now());
        int timeout = wake < 0 ? -1 : static_cast<int>(std::min<int64_t>(wake, INT_MAX));
        int r = poll(fds.data(), fds.size(), timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            std::perror("poll");
            return 1;
        }
        if (fds[0].revents) {
            std::fprintf(stderr, "gsm-modem-sim: signal received, exiting\n");
            break;
        }
        if (stdinOpen_ && fds[stdinAt].revents) readStdin();
        if (master_ >= 0 && masterAt && (fds[masterAt].revents & (POLLIN | POLLHUP | POLLERR)))
            readLine();
        for (size_t k = 0; k < clients_.size(); ++k)
            if (fds[clientsAt + k].revents && !quit_) readClient(clients_[k]);
        std::erase_if(clients_, [](const Client& c) { return c.fd < 0; });
        if (fds[listenAt].revents & POLLIN) {
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) clients_.push_back({fd, {}});
        }
    }
    flushLine();
    cleanup();
    return 0;
}

} // namespace sim
