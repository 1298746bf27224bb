#pragma once

#include <QString>

namespace ui {

// Plays a WAV file. With `async` the call returns as soon as playing has started;
// otherwise it waits (letting events run) until the sound has finished. Returns false,
// quietly, when the file does not exist or the machine has no sound output.
bool playWaveFile(const QString& path, bool async);

// True when the machine has at least one audio output.
bool soundAvailable();

} // namespace ui
