#pragma once

// The boundary between the window and the player module: a shared object
// holding the Qt Multimedia backend, so that Qt Multimedia and the sound
// libraries under it load when the window first plays, not when it starts.
// The module exports one C function, named by PLAYER_MODULE_ENTRY, that
// returns this table; its core functions come from the program that loads it.

#include "app/wmpplayer.h"
#include "core/result.h"

#include <memory>

// The table's layout: a new one gets a new entry name and version.
inline constexpr unsigned PLAYER_MODULE_VERSION = 1;
inline constexpr char PLAYER_MODULE_ENTRY[] = "voicelib_player_module_v1";
inline constexpr char PLAYER_MODULE_FILE[] = "voicelib-player.so";

struct PlayerModule
{
    unsigned version = 0;
    // A digest of the headers whose types cross the boundary.
    const char* interfaceDigest = nullptr;
    std::unique_ptr<PlayerBackend> (*createBackend)() = nullptr;
};

// A backend on the default output from the player module, which is opened on
// the first call and kept; or why not (the module's path, and the loader's
// words when it refused the file).
voicelib::Result<std::unique_ptr<PlayerBackend>> LoadPlayerBackend();
