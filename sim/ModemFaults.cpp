// Faults a test can make the modem show: garbage lines, unsolicited lines around answers.

#include "Modem.h"

#include "ModemShared.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace sim {

using namespace detail;

void Modem::answer(std::string bytes, int64_t now, size_t middle) {
    if (!heldReports_.empty()) {
        bytes.insert(std::min(middle, bytes.size()), heldReports_);
        heldReports_.clear();
    }
    std::string before, after;
    if (noise_) before = crlf() + noiseLine() + crlf();
    for (const auto& line : urcBefore_)
        before += crlf() + line + crlf();
    for (const auto& line : urcAfter_)
        after += crlf() + line + crlf();
    if (noise_) after += crlf() + noiseLine() + crlf();
    urcBefore_.clear();
    urcAfter_.clear();
    respond(before + bytes + after, now);
}

// A line such as a real modem's chatter between answers: a vendor status report
// (^RSSI:17) or a run of printable junk. Junk never holds a capital letter, a "+", ","
// or ">", so it cannot be taken for a result code, an information line or the prompt.
std::string Modem::noiseLine() {
    static const char* const reports[] = {"^RSSI:%d", "^MODE:%d,4", "^SRVST:%d", "^SIMST:%d",
                                          "^BOOT:%d,0,0,0,72"};
    static const char junk[] = "abcdefghijklmnopqrstuvwxyz0123456789!#$%&'()*-./:;<=?@[]^_{|}~ ";
    std::uniform_int_distribution<int> pick(0, 3);
    if (pick(noiseRng_) == 0) {
        char buf[64];
        std::uniform_int_distribution<int> which(0, 4), value(0, 31);
        std::snprintf(buf, sizeof buf, reports[which(noiseRng_)], value(noiseRng_));
        return buf;
    }
    std::uniform_int_distribution<int> length(1, 40), ch(0, sizeof junk - 2);
    std::string r;
    for (int n = length(noiseRng_); n > 0; --n)
        r += junk[ch(noiseRng_)];
    if (r.front() == ' ') r.front() = '~';
    if (r.back() == ' ') r.back() = '~';
    return r;
}

void Modem::garbage(int lines, int64_t now) {
    for (int k = 0; k < lines; ++k)
        emitAt(now, crlf() + noiseLine() + crlf());
}

void Modem::raw(const std::string& bytes, int64_t now) {
    emitAt(now, bytes);
}

} // namespace sim
