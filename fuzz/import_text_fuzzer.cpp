// The text reader, as the wizard's last step runs it: the input is the file, its first
// byte picks the layout (one number per line, or one of the separators).
//
// What must hold: the answer goes through the stream; every entry is a trimmed number that
// is not blank, holds no line end and, with a separator, no separator.
#include "ImportFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const layouts[] = {"", ",", ";", "~", "^", ":"};
    const QString separator =
        QLatin1String(size > 0 ? layouts[data[0] % 6] : "");
    const QString path = fuzz::inputFile(data + (size > 0), size - (size > 0), ".txt");
    ImportRequest r = fuzz::request(ImportRequest::Step::Read, ImportRequest::Source::Text, path);
    r.separator = separator;
    const ImportStreamReader in = fuzz::step(r);
    for (const ImportEntry& e : in.entries)
        FUZZ_CHECK(!e.number.contains(u'\r') && !e.number.contains(u'\n') &&
                       (separator.isEmpty() || !e.number.contains(separator)),
                   fuzz::visible(e.number));
    return 0;
}
