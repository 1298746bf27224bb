// The .xlsx reader (our own, over libzip and Qt's XML reader) through the wizard's steps:
// list the sheets, list a sheet's columns, preview it, read it.
//
// What must hold: every answer goes through the stream, entries are trimmed numbers, the
// preview holds at most four and they are the first the reading gives.
#include "ImportFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::wizardSteps(ImportRequest::Source::Excel, fuzz::inputFile(data, size, ".xlsx"));
    return 0;
}
