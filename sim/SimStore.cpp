// The SIM message store and what the control side does with it: messages put there as
// the network or the user would, and its state as JSON.

#include "Modem.h"

#include "ModemShared.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace sim {

using namespace detail;

int Modem::freeSlot() const {
    for (size_t k = 0; k < sim_.size(); ++k)
        if (!sim_[k].used) return static_cast<int>(k + 1);
    return 0;
}

int Modem::slotsUsed() const {
    return static_cast<int>(
        std::count_if(sim_.begin(), sim_.end(), [](const SimSlot& s) { return s.used; }));
}

int Modem::nextRef() {
    int r = ref_;
    ref_ = (ref_ + 1) & 0xff;
    return r;
}

std::string Modem::timestamp() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    long q = tm.tm_gmtoff / 900;
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d,%02d:%02d:%02d%c%02ld", tm.tm_year % 100,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, q < 0 ? '-' : '+',
                  q < 0 ? -q : q);
    return buf;
}

std::vector<int> Modem::putText(const std::string& stat, const std::string& number,
                                const std::string& text, const std::string& time, int index,
                                std::string& error, int64_t now) {
    const std::vector<std::string> parts = splitForConcat(text);
    if (parts.size() == 1) {
        const int idx = putMessage(stat, number, text, time, index, error, now);
        if (idx == 0) return {};
        return {std::max(idx, 0)};
    }
    if (parts.size() > 255) {
        error = "text too long";
        return {};
    }
    if (index != 0) {
        error = "a long text takes a slot a part; --index is for one";
        return {};
    }
    const bool shown = stat.rfind("REC", 0) == 0 && settings_.cnmi[1] == 2;
    const int room = full_ ? 0 : slots() - slotsUsed();
    if (!shown && static_cast<size_t>(room) < parts.size()) {
        error = "sim full";
        return {};
    }
    // Parts of one concatenated message, as the network delivers a long one.
    const int ref = concatRef_;
    concatRef_ = concatRef_ % 255 + 1;
    std::vector<int> indexes;
    for (size_t i = 0; i < parts.size(); ++i) {
        const Concat concat{ref, static_cast<int>(parts.size()), static_cast<int>(i + 1)};
        const int idx = putMessage(stat, number, parts[i], time, 0, error, now, concat);
        if (idx == 0) return {};
        indexes.push_back(std::max(idx, 0));
    }
    return indexes;
}

int Modem::putMessage(const std::string& stat, const std::string& number, const std::string& text,
                      const std::string& time, int index, std::string& error, int64_t now,
                      const Concat& concat) {
    if (!knownStat(stat)) {
        error = "unknown status " + stat;
        return 0;
    }
    if (number.empty() || number.size() > 32 ||
        number.find_first_of("\"\r\n") != std::string::npos) {
        error = "bad number";
        return 0;
    }
    if (!time.empty() && !validTimestamp(time)) {
        error = "bad time stamp (yy/MM/dd,hh:mm:ss+zz)";
        return 0;
    }
    if (text.size() > MaxTextBuffer) {
        error = "text too long";
        return 0;
    }
    const bool received = stat.rfind("REC", 0) == 0;
    const std::string stamp = received ? (time.empty() ? timestamp() : time) : "";
    // AT+CNMI=x,2: a new message is shown at once (+CMT) and not stored.
    if (received && settings_.cnmi[1] == 2 && index == 0) {
        if (settings_.cmgf == 0) {
            const EncodedPdu e = encodeDeliver(settings_.csca, number, text, stamp, concat);
            emitAt(now, crlf() + "+CMT: ," + std::to_string(e.length) + crlf() + e.hex + crlf());
        } else {
            emitAt(now, crlf() + "+CMT: \"" + teOut(number) + "\",\"\",\"" + stamp + "\"" + crlf() +
                            teOut(text) + crlf());
        }
        JsonObject o;
        o.str("t", "delivered")
            .num("ms", now)
            .num("index", 0)
            .str("number", number)
            .str("text", text);
        addConcat(o, concat);
        transcript(o.done());
        return -1;
    }
    if (index == 0) {
        index = full_ ? 0 : freeSlot();
        if (index == 0) {
            error = "sim full";
            return 0;
        }
    } else if (index < 1 || index > slots()) {
        error = "no such slot";
        return 0;
    } else if (sim_[static_cast<size_t>(index - 1)].used) {
        error = "slot in use";
        return 0;
    }
    sim_[static_cast<size_t>(index - 1)] = SimSlot{.used = true,
                                                   .stat = stat,
                                                   .number = number,
                                                   .type = addressType(number),
                                                   .time = stamp,
                                                   .text = text,
                                                   .concat = concat};
    JsonObject o;
    o.str("t", received ? "delivered" : "put")
        .num("ms", now)
        .num("index", index)
        .str("stat", stat)
        .str("number", number)
        .str("text", text);
    addConcat(o, concat);
    transcript(o.done());
    if (received && settings_.cnmi[1] != 0)
        emitAt(now, info("+CMTI: \"SM\"," + std::to_string(index)));
    return index;
}

