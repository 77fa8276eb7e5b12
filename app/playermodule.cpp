#include "app/playermodule.h"

#include "media/loader.h"
#include "player_digest.h"

#include <cstring>
#include <dlfcn.h>
#include <mutex>

voicelib::Result<std::unique_ptr<PlayerBackend>> LoadPlayerBackend()
{
    using voicelib::Error;
    using voicelib::ModuleError;
    static std::mutex mutex;
    static const PlayerModule* loaded = nullptr;
    const std::lock_guard<std::mutex> lock(mutex);
    if (!loaded) {
        const voicelib::Result<voicelib::OpenedModule> module =
            voicelib::OpenProgramModule(PLAYER_MODULE_FILE);
        if (!module)
            return module.error();
        const auto entry =
            reinterpret_cast<VoicelibPlayerEntry>(::dlsym(module->handle, PLAYER_MODULE_ENTRY));
        const PlayerModule* table = entry ? entry() : nullptr;
        if (!table || table->version != PLAYER_MODULE_VERSION || !table->interfaceDigest ||
            std::strcmp(table->interfaceDigest, VOICELIB_PLAYER_INTERFACE_DIGEST) != 0 ||
            !table->createBackend) {
            ::dlclose(module->handle);
            return Error(make_error_code(ModuleError::OtherVersion), module->path);
        }
        // Never closed: Qt Multimedia's threads and devices live as long as the process.
        loaded = table;
    }
    return loaded->createBackend();
}
