// Status reports: what the network tells of a sent message that asked for one (TP-SRR),
// as each destination's fate says, shown with +CDS or stored on the SIM (+CDSI).

#include "Modem.h"

#include "ModemShared.h"

#include <algorithm>

namespace sim {

using namespace detail;

void Modem::sent(const std::string& via, const std::string& number, int mr, bool srr, int64_t now) {
    if (!srr) return;
    auto it = fates_.find(number);
    if (it == fates_.end()) it = fates_.find("*");
    const Fate fate = it == fates_.end() ? Fate{} : it->second;
    if (fate.kind == Fate::Never) return;
    reports_.push_back({now + fate.ms, via, number, mr, fate, timestamp()});
}

void Modem::deliverReports(int64_t now) {
    // In the order they fall due; those due together in the order of their sends.
    std::stable_sort(reports_.begin(), reports_.end(),
                     [](const PendingReport& a, const PendingReport& b) { return a.due < b.due; });
    while (!reports_.empty() && reports_.front().due <= now) {
        const PendingReport r = reports_.front();
        reports_.erase(reports_.begin());
        SimSlot report;
        report.used = true;
        report.stat = "REC UNREAD";
        report.report = true;
        report.fo = 6; // SMS-STATUS-REPORT, no more messages waiting
        report.number = r.number;
        report.type = addressType(r.number);
        report.time = r.scts;
        report.dt = timestamp();
        report.mr = r.mr;
        report.st = r.fate.kind == Fate::Failed ? r.fate.status : 0;

        JsonObject o;
        o.str("t", "report")
            .num("ms", now)
            .str("via", r.via)
            .str("number", r.number)
            .num("ref", r.mr)
            .str("fate", r.fate.kind == Fate::Failed ? "failed" : "delivered")
            .num("status", report.st)
            .str("scts", report.time)
            .str("deliveredAt", report.dt);
        const int ds = settings_.cnmi[3];
        if (ds == 1) {
            if (settings_.cmgf == 0) {
                const EncodedPdu e = slotPdu(report);
                unsolicited(crlf() + "+CDS: " + std::to_string(e.length) + crlf() + e.hex + crlf(),
                            now);
            } else {
                unsolicited(info("+CDS: " + reportFields(report)), now);
            }
            o.str("route", "cds");
        } else if (ds == 2) {
            const int index = full_ ? 0 : freeSlot();
            if (index == 0) {
                o.str("route", "sim-full");
            } else {
                sim_[static_cast<size_t>(index - 1)] = report;
                unsolicited(info("+CDSI: \"SM\"," + std::to_string(index)), now);
                o.str("route", "cdsi").num("index", index);
            }
        } else {
            o.str("route", "none"); // AT+CNMI <ds> 0: no report reaches the client
        }
        o.boolean("inside", reportsInside_ && ds != 0);
        transcript(o.done());
    }
}

void Modem::unsolicited(const std::string& bytes, int64_t now) {
    if (reportsInside_)
        heldReports_ += bytes;
    else
        emitAt(now, bytes);
}

std::string Modem::reportFields(const SimSlot& s) const {
    return std::to_string(s.fo) + "," + std::to_string(s.mr) + ",\"" + teOut(s.number) + "\"," +
           std::to_string(s.type) + ",\"" + s.time + "\",\"" + s.dt + "\"," + std::to_string(s.st);
}

} // namespace sim
