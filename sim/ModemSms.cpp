// The SMS commands (AT+CMGD, +CMSS, +CMGL, +CMGR and the start of +CMGS / +CMGW) and the
// SIM message store.

#include "Modem.h"

#include "ModemShared.h"

#include <algorithm>

namespace sim {

using namespace detail;

bool Modem::smsCommand(const std::string& name, char op, const std::vector<Param>& p, Exec& ex,
                       int64_t now) {
    auto cmsError = [&](int code) {
        ex.final = Final::CmsError;
        ex.cms = code;
        return false;
    };
    auto index = [&](size_t k, int& out) {
        return k < p.size() && !p[k].quoted && toInt(p[k].value, out);
    };
    const bool text = settings_.cmgf == 1;

    if (name == "CMGD") {
        if (op == 't') {
            std::string used;
            for (size_t k = 0; k < sim_.size(); ++k)
                if (sim_[k].used) used += (used.empty() ? "" : ",") + std::to_string(k + 1);
            ex.out += info("+CMGD: (" + used + "),(0-4)");
            return true;
        }
        int idx = 0, flag = 0;
        if (op != 's' || p.empty() || p.size() > 2 || !index(0, idx) ||
            (p.size() == 2 && (!index(1, flag) || flag > 4)))
            return false;
        if (flag == 0) {
            if (idx < 1 || idx > slots()) return cmsError(321);
            sim_[static_cast<size_t>(idx - 1)] = SimSlot{};
            transcript(JsonObject().str("t", "deleted").num("ms", now).num("index", idx).done());
            return true;
        }
        for (size_t k = 0; k < sim_.size(); ++k) {
            const std::string& st = sim_[k].stat;
            bool del =
                sim_[k].used && (flag == 4 || st == "REC READ" || (flag >= 2 && st == "STO SENT") ||
                                 (flag >= 3 && st == "STO UNSENT"));
            if (del) {
                sim_[k] = SimSlot{};
                transcript(JsonObject()
                               .str("t", "deleted")
                               .num("ms", now)
                               .num("index", static_cast<int64_t>(k + 1))
                               .done());
            }
        }
        return true;
    }

    if (name == "CMSS") {
        if (op == 't') return true;
        int idx = 0;
        if (op != 's' || p.empty() || p.size() > 3 || !index(0, idx)) return false;
        std::string given;
        if (p.size() >= 2 && (!p[1].quoted || !teIn(p[1].value, given) || !validDialNumber(given)))
            return false;
        if (idx < 1 || idx > slots() || !sim_[static_cast<size_t>(idx - 1)].used)
            return cmsError(321);
        SimSlot& slot = sim_[static_cast<size_t>(idx - 1)];
        if (slot.stat.rfind("STO", 0) != 0) return cmsError(302);
        std::string number = p.size() >= 2 ? given : slot.number;
        if (number.empty()) return cmsError(304);
        const SimSlot sending = slot; // what the control commands of on-send may change
        if (onSend) onSend(now);
        auto event = [&](const char* kind) {
            JsonObject o;
            o.str("t", kind).num("ms", now).str("via", "CMSS").num("index", idx);
            o.str("number", number).str("text", sending.text);
            if (!sending.pdu.empty()) o.str("pdu", sending.pdu);
            addConcat(o, sending.concat);
            return o;
        };
        if (swallow_ > 0) {
            --swallow_;
            transcript(event("swallowed").done());
            ex.swallowed = true;
            return true;
        }
        if (rejectCode_ > 0) {
            transcript(event("rejected").num("code", rejectCode_).done());
            ex.network = true;
            return cmsError(rejectCode_);
        }
        ex.network = true;
        const int ref = nextRef();
        const bool srr = (sending.fo & 0x20) != 0;
        if (slot.used) slot.stat = "STO SENT";
        transcript(event("sent").num("ref", ref).boolean("srr", srr).done());
        ex.out += info("+CMSS: " + std::to_string(ref));
        sent("CMSS", number, ref, srr, now + networkDelayMs_);
        return true;
    }

    if (name == "CMGL") {
        if (op == 't') {
            ex.out += info(text ? "+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO "
                                  "SENT\",\"ALL\")"
                                : "+CMGL: (0-4)");
            return true;
        }
        std::string stat = "REC UNREAD";
        int mode = 0;
        if (!text) {
            // PDU mode: the status by number, 0..3 or 4 for all.
            int st = 0;
            if (op == 's' && (p.empty() || p.size() > 2 || !index(0, st) || st > 4 ||
                              (p.size() == 2 && (!index(1, mode) || mode > 1))))
                return false;
            if (op != 's' && op != 'x') return false;
            stat = st == 4 ? "ALL" : Stats[st];
        } else if (op == 's') {
            if (p.empty() || p.size() > 2 || !p[0].quoted ||
                (p.size() == 2 && (!index(1, mode) || mode > 1)))
                return false;
            stat = upper(p[0].value);
            if (stat != "ALL" && !knownStat(stat)) return false;
        } else if (op != 'x') {
            return false;
        }
        listMessages(stat, mode == 1, ex);
        return true;
    }

    if (name == "CMGR") {
        if (op == 't') return true;
        int idx = 0, mode = 0;
        if (op != 's' || p.empty() || p.size() > 2 || !index(0, idx) ||
            (p.size() == 2 && (!index(1, mode) || mode > 1)))
            return false;
        if (idx < 1 || idx > slots()) return cmsError(321);
        SimSlot& s = sim_[static_cast<size_t>(idx - 1)];
        if (!s.used) return true; // an empty slot reads as nothing
        if (!text) {
            const EncodedPdu e = slotPdu(s);
            ex.out += crlf() + "+CMGR: " + std::to_string(statNumber(s.stat)) + ",," +
                      std::to_string(e.length) + crlf() + e.hex + crlf();
            if (mode == 0 && s.stat == "REC UNREAD") s.stat = "REC READ";
            return true;
        }
        if (s.report) {
            ex.out += info("+CMGR: \"" + s.stat + "\"," + reportFields(s));
            if (mode == 0 && s.stat == "REC UNREAD") s.stat = "REC READ";
            return true;
        }
        std::string head = "+CMGR: \"" + s.stat + "\",\"" + teOut(s.number) + "\",\"\"";
        if (s.stat.rfind("REC", 0) == 0) head += ",\"" + s.time + "\"";
        if (settings_.csdh)
            head += "," + std::to_string(s.type) + ",0,0,0,\"" + teOut(settings_.csca) + "\"," +
                    std::to_string(addressType(settings_.csca)) + "," +
                    std::to_string(fromUtf8(s.text).size());
        ex.out += crlf() + head + crlf() + teOut(s.text) + crlf();
        if (mode == 0 && s.stat == "REC UNREAD") s.stat = "REC READ";
        return true;
    }

    // AT+CMGS / AT+CMGW: the text follows after the prompt, up to Ctrl-Z.
    if (op == 't') return true;
    TextEntry t;
    t.cmgs = name == "CMGS";
    t.stat = "STO UNSENT";
    if (!text) {
        // PDU mode: AT+CMGS=<length>, AT+CMGW=<length>[,<stat>]; the PDU follows in hex.
        int length = 0, st = 2;
        if (op != 's' || p.empty() || p.size() > (t.cmgs ? 1u : 2u) || !index(0, length) ||
            (p.size() == 2 && (!index(1, st) || st > 3)))
            return false;
        if (length < 1 || length > MaxTpdu) return cmsError(304);
        t.pdu = true;
        t.length = length;
        t.stat = Stats[st];
    } else if (op == 's') {
        if (p.empty() || p.size() > 3 || !p[0].quoted) return false;
        if (!teIn(p[0].value, t.number)) return false;
        if (!validDialNumber(t.number) && !(t.number.empty() && !t.cmgs)) return false;
        t.type = addressType(t.number);
        if (p.size() >= 2 && !p[1].value.empty()) {
            int type = 0;
            if (!index(1, type) || type > 255) return false;
            t.type = type;
        }
        if (p.size() == 3) {
            if (t.cmgs || !p[2].quoted || !knownStat(upper(p[2].value))) return false;
            t.stat = upper(p[2].value);
        }
    } else if (op != 'x' || t.cmgs) {
        return false;
    }
    t.set = t.pdu ? Charset::Ira : charset();
    t.lastByte = now;
    text_ = std::move(t);
    inText_ = true;
    ex.textEntry = true;
    return true;
}

EncodedPdu Modem::slotPdu(const SimSlot& s) const {
    if (!s.pdu.empty()) {
        const size_t smsc = std::stoul(s.pdu.substr(0, 2), nullptr, 16);
        return {s.pdu, static_cast<int>(s.pdu.size() / 2 - 1 - smsc)};
    }
    if (s.report) return encodeStatusReport(settings_.csca, s.mr, s.number, s.time, s.dt, s.st);
    if (s.stat.rfind("REC", 0) == 0)
        return encodeDeliver(settings_.csca, s.number, s.text, s.time, s.concat);
    return encodeSubmit("", s.number, s.text, s.concat);
}

bool Modem::teIn(const std::string& raw, std::string& utf8) const {
    return teDecode(raw, charset(), utf8);
}

void Modem::listMessages(const std::string& stat, bool keepStatus, Exec& ex) {
    bool any = false;
    for (size_t k = 0; k < sim_.size(); ++k) {
        SimSlot& s = sim_[k];
        if (!s.used || (stat != "ALL" && s.stat != stat)) continue;
        if (!any) ex.out += crlf();
        any = true;
        if (settings_.cmgf == 0) {
            const EncodedPdu e = slotPdu(s);
            ex.out += "+CMGL: " + std::to_string(k + 1) + "," + std::to_string(statNumber(s.stat)) +
                      ",," + std::to_string(e.length) + crlf() + e.hex + crlf();
        } else if (s.report) {
            // A status report has no text line.
            ex.out += "+CMGL: " + std::to_string(k + 1) + ",\"" + s.stat + "\"," + reportFields(s) +
                      crlf();
        } else {
            std::string head = "+CMGL: " + std::to_string(k + 1) + ",\"" + s.stat + "\",\"" +
                               teOut(s.number) + "\",\"\",";
            if (s.stat.rfind("REC", 0) == 0) head += "\"" + s.time + "\"";
            if (settings_.csdh)
                head +=
                    "," + std::to_string(s.type) + "," + std::to_string(fromUtf8(s.text).size());
            ex.out += head + crlf() + teOut(s.text) + crlf();
        }
        if (ex.middle == std::string::npos) ex.middle = ex.out.size(); // after the first entry
        if (!keepStatus && s.stat == "REC UNREAD") s.stat = "REC READ";
    }
}

} // namespace sim
