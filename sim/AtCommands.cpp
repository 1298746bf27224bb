// The basic (V.250) and extended AT commands, except the SMS commands.

#include "Modem.h"

#include "ModemShared.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace sim {

using namespace detail;

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
        // <fo> (0x20: ask for a status report), <vp>, <pid>, <dcs>; left out: unchanged.
        if (op == 's') {
            if (p.empty() || p.size() > 4) return false;
            int vals[4];
            for (size_t k = 0; k < 4; ++k) {
                vals[k] = settings_.csmp[k];
                if (k < p.size() && !p[k].value.empty() && !intParam(k, 0, 255, vals[k]))
                    return false;
            }
            std::copy(std::begin(vals), std::end(vals), settings_.csmp);
            return true;
        }
        if (op == 'r')
            ex.out +=
                info("+CSMP: " + std::to_string(settings_.csmp[0]) + "," +
                     std::to_string(settings_.csmp[1]) + "," + std::to_string(settings_.csmp[2]) +
                     "," + std::to_string(settings_.csmp[3]));
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

} // namespace sim
