#pragma once

// Finds and opens the conversion module the first time a program converts.
// Plain C++ and dlopen: linking this loads nothing of the module's
// dependencies.

#include "core/result.h"
#include "media/module.h"

#include <dlfcn.h>
#include <string>
#include <string_view>
#include <system_error>

namespace voicelib {

enum class ModuleError
{
    Missing = 1,  // no module file where the program looks for it
    OtherVersion, // a module of another table or other interface headers
    NotLoadable,  // the file is there but the dynamic loader refuses it
};

const std::error_category& ModuleCategory();
std::error_code make_error_code(ModuleError e);

// Opens one of the program's modules by its file name: beside the running
// program (the build tree), then in the package's private library folder,
// found relative to the program. The error names the path looked at last;
// the dynamic loader's own words are the detail of NotLoadable.
struct OpenedModule
{
    void* handle = nullptr; // dlopen's
    std::string path;
};
Result<OpenedModule> OpenProgramModule(const std::string& file);

// The table a module's entry function returns, opened as above, when the
// table is of this version and the module was built from the same interface
// headers (digest); otherwise OtherVersion, and the module is closed again.
template <typename Table>
Result<const Table*> OpenModuleTable(const std::string& file, const char* entry, unsigned version,
                                     std::string_view digest)
{
    const Result<OpenedModule> module = OpenProgramModule(file);
    if (!module)
        return module.error();
    const auto get = reinterpret_cast<const Table* (*)()>(::dlsym(module->handle, entry));
    const Table* table = get ? get() : nullptr;
    if (table && table->version == version && table->interfaceDigest && table->interfaceDigest == digest)
        return table;
    ::dlclose(module->handle);
    return Error(make_error_code(ModuleError::OtherVersion), module->path);
}

// The module's table, opened on the first call and kept for the process's
// life; or why not, with the module's path. It is looked for beside the
// running program (the build tree), then in the package's private library
// folder, found relative to the program. Safe from any thread; a failure is
// tried again on the next call.
Result<const ConversionModule*> LoadConversionModule();

} // namespace voicelib

template <> struct std::is_error_code_enum<voicelib::ModuleError> : std::true_type
{
};
