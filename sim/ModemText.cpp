// Text entry: the message text or PDU after the "> " prompt of AT+CMGS and AT+CMGW, up
// to Ctrl-Z, and what the modem then does with it.

#include "Modem.h"

#include "ModemShared.h"

namespace sim {

using namespace detail;

void Modem::textByte(char c, int64_t now) {
    text_.lastByte = now;
    const auto uc = static_cast<unsigned char>(c);
    if (c == CtrlZ) {
        finishText(true, now, "ctrl-z");
        return;
    }
    // ESC aborts the entry in every character set, the GSM one too: an extension
    // character (ESC + code) cannot be typed in text mode. What follows the ESC is
    // command-line input again.
    if (c == Esc) {
        finishText(false, now, "esc");
        return;
    }
    if (settings_.echo) emitAt(now, std::string(1, c));
    if (c == '\n' && text_.skipLf && text_.text.empty()) {
        text_.skipLf = false; // the LF of a command line ended with CR LF
        return;
    }
    text_.skipLf = false;
    // In the GSM set every byte is a character (8 is "ò"); elsewhere BS deletes.
    if (uc == settings_.s[5] && text_.set != Charset::Gsm) {
        if (!text_.text.empty()) text_.text.pop_back();
        return;
    }
    if (text_.text.size() >= MaxTextBuffer) {
        text_.overflow = true;
        return;
    }
    text_.text += c;
    if (uc == settings_.s[3]) emitAt(now, crlf() + "> "); // a new line of text: the prompt again
}

// The text of an entry in Unicode; false when its bytes are no text of its character
// set (bad hex digits in UCS2 or HEX). Line ends in hex texts are line breaks of the
// entry, not text.
bool Modem::entryText(const TextEntry& t, std::string& text) const {
    if (t.set != Charset::Ucs2 && t.set != Charset::Hex) return teDecode(t.text, t.set, text);
    std::string hex;
    for (char c : t.text)
        if (c != '\r' && c != '\n') hex += c;
    return teDecode(hex, t.set, text);
}

void Modem::finishText(bool send, int64_t now, const char* how) {
    TextEntry t = std::move(text_);
    text_ = TextEntry{};
    inText_ = false;
    const char* via = t.cmgs ? "CMGS" : "CMGW";
    std::string text;
    const bool valid = t.pdu || entryText(t, text);
    if (t.pdu) text = t.text; // the PDU's hex digits as they came
    if (!send) {
        transcript(JsonObject()
                       .str("t", "text-dropped")
                       .num("ms", now)
                       .str("via", via)
                       .str("number", t.number)
                       .str("text", text)
                       .str("reason", how)
                       .done());
        // ESC cancels quietly with OK; a text abandoned without Ctrl-Z is an error.
        answer(finalText(std::string(how) == "esc" ? Final::Ok : Final::Error, 0), now);
        return;
    }
    if (onSend) onSend(now);
    if (t.pdu) {
        finishPdu(t, now);
        return;
    }
    // A text the GSM alphabet carries may have --max-text septets; any other goes out in
    // UCS2, 70 characters where the GSM alphabet has 160.
    const std::u32string chars = fromUtf8(text);
    const bool gsm = gsmCarries(chars);
    size_t length = gsm ? gsmSeptets(chars) : 0;
    if (!gsm)
        for (char32_t ch : chars)
            length += ch >= 0x10000 ? 2 : 1;
    const size_t limit = gsm ? config_.maxText : config_.maxText * 70 / 160;
    if (t.overflow || !valid || (config_.maxText > 0 && length > limit)) {
        transcript(JsonObject()
                       .str("t", "text-refused")
                       .num("ms", now)
                       .str("via", via)
                       .str("number", t.number)
                       .str("text", text.substr(0, 512))
                       .num("length", static_cast<int64_t>(t.overflow ? t.text.size() : length))
                       .str("result", "+CMS ERROR: 305")
                       .done());
        answer(finalText(Final::CmsError, 305), now);
        return;
    }
    if (t.cmgs) {
        if (swallow_ > 0) {
            --swallow_;
            transcript(JsonObject()
                           .str("t", "swallowed")
                           .num("ms", now)
                           .str("via", "CMGS")
                           .str("number", t.number)
                           .str("text", text)
                           .done());
            return;
        }
        if (rejectCode_ > 0) {
            transcript(JsonObject()
                           .str("t", "rejected")
                           .num("ms", now)
                           .str("via", "CMGS")
                           .str("number", t.number)
                           .str("text", text)
                           .num("code", rejectCode_)
                           .done());
            networkAnswer(finalText(Final::CmsError, rejectCode_), now);
            return;
        }
        const int ref = nextRef();
        const bool srr = (settings_.csmp[0] & 0x20) != 0; // AT+CSMP's first octet
        transcript(JsonObject()
                       .str("t", "sent")
                       .num("ms", now)
                       .str("via", "CMGS")
                       .str("number", t.number)
                       .str("text", text)
                       .num("ref", ref)
                       .boolean("srr", srr)
                       .done());
        const std::string line = info("+CMGS: " + std::to_string(ref));
        networkAnswer(line + finalText(Final::Ok, 0), now, line.size());
        sent("CMGS", t.number, ref, srr, now + networkDelayMs_);
        return;
    }
    int index = full_ ? 0 : freeSlot();
    if (index == 0) {
        transcript(JsonObject()
                       .str("t", "store-failed")
                       .num("ms", now)
                       .str("number", t.number)
                       .str("text", text)
                       .str("result", "+CMS ERROR: 322")
                       .done());
        answer(finalText(Final::CmsError, 322), now);
        return;
    }
    SimSlot& slot = sim_[static_cast<size_t>(index - 1)];
    slot = SimSlot{.used = true,
                   .stat = t.stat,
                   .number = t.number,
                   .type = t.type,
                   .text = text,
                   .fo = settings_.csmp[0]};
    transcript(JsonObject()
                   .str("t", "stored")
                   .num("ms", now)
                   .num("index", index)
                   .str("stat", t.stat)
                   .str("number", t.number)
                   .str("text", text)
                   .done());
    const std::string line = info("+CMGW: " + std::to_string(index));
    answer(line + finalText(Final::Ok, 0), now, line.size());
}

void Modem::finishPdu(TextEntry& t, int64_t now) {
    const char* via = t.cmgs ? "CMGS" : "CMGW";
    std::string hex;
    for (char c : t.text)
        if (c != '\r' && c != '\n') hex += c;
    hex = upper(hex);
    Tpdu pdu;
    std::string error;
    bool ok = !t.overflow && parsePdu(hex, t.length, pdu, error);
    if (ok && (pdu.deliver || pdu.statusReport)) {
        ok = false;
        error = "not an SMS-SUBMIT";
    }
    if (ok && t.cmgs && pdu.number.empty()) {
        ok = false;
        error = "no destination address";
    }
    if (!ok) {
        transcript(JsonObject()
                       .str("t", "pdu-refused")
                       .num("ms", now)
                       .str("via", via)
                       .bytes("pdu", hex.substr(0, 1024))
                       .str("error", t.overflow ? "too long" : error)
                       .str("result", "+CMS ERROR: 304")
                       .done());
        answer(finalText(Final::CmsError, 304), now);
        return;
    }
    auto event = [&](const char* kind) {
        JsonObject o;
        o.str("t", kind)
            .num("ms", now)
            .str("via", via)
            .str("number", pdu.number)
            .str("text", pdu.text);
        o.str("pdu", hex).str("coding", codingName(pdu.coding));
        addConcat(o, pdu.concat);
        return o;
    };
    if (t.cmgs) {
        if (swallow_ > 0) {
            --swallow_;
            transcript(event("swallowed").done());
            return;
        }
        if (rejectCode_ > 0) {
            transcript(event("rejected").num("code", rejectCode_).done());
            networkAnswer(finalText(Final::CmsError, rejectCode_), now);
            return;
        }
        const int ref = nextRef();
        const bool srr = (pdu.firstOctet & 0x20) != 0;
        transcript(event("sent").num("ref", ref).boolean("srr", srr).done());
        const std::string line = info("+CMGS: " + std::to_string(ref));
        networkAnswer(line + finalText(Final::Ok, 0), now, line.size());
        sent("CMGS", pdu.number, ref, srr, now + networkDelayMs_);
        return;
    }
    const int index = full_ ? 0 : freeSlot();
    if (index == 0) {
        transcript(event("store-failed").str("result", "+CMS ERROR: 322").done());
        answer(finalText(Final::CmsError, 322), now);
        return;
    }
    // Kept as written, with its SMSC part.
    SimSlot& slot = sim_[static_cast<size_t>(index - 1)];
    slot = SimSlot{.used = true,
                   .stat = t.stat,
                   .number = pdu.number,
                   .type = pdu.toa,
                   .text = pdu.text,
                   .pdu = hex,
                   .concat = pdu.concat,
                   .fo = pdu.firstOctet};
    transcript(event("stored").num("index", index).str("stat", t.stat).done());
    const std::string line = info("+CMGW: " + std::to_string(index));
    answer(line + finalText(Final::Ok, 0), now, line.size());
}

} // namespace sim
