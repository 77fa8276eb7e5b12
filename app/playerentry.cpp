// The player module's one export.

#include "app/multimediabackend.h"
#include "app/playermodule.h"
#include "player_digest.h"

namespace {

std::unique_ptr<PlayerBackend> Create()
{
    return CreateMultimediaBackend();
}

} // namespace

extern "C" __attribute__((visibility("default"))) const PlayerModule* voicelib_player_module_v1()
{
    static const PlayerModule table{PLAYER_MODULE_VERSION, VOICELIB_PLAYER_INTERFACE_DIGEST, &Create};
    return &table;
}
