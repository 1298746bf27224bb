#pragma once

// A tiny JSON writer for the transcript and the control replies. Texts are UTF-8 (a
// byte string that is no valid UTF-8 is taken as Latin-1); bytes from the modem line
// (a command line as typed) go in with bytes(), each byte the code point of its value.

#include "Charset.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

inline std::string jsonString(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    const std::string utf8 = controlText(text);
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

// Builds one JSON object: JsonObject().str("t", "cmd").num("ms", 12).done().
class JsonObject {
public:
    JsonObject& str(std::string_view key, std::string_view value) {
        return raw(key, jsonString(value));
    }
    // Line bytes: each byte is the character of the same value (Latin-1).
    JsonObject& bytes(std::string_view key, std::string_view latin1) {
        return raw(key, jsonString(latin1ToUtf8(latin1)));
    }
    JsonObject& num(std::string_view key, int64_t value) { return raw(key, std::to_string(value)); }
    JsonObject& boolean(std::string_view key, bool value) {
        return raw(key, value ? "true" : "false");
    }
    // `json` must already be valid JSON (a nested object or array).
    JsonObject& raw(std::string_view key, std::string_view json) {
        out_ += out_.size() > 1 ? "," : "";
        out_ += jsonString(key);
        out_ += ':';
        out_ += json;
        return *this;
    }
    std::string done() const { return out_ + "}"; }

private:
    std::string out_ = "{";
};

} // namespace sim