int Modem::fill(const std::string& stat) {
    int n = 0;
    for (size_t k = 0; k < sim_.size(); ++k) {
        if (sim_[k].used) continue;
        bool rec = stat.rfind("REC", 0) == 0;
        sim_[k] = SimSlot{.used = true,
                          .stat = stat,
                          .number = "+10000000000",
                          .type = 145,
                          .time = rec ? timestamp() : "",
                          .text = "filler " + std::to_string(k + 1)};
        ++n;
    }
    return n;
}

void Modem::clear() {
    for (auto& s : sim_)
        s = SimSlot{};
}

bool Modem::deleteSlot(int index) {
    if (index < 1 || index > slots() || !sim_[static_cast<size_t>(index - 1)].used) return false;
    sim_[static_cast<size_t>(index - 1)] = SimSlot{};
    return true;
}

std::string Modem::statusJson() const {
    std::string call = !call_.present ? "none" : call_.answered ? "active" : "ringing";
    JsonObject o;
    o.boolean("echo", settings_.echo)
        .boolean("verbose", settings_.verbose)
        .num("cmgf", settings_.cmgf)
        .num("clip", settings_.clip)
        .str("cscs", settings_.cscs)
        .num("flo", settings_.flo)
        .num("used", slotsUsed())
        .num("slots", slots())
        .boolean("full", full_)
        .num("delay", delayMs_)
        .num("networkDelay", networkDelayMs_)
        .boolean("silent", silent_)
        .num("rejectSends", rejectCode_)
        .num("latePromptMs", latePromptMs_)
        .num("latePrompts", latePrompts_)
        .num("swallow", swallow_)
        .boolean("noise", noise_)
        .str("call", call)
        .str("callNumber", call_.number)
        .num("ringsDone", call_.ringsDone)
        .num("ringsTotal", call_.ringsTotal)
        .boolean("textEntry", inText_)
        .num("nextRef", ref_)
        .str("cnmi", std::to_string(settings_.cnmi[0]) + "," + std::to_string(settings_.cnmi[1]) +
                         "," + std::to_string(settings_.cnmi[2]) + "," +
                         std::to_string(settings_.cnmi[3]) + "," +
                         std::to_string(settings_.cnmi[4]))
        .num("csmpFo", settings_.csmp[0])
        .num("fates", static_cast<int64_t>(fates_.size()))
        .num("reportsPending", static_cast<int64_t>(reports_.size()))
        .boolean("reportsInside", reportsInside_);
    std::string s = o.done();
    return s.substr(1, s.size() - 2);
}

std::string Modem::listJson() const {
    std::string r = "[";
    for (size_t k = 0; k < sim_.size(); ++k) {
        const SimSlot& s = sim_[k];
        if (!s.used) continue;
        if (r.size() > 1) r += ",";
        JsonObject o;
        o.num("index", static_cast<int64_t>(k + 1))
            .str("stat", s.stat)
            .str("kind", s.report ? "report" : "sms")
            .str("number", s.number)
            .num("type", s.type)
            .str("time", s.time)
            .str("text", s.text);
        if (s.report) o.num("ref", s.mr).num("status", s.st).str("deliveredAt", s.dt);
        addConcat(o, s.concat);
        r += o.done();
    }
    return r + "]";
}

} // namespace sim
