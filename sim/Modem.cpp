#include "Modem.h"

#include "Json.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace sim {

namespace {

constexpr char CtrlZ = 0x1a;
constexpr char Esc = 0x1b;
// In the GSM set an ESC that no extension code follows within this time cancels the text.
constexpr int64_t EscWaitMs = 100;
// Input that waits while the modem is busy, and output that waits for the line, are
// bounded: a client that floods a slow modem loses what does not fit.
constexpr size_t MaxQueuedInput = 1 << 20;
constexpr size_t MaxQueuedOutput = 1 << 20;
// Text-entry buffer: bytes beyond it are dropped and the message is refused.
constexpr size_t MaxTextBuffer = 4096;

bool isDigits(std::string_view s) {
    return !s.empty() && s.size() <= 9 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool toInt(std::string_view s, int& value) {
    if (!isDigits(s)) return false;
    value = std::stoi(std::string(s));
    return true;
}

bool validDialNumber(std::string_view s) {
    if (s.empty() || s.size() > 24) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = s[i];
        if (std::isdigit(c) || c == '*' || c == '#') continue;
        if (c == '+' && i == 0 && s.size() > 1) continue;
        return false;
    }
    return true;
}

// In this order: their numbers in PDU mode.
const char* const Stats[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};

int statNumber(const std::string& stat) {
    for (int k = 0; k < 4; ++k)
        if (stat == Stats[k]) return k;
    return 0;
}

// The highest TPDU an SMS-SUBMIT can be: first octet, reference, a 20-digit address,
// PID, DCS, a 7-octet validity, the user data's length and 140 octets.
constexpr int MaxTpdu = 164;

void addConcat(JsonObject& o, const Concat& c) {
    if (c.parts <= 0) return;
    o.num("concatRef", c.ref).num("parts", c.parts).num("part", c.part);
}

bool knownStat(const std::string& s) {
    return std::find(std::begin(Stats), std::end(Stats), s) != std::end(Stats);
}

} // namespace

