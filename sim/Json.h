#pragma once

// A tiny JSON writer for the transcript and the control replies. Texts are 8-bit
// (Latin-1) byte strings, as on the modem line: each byte becomes the code point of the
// same value, written as UTF-8 (control characters as \u00XX escapes), so a reader that
// decodes the JSON gets the Latin-1 text back.

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

inline std::string jsonString(std::string_view latin1) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(latin1.size() + 2);
    out += '"';
    for (unsigned char c : latin1) {
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
            } else if (c < 0x80) {
                out += static_cast<char>(c);
            } else {
                out += static_cast<char>(0xc0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3f));
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
