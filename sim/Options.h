#pragma once

// The simulator's command line: its options, their defaults and the --help text.

#include "Modem.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Options {
    std::string link;
    std::string control;
    std::string transcript;
    int delay = 0;
    int networkDelay = 0;
    bool quitOnEof = false;
    ModemConfig config;
};

extern const char* const HelpText;

// The command line without the program name. Returns -1 when the simulator is to run
// with `opt`; otherwise the exit code: 0 after --help (printed), 2 after a bad option
// (reported on standard error).
int parseOptions(const std::vector<std::string>& args, Options& opt);

// A decimal number from lo to hi; `ok` false for anything else.
int64_t parseInt(const char* s, int64_t lo, int64_t hi, bool& ok);

} // namespace sim