std::string upper(std::string_view s) {
    std::string r(s);
    for (auto& c : r)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

// yy/MM/dd,hh:mm:ss+zz (zz: quarter hours, sign + or -).
bool validTimestamp(std::string_view s) {
    static const char pattern[] = "99/99/99,99:99:99+99";
    if (s.size() != sizeof(pattern) - 1) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (pattern[i] == '9') {
            if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        } else if (pattern[i] == '+') {
            if (s[i] != '+' && s[i] != '-') return false;
        } else if (s[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

int addressType(std::string_view number) {
    if (!number.empty() && number[0] == '+') return 145;
    if (number.empty() || validDialNumber(number)) return 129;
    return 208; // alphanumeric sender such as "VM-BANKIN"
}

Modem::Modem(ModemConfig config) : config_(std::move(config)) {
    if (config_.slots < 1) config_.slots = 1;
    sim_.resize(static_cast<size_t>(config_.slots));
    ref_ = config_.firstRef & 0xff;
    resetSettings();
}

void Modem::resetSettings() {
    settings_ = Settings{};
    settings_.cmgf = config_.initialCmgf ? 1 : 0;
    settings_.s[3] = '\r';
    settings_.s[4] = '\n';
    settings_.s[5] = 8;
    settings_.s[7] = 60;
}

void Modem::powerCycle() {
    resetSettings();
    inQueue_.clear();
    inPos_ = 0;
    busyUntil_ = 0;
    out_.clear();
    outBytes_ = 0;
    line_.clear();
    lineOverflow_ = false;
    inText_ = false;
    text_ = TextEntry{};
    call_ = Call{};
}

// ---------------------------------------------------------------------------------------
// Output

std::string Modem::crlf() const {
    return {static_cast<char>(settings_.s[3]), static_cast<char>(settings_.s[4])};
}

std::string Modem::info(std::string_view text) const {
    if (settings_.verbose) return crlf() + std::string(text) + crlf();
    return std::string(text) + crlf();
}

std::string Modem::finalName(Final f, int cms) {
    switch (f) {
    case Final::Ok:
        return "OK";
    case Final::Error:
        return "ERROR";
    case Final::CmsError:
        return "+CMS ERROR: " + std::to_string(cms);
    case Final::NoCarrier:
        return "NO CARRIER";
    case Final::None:
        return "prompt";
    }
    return {};
}

std::string Modem::finalText(Final f, int cms) const {
    if (f == Final::None || settings_.quiet) return {};
    if (f == Final::CmsError) return info(finalName(f, cms));
    if (settings_.verbose) return info(finalName(f, cms));
    const char* code = f == Final::Ok ? "0" : f == Final::Error ? "4" : "3";
    return std::string(code) + static_cast<char>(settings_.s[3]);
}

void Modem::emitAt(int64_t when, std::string bytes) {
    if (silent_ || bytes.empty()) return;
    if (outBytes_ + bytes.size() > MaxQueuedOutput) return;
    int64_t t = std::max(when, lastOutTime_);
    outBytes_ += bytes.size();
    if (!out_.empty() && out_.back().first == t)
        out_.back().second += bytes;
    else
        out_.emplace_back(t, std::move(bytes));
    lastOutTime_ = t;
}

void Modem::respond(std::string bytes, int64_t now) {
    emitAt(now + delayMs_, std::move(bytes));
    if (delayMs_ > 0) busyUntil_ = now + delayMs_;
}

void Modem::answer(std::string bytes, int64_t now) {
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

std::string Modem::takeOutput(int64_t now) {
    std::string r;
    while (!out_.empty() && out_.front().first <= now) {
        r += out_.front().second;
        outBytes_ -= out_.front().second.size();
        out_.pop_front();
    }
    return r;
}

int64_t Modem::nextWakeup(int64_t now) const {
    int64_t next = -1;
    auto consider = [&](int64_t at) {
        int64_t d = std::max<int64_t>(0, at - now);
        if (next < 0 || d < next) next = d;
    };
    if (!out_.empty()) consider(out_.front().first);
    if (inPos_ < inQueue_.size()) consider(busyUntil_);
    if (call_.present && !call_.answered) consider(call_.nextAt);
    if (inText_) consider(text_.lastByte + config_.textTimeoutMs);
    if (inText_ && text_.escPending) consider(text_.escAt + EscWaitMs);
    return next;
}

void Modem::transcript(const std::string& json) {
    if (deferring_)
        deferred_.push_back(json);
    else if (onTranscript)
        onTranscript(json);
}

// ---------------------------------------------------------------------------------------
// Input

void Modem::receive(std::string_view bytes, int64_t now) {
    size_t room = MaxQueuedInput - std::min(MaxQueuedInput, inQueue_.size() - inPos_);
    inQueue_.append(bytes.substr(0, std::min(room, bytes.size())));
    advance(now);
}

void Modem::advance(int64_t now) {
    while (inPos_ < inQueue_.size() && now >= busyUntil_)
        processByte(inQueue_[inPos_++], now);
    if (inPos_ == inQueue_.size()) {
        inQueue_.clear();
        inPos_ = 0;
    } else if (inPos_ > 65536) {
        inQueue_.erase(0, inPos_);
        inPos_ = 0;
    }

    if (call_.present && !call_.answered && now >= call_.nextAt) {
        if (call_.ringsDone < call_.ringsTotal) {
            emitRing(now);
            ++call_.ringsDone;
            call_.nextAt = now + call_.intervalMs;
        } else {
            hangup(now);
        }
    }

    if (inText_ && text_.escPending && now - text_.escAt >= EscWaitMs)
        finishText(false, now, "esc");
    if (inText_ && now - text_.lastByte >= config_.textTimeoutMs) finishText(false, now, "timeout");
}

void Modem::processByte(char c, int64_t now) {
    if (inText_)
        textByte(c, now);
    else
        commandByte(c, now);
}

void Modem::commandByte(char c, int64_t now) {
    if (settings_.echo) emitAt(now, std::string(1, c));
    const auto uc = static_cast<unsigned char>(c);
    if (uc == settings_.s[3]) {
        std::string line;
        line.swap(line_);
        bool overflow = lineOverflow_;
        lineOverflow_ = false;
        if (overflow) {
            transcript(JsonObject()
                           .str("t", "cmd")
                           .num("ms", now)
                           .bytes("text", line.substr(0, 64))
                           .boolean("overflow", true)
                           .str("result", "ERROR")
                           .done());
            if (!silent_) answer(finalText(Final::Error, 0), now);
            return;
        }
        executeLine(line, now);
        return;
    }
    if (uc == settings_.s[5] || uc == 0x7f) {
        if (!line_.empty()) line_.pop_back();
        return;
    }
    if (uc == settings_.s[4] || c == '\n')
        return; // line feeds between commands are not part of any command
    if (line_.size() >= config_.maxLine) {
        lineOverflow_ = true;
        return;
    }
    line_ += c;
    // "A/" repeats the last command line at once, without a carriage return.
    if (line_.size() == 2 && (line_[0] == 'A' || line_[0] == 'a') && line_[1] == '/') {
        line_.clear();
        if (!lastLine_.empty())
            executeLine(lastLine_, now);
        else
            answer(finalText(Final::Error, 0), now);
    }
}

void Modem::textByte(char c, int64_t now) {
    text_.lastByte = now;
    const auto uc = static_cast<unsigned char>(c);
    if (text_.escPending) {
        // In the GSM set ESC + an extension code is one character; ESC + anything else
        // cancels the text, and the byte belongs to what follows.
        text_.escPending = false;
        if (uc < 0x80 && gsmExtension(uc) != 0) {
            if (settings_.echo) emitAt(now, std::string{Esc, c});
            text_.skipLf = false;
            if (text_.text.size() + 2 > MaxTextBuffer) {
                text_.overflow = true;
                return;
            }
            text_.text += Esc;
            text_.text += c;
            return;
        }
        finishText(false, now, "esc");
        commandByte(c, now);
        return;
    }
    if (c == CtrlZ) {
        finishText(true, now, "ctrl-z");
        return;
    }
    if (c == Esc) {
        if (text_.set == Charset::Gsm) {
            text_.escPending = true;
            text_.escAt = now;
            return;
        }
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
            answer(finalText(Final::CmsError, rejectCode_), now);
            return;
        }
        int ref = nextRef();
        transcript(JsonObject()
                       .str("t", "sent")
                       .num("ms", now)
                       .str("via", "CMGS")
                       .str("number", t.number)
                       .str("text", text)
                       .num("ref", ref)
                       .done());
        answer(info("+CMGS: " + std::to_string(ref)) + finalText(Final::Ok, 0), now);
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
    slot = SimSlot{true, t.stat, t.number, t.type, "", text, "", {}};
    transcript(JsonObject()
                   .str("t", "stored")
                   .num("ms", now)
                   .num("index", index)
                   .str("stat", t.stat)
                   .str("number", t.number)
                   .str("text", text)
                   .done());
    answer(info("+CMGW: " + std::to_string(index)) + finalText(Final::Ok, 0), now);
}

// ---------------------------------------------------------------------------------------
// Command lines

void Modem::executeLine(const std::string& line, int64_t now) {
    // The command starts at the first "AT" (either case); what comes before is noise.
    size_t at = std::string::npos;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        if ((line[i] == 'A' || line[i] == 'a') && (line[i + 1] == 'T' || line[i + 1] == 't')) {
            at = i;
            break;
        }
    }
    if (at == std::string::npos) {
        bool visible = std::any_of(line.begin(), line.end(), [](char c) {
            auto u = static_cast<unsigned char>(c);
            return u > ' ' && u != 0x7f;
        });
        if (!visible) return; // an empty line: nothing to answer
        transcript(JsonObject()
                       .str("t", "cmd")
                       .num("ms", now)
                       .bytes("text", line)
                       .str("result", silent_ ? "silent" : "ERROR")
                       .done());
        if (!silent_) answer(finalText(Final::Error, 0), now);
        return;
    }
    if (silent_) {
        transcript(JsonObject()
                       .str("t", "cmd")
                       .num("ms", now)
                       .bytes("text", line)
                       .str("result", "silent")
                       .done());
        return;
    }
    lastLine_ = line;

    // Blanks outside quoted strings do not count.
    std::string body;
    bool quoted = false;
    for (size_t i = at + 2; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == ' ' || c == '\t')) continue;
        body += c;
    }
    Exec ex;
    // Events of the command (a message sent, stored, deleted) follow its "cmd" line.
    deferring_ = true;
    if (quoted) {
        ex.final = Final::Error; // an unterminated string
    } else {
        runBody(body, ex, now);
    }
    deferring_ = false;
    const bool late = ex.textEntry && latePrompts_ > 0;
    JsonObject cmd;
    cmd.str("t", "cmd")
        .num("ms", now)
        .bytes("text", line)
        .str("result",
             ex.swallowed ? "swallowed" : finalName(ex.textEntry ? Final::None : ex.final, ex.cms));
    if (late) cmd.num("latePrompt", latePromptMs_);
    transcript(cmd.done());
    for (const auto& event : deferred_)
        transcript(event);
    deferred_.clear();
    if (ex.swallowed) return;
    if (ex.textEntry) {
        std::string prompt = (noise_ ? crlf() + noiseLine() + crlf() : "") + crlf() + "> ";
        if (late) {
            // Text entry has begun; only the prompt is late. The modem reads on.
            --latePrompts_;
            emitAt(now + std::max(delayMs_, latePromptMs_), ex.out + prompt);
            return;
        }
        respond(ex.out + prompt, now);
        return;
    }
    answer(ex.out + finalText(ex.final, ex.cms), now);
}

void Modem::runBody(const std::string& body, Exec& ex, int64_t now) {
    size_t i = 0;
    const size_t n = body.size();
    while (i < n && ex.final == Final::Ok && !ex.textEntry && !ex.swallowed) {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(body[i])));
        if (c == ';') {
            ++i;
            continue;
        }
        if (c == '+') {
            size_t j = i + 1;
            while (j < n && (std::isalnum(static_cast<unsigned char>(body[j])) || body[j] == '_'))
                ++j;
            std::string name = upper(body.substr(i + 1, j - i - 1));
            char op = 'x'; // x execute, s set, r read, t test
            std::string args;
            if (j < n && body[j] == '=') {
                if (j + 1 < n && body[j + 1] == '?') {
                    op = 't';
                    j += 2;
                } else {
                    op = 's';
                    size_t k = ++j;
                    bool q = false;
                    while (k < n && (q || body[k] != ';')) {
                        if (body[k] == '"') q = !q;
                        ++k;
                    }
                    args = body.substr(j, k - j);
                    j = k;
                }
            } else if (j < n && body[j] == '?') {
                op = 'r';
                ++j;
            }
            i = j;
            if (name.empty() || (i < n && body[i] != ';')) {
                ex.final = Final::Error;
                return;
            }
            if (!extended(name, op, args, ex, now) && ex.final == Final::Ok)
                ex.final = Final::Error;
            continue;
        }
        if (!basic(body, i, ex, now) && ex.final == Final::Ok) ex.final = Final::Error;
        if (ex.final == Final::NoCarrier) return;
    }
}

