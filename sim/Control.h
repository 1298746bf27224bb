#pragma once

// Words of a control command line.
//
// Words are separated by blanks. A word in double quotes may hold blanks. Both quoted
// and bare words understand C-style escapes: \r \n \t \\ \" \' \a \b \e (ESC) \z (Ctrl-Z)
// \0, \xHH (one byte, two hex digits) and \uHHHH (that character in UTF-8). A backslash
// before any other character stands for that character.

#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Word {
    std::string text; // with quotes removed and escapes resolved
    bool quoted = false;
    size_t start = 0; // offsets of the raw word in the line
    size_t end = 0;
};

// False with `error` set for an unterminated quote or a bad \x escape.
bool splitWords(std::string_view line, std::vector<Word>& words, std::string& error);

// Resolves the escapes of a bare text (no quote handling).
bool unescape(std::string_view raw, std::string& out, std::string& error);

// A line typed in a UTF-8 terminal: when it is valid UTF-8 with multi-byte characters
// that all fit in Latin-1, returns it in Latin-1; otherwise returns it unchanged.
std::string utf8ToLatin1(std::string_view line);

} // namespace sim
