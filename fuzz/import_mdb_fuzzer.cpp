// Access files through the wizard's steps, as the program runs them: in the reader
// process. libmdb cannot run inside this process: on damaged files it loops or allocates
// for ever (listed in fuzz/README.md), which is why the program never runs it in its own
// process either.
#include "ImportProcessFuzz.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::startProcessReader(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::processWizardSteps(ImportRequest::Source::Access, fuzz::inputFile(data, size, ".mdb"));
    return 0;
}
