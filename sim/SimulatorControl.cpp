// The control commands: each line from standard input or the control socket is one
// command, answered with one line "OK ..." or "ERROR reason".

#include "Simulator.h"

#include "Json.h"
#include "Pdu.h"

#include <algorithm>
#include <cstdlib>

namespace sim {

namespace {

std::string statWord(const std::string& w) {
    std::string u = upper(w);
    for (auto& c : u)
        if (c == '-' || c == '_') c = ' ';
    if (u == "UNREAD" || u == "REC UNREAD") return "REC UNREAD";
    if (u == "READ" || u == "REC READ") return "REC READ";
    if (u == "UNSENT" || u == "STO UNSENT") return "STO UNSENT";
    if (u == "SENT" || u == "STO SENT") return "STO SENT";
    return {};
}

// The rest of the line from word k on, as one text: a single quoted word is that word,
// anything else is the raw rest with its escapes resolved.
bool restText(const std::string& line, const std::vector<Word>& w, size_t k, std::string& text,
              std::string& error) {
    if (k >= w.size()) {
        text.clear();
        return true;
    }
    if (k + 1 == w.size() && w[k].quoted) {
        text = w[k].text;
        return true;
    }
    std::string raw = line.substr(w[k].start);
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t'))
        raw.pop_back();
    return unescape(raw, text, error);
}

// The text of a command that writes bytes on the modem line (raw, urc-before, ...): the
// rest of the line after the command word; a line typed in UTF-8 whose characters all
// fit in Latin-1 gives their Latin-1 bytes, and \xHH escapes give any byte.
bool lineBytes(const std::string& line, std::string& bytes, std::string& error) {
    const std::string latin1 = utf8ToLatin1(line);
    std::vector<Word> w;
    if (!splitWords(latin1, w, error)) return false;
    return restText(latin1, w, 1, bytes, error);
}

} // namespace

std::string Simulator::handleSms(const std::string& line, const std::vector<Word>& w) {
    std::string time, stat = "REC UNREAD", error;
    int index = 0;
    size_t k = 1;
    for (; k < w.size() && !w[k].quoted && w[k].text.rfind("--", 0) == 0; ++k) {
        const std::string& o = w[k].text;
        if (o == "--split") continue; // long texts are always split now; kept for old scripts
        if (k + 1 >= w.size()) return "ERROR " + o + " needs a value";
        const std::string& v = w[++k].text;
        if (o == "--time") {
            time = v;
        } else if (o == "--status") {
            stat = statWord(v);
            if (stat.empty()) return "ERROR unknown status " + v;
        } else if (o == "--index") {
            bool ok = false;
            index = static_cast<int>(parseInt(v.c_str(), 1, 10000, ok));
            if (!ok) return "ERROR bad index " + v;
        } else {
            return "ERROR unknown option " + o;
        }
    }
    if (k >= w.size())
        return "ERROR usage: sms [--time TS] [--status STAT] [--index N] [--split] NUMBER TEXT";
    std::string number = controlText(w[k].text), text;
    if (!restText(line, w, k + 1, text, error)) return "ERROR " + error;
    text = controlText(text);
    // A text longer than one SMS arrives as the parts of a concatenated message.
    const std::vector<int> indexes = modem_.putText(stat, number, text, time, index, error, now());
    if (indexes.empty()) return "ERROR " + error;
    std::string reply;
    for (int idx : indexes)
        reply += (reply.empty() ? "OK " : ",") + (idx == 0 ? "shown" : std::to_string(idx));
    return reply;
}

// fate off | fate NUMBER off | fate NUMBER delivered [MS] | fate NUMBER failed STATUS [MS]
// | fate NUMBER never
std::string Simulator::handleFate(const std::vector<Word>& w) {
    const char* usage = "ERROR usage: fate NUMBER|* delivered [MS] | failed STATUS [MS] | never "
                        "| off; fate off";
    if (w.size() == 2 && w[1].text == "off") {
        modem_.clearFates();
        return "OK";
    }
    if (w.size() < 3) return usage;
    const std::string number = controlText(w[1].text);
    const std::string& kind = w[2].text;
    bool ok = true;
    Fate fate;
    auto ms = [&](size_t k) {
        if (k < w.size()) fate.ms = static_cast<int>(parseInt(w[k].text.c_str(), 0, 86400000, ok));
        return ok && w.size() <= k + 1;
    };
    if (kind == "off" && w.size() == 3) return modem_.clearFate(number) ? "OK" : "OK none";
    if (kind == "never" && w.size() == 3) {
        fate.kind = Fate::Never;
    } else if (kind == "delivered" && ms(3)) {
        fate.kind = Fate::Delivered;
    } else if (kind == "failed" && w.size() >= 4) {
        // TP-Status: 0x20..0x3F temporary, 0x40..0x5F permanent, 0x60..0x7F temporary
        // errors after which the service centre gave up.
        const std::string& st = w[3].text;
        char* end = nullptr;
        const long v = std::strtol(st.c_str(), &end, st.rfind("0x", 0) == 0 ? 16 : 10);
        if (st.empty() || *end != '\0' || v < 0x20 || v > 0x7f)
            return "ERROR a failure's status is 0x20..0x7F";
        fate.kind = Fate::Failed;
        fate.status = static_cast<int>(v);
        if (!ms(4)) return usage;
    } else {
        return usage;
    }
    modem_.setFate(number, fate);
    return "OK";
}

namespace {

const char* const ControlCommands[] = {
    "sms",     "ring",       "hangup",    "delay",   "silent",      "reject-sends",  "full",
    "fill",    "clear",      "delete",    "raw",     "unplug",      "plug",          "status",
    "list",    "ping",       "help",      "quit",    "late-prompt", "swallow",       "noise",
    "garbage", "urc-before", "urc-after", "on-send", "fate",        "reports-inside",
    "network-delay"};

} // namespace

void Simulator::runOnSend() {
    std::vector<std::string> commands;
    commands.swap(onSend_);
    for (const auto& c : commands)
        handle(c); // the reply is in the transcript's "ctl" line
}

std::string Simulator::handle(const std::string& rawLine) {
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    std::vector<Word> w;
    std::string error, reply;
    if (!splitWords(line, w, error)) {
        reply = "ERROR " + error;
    } else if (w.empty()) {
        reply = "ERROR empty command";
    } else {
        const std::string cmd = w[0].text;
        auto onOff = [&](bool& value) {
            if (w.size() == 2 && (w[1].text == "on" || w[1].text == "off")) {
                value = w[1].text == "on";
                return true;
            }
            return false;
        };
        bool ok = false;
        if (cmd == "sms") {
            reply = handleSms(line, w);
        } else if (cmd == "fate") {
            reply = handleFate(w);
        } else if (cmd == "reports-inside") {
            bool on = false;
            if (onOff(on)) {
                modem_.setReportsInside(on, now());
                reply = "OK";
            } else {
                reply = "ERROR usage: reports-inside on|off";
            }
        } else if (cmd == "ring") {
            int n = 0, interval = 0;
            std::string number;
            if (w.size() >= 2) n = static_cast<int>(parseInt(w[1].text.c_str(), 1, 1000, ok));
            if (ok && w.size() >= 3 && w[2].text != "-") number = w[2].text;
            if (ok && w.size() >= 4)
                interval = static_cast<int>(parseInt(w[3].text.c_str(), 1, 3600000, ok));
            if (!ok || w.size() > 4)
                reply = "ERROR usage: ring N [NUMBER|-] [INTERVAL_MS]";
            else if (master_ < 0)
                reply = "ERROR unplugged";
            else if (!number.empty() &&
                     (number.size() > 32 || number.find_first_of("\"\r\n") != std::string::npos))
                reply = "ERROR bad number";
            else if (modem_.ring(n, number, interval, error, now()))
                reply = "OK ringing";
            else
                reply = "ERROR " + error;
        } else if (cmd == "hangup" && w.size() == 1) {
            reply = modem_.hangup(now()) ? "OK" : "OK no call";
        } else if (cmd == "delay" && w.size() == 2) {
            int ms = static_cast<int>(parseInt(w[1].text.c_str(), 0, 3600000, ok));
            if (ok) {
                modem_.setDelay(ms);
                reply = "OK";
            } else {
                reply = "ERROR usage: delay MS";
            }
        } else if (cmd == "network-delay" && w.size() == 2) {
            int ms = static_cast<int>(parseInt(w[1].text.c_str(), 0, 3600000, ok));
            if (ok) {
                modem_.setNetworkDelay(ms);
                reply = "OK";
            } else {
                reply = "ERROR usage: network-delay MS";
            }
        } else if (cmd == "silent") {
            bool on = false;
            if (onOff(on)) {
                modem_.setSilent(on);
                reply = "OK";
            } else {
                reply = "ERROR usage: silent on|off";
            }
        } else if (cmd == "reject-sends" && w.size() == 2) {
            int code =
                w[1].text == "off" ? 0 : static_cast<int>(parseInt(w[1].text.c_str(), 1, 999, ok));
            if (w[1].text == "off" || ok) {
                modem_.setRejectSends(code);
                reply = "OK";
            } else {
                reply = "ERROR usage: reject-sends CODE|off";
            }
        } else if (cmd == "full") {
            bool on = false;
            if (onOff(on)) {
                modem_.setFull(on);
                reply = "OK";
            } else {
                reply = "ERROR usage: full on|off";
            }
        } else if (cmd == "fill" && w.size() <= 2) {
            std::string stat = w.size() == 2 ? statWord(w[1].text) : "STO UNSENT";
            reply = stat.empty() ? "ERROR unknown status " + w[1].text
                                 : "OK " + std::to_string(modem_.fill(stat));
        } else if (cmd == "clear" && w.size() == 1) {
            modem_.clear();
            reply = "OK";
        } else if (cmd == "delete" && w.size() == 2) {
            int idx = static_cast<int>(parseInt(w[1].text.c_str(), 1, 100000, ok));
            reply = ok && modem_.deleteSlot(idx) ? "OK" : "ERROR no message at " + w[1].text;
        } else if (cmd == "raw" && w.size() >= 2) {
            std::string text;
            if (!lineBytes(line, text, error))
                reply = "ERROR " + error;
            else if (master_ < 0)
                reply = "ERROR unplugged";
            else {
                modem_.raw(text, now());
                reply = "OK";
            }
        } else if (cmd == "unplug" && w.size() == 1) {
            if (master_ < 0) {
                reply = "ERROR already unplugged";
            } else {
                unplug();
                reply = "OK";
            }
        } else if (cmd == "plug" && w.size() == 1) {
            if (master_ >= 0)
                reply = "ERROR already plugged";
            else if (plug(error))
                reply = "OK " + pts_;
            else
                reply = "ERROR " + error;
        } else if (cmd == "status" && w.size() == 1) {
            reply = "OK " + JsonObject()
                                .boolean("plugged", master_ >= 0)
                                .str("pty", pts_)
                                .str("link", opt_.link)
                                .str("control", opt_.control)
                                .str("transcript", opt_.transcript)
                                .num("onSend", static_cast<int64_t>(onSend_.size()))
                                .done();
            reply.pop_back();
            reply += "," + modem_.statusJson() + "}";
        } else if (cmd == "list" && w.size() == 1) {
            reply = "OK " + modem_.listJson();
        } else if (cmd == "late-prompt" && (w.size() == 2 || w.size() == 3)) {
            int ms = static_cast<int>(parseInt(w[1].text.c_str(), 0, 3600000, ok));
            int count = 1;
            if (ok && w.size() == 3)
                count = static_cast<int>(parseInt(w[2].text.c_str(), 0, 1000000, ok));
            if (ok) {
                modem_.setLatePrompt(ms, count);
                reply = "OK";
            } else {
                reply = "ERROR usage: late-prompt MS [COUNT]";
            }
        } else if (cmd == "swallow" && w.size() <= 2) {
            int count =
                w.size() == 2 ? static_cast<int>(parseInt(w[1].text.c_str(), 0, 1000000, ok)) : 1;
            if (w.size() == 1 || ok) {
                modem_.setSwallow(count);
                reply = "OK";
            } else {
                reply = "ERROR usage: swallow [COUNT]";
            }
        } else if (cmd == "noise") {
            bool on = false;
            if (onOff(on)) {
                modem_.setNoise(on);
                reply = "OK";
            } else {
                reply = "ERROR usage: noise on|off";
            }
        } else if (cmd == "garbage" && w.size() <= 2) {
            int n = w.size() == 2 ? static_cast<int>(parseInt(w[1].text.c_str(), 1, 10000, ok)) : 1;
            if (w.size() == 2 && !ok)
                reply = "ERROR usage: garbage [N]";
            else if (master_ < 0)
                reply = "ERROR unplugged";
            else {
                modem_.garbage(n, now());
                reply = "OK";
            }
        } else if ((cmd == "urc-before" || cmd == "urc-after") && w.size() >= 2) {
            std::string text;
            if (!lineBytes(line, text, error)) {
                reply = "ERROR " + error;
            } else if (text.find_first_of("\r\n") != std::string::npos) {
                reply = "ERROR one line only";
            } else {
                if (cmd == "urc-before")
                    modem_.addUrcBefore(text);
                else
                    modem_.addUrcAfter(text);
                reply = "OK";
            }
        } else if (cmd == "on-send" && w.size() >= 2) {
            if (w.size() == 2 && w[1].text == "off") {
                onSend_.clear();
                reply = "OK";
            } else if (std::find(std::begin(ControlCommands), std::end(ControlCommands),
                                 w[1].text) == std::end(ControlCommands)) {
                reply = "ERROR unknown command " + w[1].text;
            } else {
                onSend_.push_back(line.substr(w[1].start));
                reply = "OK armed " + std::to_string(onSend_.size());
            }
        } else if (cmd == "ping") {
            reply = "OK pong";
        } else if (cmd == "help") {
            reply = "OK";
            for (const char* c : ControlCommands)
                reply += std::string(" ") + c;
        } else if (cmd == "quit" && w.size() == 1) {
            quit_ = true;
            reply = "OK bye";
        } else {
            reply = "ERROR unknown command or wrong arguments: " + cmd + " (try help)";
        }
    }
    writeTranscript(JsonObject()
                        .str("t", "ctl")
                        .num("ms", now())
                        .str("text", line)
                        .str("reply", reply.substr(0, 200))
                        .done());
    // Replies are one line: no raw CR or LF from a text can break them.
    for (auto& c : reply)
        if (c == '\r' || c == '\n') c = ' ';
    return reply;
}

} // namespace sim
