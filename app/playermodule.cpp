#include "app/playermodule.h"

#include "media/loader.h"
#include "player_digest.h"

#include <mutex>

voicelib::Result<std::unique_ptr<PlayerBackend>> LoadPlayerBackend()
{
    static std::mutex mutex;
    static const PlayerModule* loaded = nullptr;
    const std::lock_guard<std::mutex> lock(mutex);
    if (!loaded) {
        const voicelib::Result<const PlayerModule*> table = voicelib::OpenModuleTable<PlayerModule>(
            PLAYER_MODULE_FILE, PLAYER_MODULE_ENTRY, PLAYER_MODULE_VERSION, VOICELIB_PLAYER_INTERFACE_DIGEST);
        if (!table)
            return table.error();
        // Never closed: Qt Multimedia's threads and devices live as long as the process.
        loaded = *table;
    }
    return loaded->createBackend();
}
