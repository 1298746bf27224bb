#include "Control.h"

#include "Charset.h"

#include <cctype>

namespace sim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Resolves the escape that starts at raw[i] (a backslash); advances i past it.
bool escape(std::string_view raw, size_t& i, std::string& out, std::string& error) {
    if (i + 1 >= raw.size()) {
        out += '\\'; // a lone trailing backslash stands for itself
        ++i;
        return true;
    }
    char c = raw[i + 1];
    i += 2;
    switch (c) {
    case 'r':
        out += '\r';
        return true;
    case 'n':
        out += '\n';
        return true;
    case 't':
        out += '\t';
        return true;
    case 'a':
        out += '\a';
        return true;
    case 'b':
        out += '\b';
        return true;
    case 'e':
        out += '\x1b';
        return true;
    case 'z':
        out += '\x1a';
        return true;
    case '0':
        out += '\0';
        return true;
    case 'u': {
        // \uHHHH: that character, as UTF-8.
        char32_t code = 0;
        for (int k = 0; k < 4; ++k) {
            int d = i + static_cast<size_t>(k) < raw.size() ? hexValue(raw[i + k]) : -1;
            if (d < 0) {
                error = "bad \\u escape (four hex digits needed)";
                return false;
            }
            code = code * 16 + static_cast<char32_t>(d);
        }
        i += 4;
        out += toUtf8(std::u32string(1, code));
        return true;
    }
    case 'x': {
        int h = i < raw.size() ? hexValue(raw[i]) : -1;
        int l = i + 1 < raw.size() ? hexValue(raw[i + 1]) : -1;
        if (h < 0 || l < 0) {
            error = "bad \\x escape (two hex digits needed)";
            return false;
        }
        out += static_cast<char>(h * 16 + l);
        i += 2;
        return true;
    }
    default:
        out += c;
        return true;
    }
}

} // namespace

bool unescape(std::string_view raw, std::string& out, std::string& error) {
    out.clear();
    for (size_t i = 0; i < raw.size();) {
        if (raw[i] == '\\') {
            if (!escape(raw, i, out, error)) return false;
        } else {
            out += raw[i++];
        }
    }
    return true;
}

bool splitWords(std::string_view line, std::vector<Word>& words, std::string& error) {
    words.clear();
    size_t i = 0;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (true) {
        while (i < line.size() && blank(line[i]))
            ++i;
        if (i >= line.size()) return true;
        Word w;
        w.start = i;
        if (line[i] == '"') {
            w.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '"') {
                    ++i;
                    closed = true;
                    break;
                }
                if (line[i] == '\\') {
                    if (!escape(line, i, w.text, error)) return false;
                } else {
                    w.text += line[i++];
                }
            }
            if (!closed) {
                error = "unterminated quote";
                return false;
            }
        } else {
            while (i < line.size() && !blank(line[i])) {
                if (line[i] == '\\') {
                    if (!escape(line, i, w.text, error)) return false;
                } else {
                    w.text += line[i++];
                }
            }
        }
        w.end = i;
        words.push_back(std::move(w));
    }
}

std::string utf8ToLatin1(std::string_view line) {
    std::string out;
    bool multi = false;
    for (size_t i = 0; i < line.size(); ++i) {
        auto c = static_cast<unsigned char>(line[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        // Two-byte sequences C2/C3 xx encode U+0080..U+00FF; anything else is not Latin-1.
        if ((c == 0xc2 || c == 0xc3) && i + 1 < line.size() &&
            (static_cast<unsigned char>(line[i + 1]) & 0xc0) == 0x80) {
            out += static_cast<char>(((c & 0x1f) << 6) | (line[i + 1] & 0x3f));
            ++i;
            multi = true;
            continue;
        }
        return std::string(line);
    }
    return multi ? out : std::string(line);
}

} // namespace sim
