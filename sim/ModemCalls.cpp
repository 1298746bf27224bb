// Incoming calls: RING, +CLIP, AT+CLCC and the caller hanging up.

#include "Modem.h"

#include "ModemShared.h"

namespace sim {

using namespace detail;

// ---------------------------------------------------------------------------------------
// Calls

std::string Modem::clccLine() const {
    const char* sep = config_.clccSpaces ? ", " : ",";
    std::string state = call_.answered ? "0" : "4";
    std::string r = "+CLCC: 1";
    for (const char* f : {"1", state.c_str(), "0", "0"})
        r += std::string(sep) + f;
    r += std::string(sep) + "\"" + call_.number + "\"" + sep +
         std::to_string(call_.number.empty() ? 128 : call_.type);
    return r;
}

void Modem::emitRing(int64_t now) {
    std::string r =
        settings_.verbose ? info("RING") : std::string("2") + static_cast<char>(settings_.s[3]);
    if (settings_.clip == 1 && !call_.number.empty())
        r +=
            info("+CLIP: \"" + call_.number + "\"," + std::to_string(call_.type) + ",\"\",,\"\",0");
    emitAt(now, r);
    transcript(JsonObject()
                   .str("t", "ring")
                   .num("ms", now)
                   .str("number", call_.number)
                   .boolean("clip", settings_.clip == 1 && !call_.number.empty())
                   .num("ring", call_.ringsDone + 1)
                   .done());
}

bool Modem::ring(int rings, const std::string& number, int intervalMs, std::string& error,
                 int64_t now) {
    if (call_.present) {
        error = "a call is in progress";
        return false;
    }
    if (rings < 1) {
        error = "ring count must be at least 1";
        return false;
    }
    call_ = Call{};
    call_.present = true;
    call_.number = number;
    call_.type = addressType(number);
    call_.ringsTotal = rings;
    call_.intervalMs = intervalMs > 0 ? intervalMs : config_.ringIntervalMs;
    startRinging(now);
    return true;
}

// The first RING goes out at once; advance() rings the others.
void Modem::startRinging(int64_t now) {
    emitRing(now);
    ++call_.ringsDone;
    call_.nextAt = now + call_.intervalMs;
}

bool Modem::hangup(int64_t now) {
    if (!call_.present) return false;
    call_ = Call{};
    emitAt(now, settings_.verbose ? info("NO CARRIER")
                                  : std::string("3") + static_cast<char>(settings_.s[3]));
    transcript(JsonObject().str("t", "hangup").num("ms", now).done());
    return true;
}

} // namespace sim