// Basic (V.250) commands: one letter, or & and a letter, with an optional number.
bool Modem::basic(const std::string& body, size_t& i, Exec& ex, int64_t) {
    const size_t n = body.size();
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(body[i++])));
    auto number = [&](int deflt, int& value) {
        size_t j = i;
        while (j < n && std::isdigit(static_cast<unsigned char>(body[j])) && j - i < 3)
            ++j;
        value = j == i ? deflt : std::stoi(body.substr(i, j - i));
        i = j;
    };
    int v = 0;
    if (c == '&') {
        if (i >= n) return false;
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(body[i++])));
        number(0, v);
        if (letter == 'F') {
            resetSettings();
            return v == 0;
        }
        return letter == 'W' || letter == 'C' || letter == 'D' || letter == 'K' || letter == 'V';
    }
    switch (c) {
    case 'E':
        number(0, v);
        if (v > 1) return false;
        settings_.echo = v == 1;
        return true;
    case 'V':
        number(0, v);
        if (v > 1) return false;
        settings_.verbose = v == 1;
        return true;
    case 'Q':
        number(0, v);
        if (v > 1) return false;
        settings_.quiet = v == 1;
        return true;
    case 'Z':
        number(0, v);
        resetSettings();
        return v == 0;
    case 'X':
    case 'L':
    case 'M':
    case 'W':
    case 'P':
    case 'T':
        number(0, v);
        return v <= 4;
    case 'I':
        number(0, v);
        if (v == 0)
            ex.out += info(config_.manufacturer + " " + config_.model + crlf() + config_.revision);
        else if (v == 3)
            ex.out += info(config_.revision);
        else if (v > 9)
            return false;
        return true;
    case 'H':
        number(0, v);
        if (v != 0) return false;
        call_ = Call{}; // the call is refused or ended; the caller sees it
        return true;
    case 'A':
        if (call_.present) {
            call_.answered = true;
            return true;
        }
        ex.final = Final::NoCarrier;
        return true;
    case 'D':
    case 'O':
        i = n; // the dial string is the rest of the line; no voice network here
        ex.final = Final::NoCarrier;
        return true;
    case 'S': {
        size_t j = i;
        while (j < n && std::isdigit(static_cast<unsigned char>(body[j])) && j - i < 3)
            ++j;
        if (j == i) return false;
        int reg = std::stoi(body.substr(i, j - i));
        i = j;
        if (reg > 255) return false;
        if (i < n && body[i] == '?') {
            ++i;
            char buf[8];
            std::snprintf(buf, sizeof buf, "%03d", settings_.s[reg]);
            ex.out += info(buf);
            return true;
        }
        if (i < n && body[i] == '=') {
            ++i;
            number(0, v);
            if (v > 255 || (reg == 3 && v == 0)) return false;
            settings_.s[reg] = static_cast<unsigned char>(v);
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

namespace {

bool splitParams(const std::string& args, std::vector<std::string>& raw) {
    raw.clear();
    std::string cur;
    bool q = false;
    for (char c : args) {
        if (c == '"') q = !q;
        if (c == ',' && !q) {
            raw.push_back(cur);
            cur.clear();
            continue;
        }
        cur += c;
    }
    if (q) return false;
    raw.push_back(cur);
    return true;
}

} // namespace

bool Modem::extended(const std::string& name, char op, const std::string& args, Exec& ex,
                     int64_t now) {
    std::vector<std::string> raw;
    if (!splitParams(args, raw)) return false;
    std::vector<Param> p;
    if (op == 's') {
        for (const auto& r : raw) {
            Param par;
            if (!r.empty() && r.front() == '"') {
                if (r.size() < 2 || r.back() != '"' || r.find('"', 1) != r.size() - 1) return false;
                par.value = r.substr(1, r.size() - 2);
                par.quoted = true;
            } else {
                if (r.find('"') != std::string::npos) return false;
                par.value = r;
            }
            p.push_back(par);
        }
    }
    auto intParam = [&](size_t k, int lo, int hi, int& out) {
        if (k >= p.size() || p[k].quoted || !toInt(p[k].value, out)) return false;
        return out >= lo && out <= hi;
    };
    auto simpleSwitch = [&](int& field, int hi, const std::string& readText,
                            const std::string& testText) {
        switch (op) {
        case 's': {
            int v = 0;
            if (p.size() != 1 || !intParam(0, 0, hi, v)) return false;
            field = v;
            return true;
        }
        case 'r':
            ex.out += info("+" + name + ": " + readText);
            return true;
        case 't':
            ex.out += info("+" + name + ": " + testText);
            return true;
        default:
            return false;
        }
    };
    auto identification = [&](const std::string& text) {
        if (op == 'x') ex.out += info(text);
        return op == 'x' || op == 't';
    };

    if (name == "CGMI" || name == "GMI") return identification(config_.manufacturer);
    if (name == "CGMM" || name == "GMM") return identification(config_.model);
    if (name == "CGMR" || name == "GMR") return identification(config_.revision);
    if (name == "CGSN" || name == "GSN") return identification(config_.imei);
    if (name == "CMGF")
        return simpleSwitch(settings_.cmgf, 1, std::to_string(settings_.cmgf), "(0,1)");
    if (name == "CLIP")
        return simpleSwitch(settings_.clip, 1, std::to_string(settings_.clip) + ",1", "(0,1)");
    if (name == "CMEE")
        return simpleSwitch(settings_.cmee, 2, std::to_string(settings_.cmee), "(0-2)");
    if (name == "CSDH")
        return simpleSwitch(settings_.csdh, 1, std::to_string(settings_.csdh), "(0,1)");
    if (name == "CREG")
        return simpleSwitch(settings_.creg, 2, std::to_string(settings_.creg) + ",1", "(0-2)");
    if (name == "FLO")
        return simpleSwitch(settings_.flo, 2, std::to_string(settings_.flo), "(0-2)");
    if (name == "IFC") {
        if (op == 's') {
            int a = 0, b = settings_.ifcDte;
            if (p.empty() || p.size() > 2 || !intParam(0, 0, 2, a) ||
                (p.size() == 2 && !intParam(1, 0, 2, b)))
                return false;
            settings_.ifcDce = a;
            settings_.ifcDte = b;
            return true;
        }
        if (op == 'r')
            ex.out += info("+IFC: " + std::to_string(settings_.ifcDce) + "," +
                           std::to_string(settings_.ifcDte));
        if (op == 't') ex.out += info("+IFC: (0-2),(0-2)");
        return op != 'x';
    }
    if (name == "IPR") {
        if (op == 's') {
            int v = 0;
            if (p.size() != 1 || !intParam(0, 0, 4000000, v)) return false;
            settings_.ipr = v;
            return true;
        }
        if (op == 'r') ex.out += info("+IPR: " + std::to_string(settings_.ipr));
        if (op == 't') ex.out += info("+IPR: (),(0,1200,2400,4800,9600,19200,38400,57600,115200)");
        return op != 'x';
    }
    if (name == "CSCS") {
        if (op == 's') {
            if (p.size() != 1 || !p[0].quoted) return false;
            std::string want = upper(p[0].value);
            for (const auto& cs : config_.charsets) {
                if (upper(cs) == want) {
                    settings_.cscs = want;
                    return true;
                }
            }
            return false;
        }
        if (op == 'r') ex.out += info("+CSCS: \"" + settings_.cscs + "\"");
        if (op == 't') {
            std::string list;
            for (const auto& cs : config_.charsets)
                list += (list.empty() ? "\"" : ",\"") + upper(cs) + "\"";
            ex.out += info("+CSCS: (" + list + ")");
        }
        return op != 'x';
    }
    if (name == "CNMI") {
        if (op == 's') {
            static const int hi[5] = {3, 3, 3, 2, 1};
            if (p.empty() || p.size() > 5) return false;
            int vals[5];
            for (size_t k = 0; k < 5; ++k) {
                vals[k] = settings_.cnmi[k];
                if (k < p.size() && !p[k].value.empty() && !intParam(k, 0, hi[k], vals[k]))
                    return false;
            }
            std::copy(std::begin(vals), std::end(vals), settings_.cnmi);
            return true;
        }
        if (op == 'r') {
            std::string t = "+CNMI: ";
            for (int k = 0; k < 5; ++k)
                t += (k ? "," : "") + std::to_string(settings_.cnmi[k]);
            ex.out += info(t);
        }
        if (op == 't') ex.out += info("+CNMI: (0-3),(0-3),(0-3),(0-2),(0,1)");
        return op != 'x';
    }
    if (name == "CPMS") {
        std::string u = std::to_string(slotsUsed()), t = std::to_string(slots());
        if (op == 's') {
            if (p.empty() || p.size() > 3) return false;
            for (const auto& par : p)
                if (!par.quoted || upper(par.value) != "SM") {
                    ex.final = Final::CmsError;
                    ex.cms = 302;
                    return false;
                }
            ex.out += info("+CPMS: " + u + "," + t + "," + u + "," + t + "," + u + "," + t);
            return true;
        }
        if (op == 'r')
            ex.out += info("+CPMS: \"SM\"," + u + "," + t + ",\"SM\"," + u + "," + t + ",\"SM\"," +
                           u + "," + t);
        if (op == 't') ex.out += info("+CPMS: (\"SM\"),(\"SM\"),(\"SM\")");
        return op != 'x';
    }
    if (name == "CSCA") {
        if (op == 's') {
            std::string csca;
            if (p.empty() || p.size() > 2 || !p[0].quoted || !teIn(p[0].value, csca)) return false;
            settings_.csca = csca;
            return true;
        }
        if (op == 'r')
            ex.out += info("+CSCA: \"" + teOut(settings_.csca) + "\"," +
                           std::to_string(addressType(settings_.csca)));
        return op != 'x';
    }
    if (name == "CSMP") {
        if (op == 'r') ex.out += info("+CSMP: 17,167,0,0");
        if (op == 't') ex.out += info("+CSMP: (0-255),(0-255),(0-255),(0-255)");
        return op != 'x';
    }
    if (name == "CPIN") {
        if (op == 'r') ex.out += info("+CPIN: READY");
        return op == 'r' || op == 't';
    }
    if (name == "CSQ") {
        if (op == 'x') ex.out += info("+CSQ: 20,0");
        if (op == 't') ex.out += info("+CSQ: (0-31,99),(0-7,99)");
        return op == 'x' || op == 't';
    }
    if (name == "COPS") {
        if (op == 'r') ex.out += info("+COPS: 0,0,\"SIMULATED\"");
        if (op == 't') ex.out += info("+COPS: (2,\"SIMULATED\",\"SIM\",\"00101\"),,(0-4),(0-2)");
        return op != 'x';
    }
    if (name == "CFUN") {
        int v = 0;
        if (op == 's') return !p.empty() && p.size() <= 2 && intParam(0, 0, 4, v);
        if (op == 'r') ex.out += info("+CFUN: 1");
        if (op == 't') ex.out += info("+CFUN: (0,1,4),(0,1)");
        return op != 'x';
    }
    if (name == "CCLK") {
        if (op == 'r') ex.out += info("+CCLK: \"" + timestamp() + "\"");
        return op == 'r' || op == 't' || op == 's';
    }
    if (name == "CLCC") {
        if (op == 'x' && call_.present) ex.out += info(clccLine());
        return op == 'x' || op == 't';
    }
    if (name == "CHUP") {
        if (op == 'x') call_ = Call{};
        return op == 'x' || op == 't';
    }
    if (name == "CMGL" || name == "CMGR" || name == "CMGD" || name == "CMGW" || name == "CMSS" ||
        name == "CMGS")
        return smsCommand(name, op, p, ex, now);
    return false;
}

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
            return cmsError(rejectCode_);
        }
        int ref = nextRef();
        if (slot.used) slot.stat = "STO SENT";
        transcript(event("sent").num("ref", ref).done());
        ex.out += info("+CMSS: " + std::to_string(ref));
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

void Modem::finishPdu(TextEntry& t, int64_t now) {
    const char* via = t.cmgs ? "CMGS" : "CMGW";
    std::string hex;
    for (char c : t.text)
        if (c != '\r' && c != '\n') hex += c;
    hex = upper(hex);
    Tpdu pdu;
    std::string error;
    bool ok = !t.overflow && parsePdu(hex, t.length, pdu, error);
    if (ok && pdu.deliver) {
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
            answer(finalText(Final::CmsError, rejectCode_), now);
            return;
        }
        const int ref = nextRef();
        transcript(event("sent").num("ref", ref).done());
        answer(info("+CMGS: " + std::to_string(ref)) + finalText(Final::Ok, 0), now);
        return;
    }
    const int index = full_ ? 0 : freeSlot();
    if (index == 0) {
        transcript(event("store-failed").str("result", "+CMS ERROR: 322").done());
        answer(finalText(Final::CmsError, 322), now);
        return;
    }
    // Kept as written, with an SMSC part of its own ("00": the default one).
    const bool smscPart = hex.size() / 2 != static_cast<size_t>(t.length);
    SimSlot& slot = sim_[static_cast<size_t>(index - 1)];
    slot = SimSlot{
        true, t.stat, pdu.number, pdu.toa, "", pdu.text, smscPart ? hex : "00" + hex, pdu.concat};
    transcript(event("stored").num("index", index).str("stat", t.stat).done());
    answer(info("+CMGW: " + std::to_string(index)) + finalText(Final::Ok, 0), now);
}

EncodedPdu Modem::slotPdu(const SimSlot& s) const {
    if (!s.pdu.empty()) {
        const size_t smsc = std::stoul(s.pdu.substr(0, 2), nullptr, 16);
        return {s.pdu, static_cast<int>(s.pdu.size() / 2 - 1 - smsc)};
    }
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
            if (!keepStatus && s.stat == "REC UNREAD") s.stat = "REC READ";
            continue;
        }
        std::string head = "+CMGL: " + std::to_string(k + 1) + ",\"" + s.stat + "\",\"" +
                           teOut(s.number) + "\",\"\",";
        if (s.stat.rfind("REC", 0) == 0) head += "\"" + s.time + "\"";
        if (settings_.csdh)
            head += "," + std::to_string(s.type) + "," + std::to_string(fromUtf8(s.text).size());
        ex.out += head + crlf() + teOut(s.text) + crlf();
        if (!keepStatus && s.stat == "REC UNREAD") s.stat = "REC READ";
    }
}

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

// ---------------------------------------------------------------------------------------
// SIM store and control

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
    sim_[static_cast<size_t>(index - 1)] =
        SimSlot{true, stat, number, addressType(number), stamp, text, "", concat};
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
        sim_[k] = SimSlot{true,
                          stat,
                          "+10000000000",
                          145,
                          rec ? timestamp() : "",
                          "filler " + std::to_string(k + 1),
                          "",
                          {}};
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

void Modem::raw(const std::string& bytes, int64_t now) {
    emitAt(now, bytes);
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
        .num("nextRef", ref_);
    std::string s = o.done();
    return s.substr(1, s.size() - 2);
}

std::string Modem::listJson() const {
    std::string r = "[";
    for (size_t k = 0; k < sim_.size(); ++k) {
        const SimSlot& s = sim_[k];
        if (!s.used) continue;
        if (r.size() > 1) r += ",";
        r += JsonObject()
                 .num("index", static_cast<int64_t>(k + 1))
                 .str("stat", s.stat)
                 .str("number", s.number)
                 .num("type", s.type)
                 .str("time", s.time)
                 .str("text", s.text)
                 .done();
    }
    return r + "]";
}

} // namespace sim
