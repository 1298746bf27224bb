// Excel 97-2003 workbooks: our own look at the compound file and the sheets' claims runs
// in this process; the wizard's steps, which FreeXL reads, run in the program's reader
// process, as the program runs them. FreeXL reads past buffers on damaged files (listed
// in fuzz/README.md), so it never runs in the program's own process.
//
// What must hold: the look ends, or refuses the file with a description naming it; the
// steps hold as for Access files (ImportProcessFuzz.h).
#include "ImportProcessFuzz.h"
#include "compose/ImportSource.h"
#include "compose/XlsCheck.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::startProcessReader(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = fuzz::inputFile(data, size, ".xls");
    try {
        checkXlsWorkbook(QByteArrayView(reinterpret_cast<const char*>(data),
                                        static_cast<qsizetype>(size)),
                         path);
    } catch (const SourceError& e) {
        // A refusal names the file, except the fixed message for a file that is no
        // workbook the readers know.
        FUZZ_CHECK(e.description().contains(path) || e.description() == excelVersionMessage(),
                   e.description());
        return 0;
    }
    fuzz::processWizardSteps(ImportRequest::Source::Excel, path);
    return 0;
}
