#include "media/loader.h"

#include "core/messages.h"
#include "media/module_digest.h"

#include <climits>
#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace voicelib {

namespace {

class ModuleErrorCategory final : public std::error_category
{
public:
    const char* name() const noexcept override { return "voicelib.module"; }
    std::string message(int value) const override
    {
        switch (static_cast<ModuleError>(value)) {
        case ModuleError::Missing:
            return MessageText(Msg::ModuleMissing);
        case ModuleError::OtherVersion:
            return MessageText(Msg::ModuleOtherVersion);
        case ModuleError::NotLoadable:
            return MessageText(Msg::ModuleNotLoadable);
        }
        return MessageText(Msg::ModuleNotLoadable);
    }
};

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    return std::filesystem::path(std::string(path, static_cast<std::size_t>(n))).parent_path().string();
}

Result<OpenedModule> Open(const std::string& path)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        return Error(make_error_code(ModuleError::NotLoadable), path, why ? why : "");
    }
    return OpenedModule{handle, path};
}

} // namespace

const std::error_category& ModuleCategory()
{
    static const ModuleErrorCategory category;
    return category;
}

std::error_code make_error_code(ModuleError e)
{
    return {static_cast<int>(e), ModuleCategory()};
}

Result<OpenedModule> OpenProgramModule(const std::string& file)
{
    const std::filesystem::path folder = ProgramFolder();
    const std::string beside = (folder / file).string();
    const std::string installed =
        (folder / VOICELIB_MODULE_DIR_FROM_PROGRAM / file).lexically_normal().string();
    for (const std::string& path : {beside, installed}) {
        struct stat st;
        if (::stat(path.c_str(), &st) == 0)
            return Open(path);
    }
    return Error(make_error_code(ModuleError::Missing), installed);
}

Result<const ConversionModule*> LoadConversionModule()
{
    static std::mutex mutex;
    static const ConversionModule* loaded = nullptr;
    const std::lock_guard<std::mutex> lock(mutex);
    if (loaded)
        return loaded;
    const Result<const ConversionModule*> table =
        OpenModuleTable<ConversionModule>(CONVERSION_MODULE_FILE, CONVERSION_MODULE_ENTRY,
                                          CONVERSION_MODULE_VERSION, VOICELIB_CONVERSION_INTERFACE_DIGEST);
    if (!table) {
        const Error& e = table.error();
        if (e.code() == ModuleError::NotLoadable)
            return Error(e.code(), e.path(), Message(Msg::ModuleNotLoadableWhy, e.reason()));
        return e;
    }
    // Never closed: its worker threads and FFmpeg's state live as long as the process.
    loaded = *table;
    return loaded;
}

} // namespace voicelib
