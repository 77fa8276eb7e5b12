#pragma once

// The preview's backend on Qt Multimedia. The window reaches it through the
// player module (app/playermodule.h); tests and benches link it directly to
// play to a device of their choosing.

#include "app/wmpplayer.h"

#include <memory>

class QAudioDevice;

// Plays on the given output; a null device means the default output at each play.
std::unique_ptr<PlayerBackend> CreateMultimediaBackend();
std::unique_ptr<PlayerBackend> CreateMultimediaBackend(const QAudioDevice& output);
