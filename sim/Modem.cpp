// The modem's core: power-up state, the output queue, reading the line byte by byte and
// carrying out command lines.

#include "Modem.h"

#include "ModemShared.h"

#include <algorithm>
#include <cctype>

namespace sim {

using namespace detail;

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
    heldReports_.clear();
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
    const int64_t delay = delayMs_ + answerExtraMs_;
    emitAt(now + delay, std::move(bytes));
    if (delay > 0) busyUntil_ = std::max(busyUntil_, now + delay);
}

void Modem::networkAnswer(std::string bytes, int64_t now, size_t middle) {
    answerExtraMs_ = networkDelayMs_;
    answer(std::move(bytes), now, middle);
    answerExtraMs_ = 0;
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
    for (const auto& r : reports_)
        consider(r.due);
    if (inText_) consider(text_.lastByte + config_.textTimeoutMs);
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

    deliverReports(now);

    if (call_.present && !call_.answered && now >= call_.nextAt) {
        if (call_.ringsDone < call_.ringsTotal) {
            emitRing(now);
            ++call_.ringsDone;
            call_.nextAt = now + call_.intervalMs;
        } else {
            hangup(now);
        }
    }

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
    const size_t middle = std::min(ex.middle, ex.out.size());
    if (ex.network)
        networkAnswer(ex.out + finalText(ex.final, ex.cms), now, middle);
    else
        answer(ex.out + finalText(ex.final, ex.cms), now, middle);
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

} // namespace sim
