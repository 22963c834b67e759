#include "ModuleLoader.h"

#include "Units.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

// Loaders whose module registered its scale; a second loader of the same
// library shares the functions, so the scale stays until the last one goes.
// Never destroyed: a loader held by a static may go after it at exit.
std::vector<const ModuleLoader*>& Registered()
{
    static auto* loaders = new std::vector<const ModuleLoader*>;
    return *loaders;
}

std::string LoaderError()
{
    const char* text = dlerror();
    return text ? text : "unknown error";
}

// Looks up one export; false with the loader's message when it is missing.
template <typename T> bool Resolve(void* handle, const char* name, T& out, std::string& error)
{
    dlerror(); // clear a stale message
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        error = "the module does not export \"" + std::string(name) + "\": " + LoaderError();
        return false;
    }
    out = reinterpret_cast<T>(symbol);
    return true;
}

} // namespace

std::string ModuleLoader::DefaultModulePath()
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path beside = self.parent_path() / "libvelmaro.so";
        if (std::filesystem::exists(beside, ec))
            return beside.string();
    }
#ifdef VELMARO_MODULE_PATH
    return VELMARO_MODULE_PATH;
#else
    return {};
#endif
}

std::unique_ptr<ModuleLoader> ModuleLoader::Load(const std::string& path, std::string& error)
{
    const std::string file = path.empty() ? DefaultModulePath() : path;
    // A name without a folder would be looked up on the library path, a
    // relative one in the working folder: only a path of our own is loaded.
    if (!std::filesystem::path(file).is_absolute()) {
        error = "cannot load the module \"" + file +
                "\": only a module of the installation, by its full path, is loaded";
        return nullptr;
    }
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        error = "cannot load the module " + file + ": " + LoaderError();
        return nullptr;
    }
    std::unique_ptr<ModuleLoader> module(new ModuleLoader);
    module->m_path = file;
    module->m_handle = handle;
    std::string missing;
    if (!Resolve(handle, "EditSetup", module->m_editSetup, missing) ||
        !Resolve(handle, "ComputeAllOptions", module->m_computeAllOptions, missing) ||
        !Resolve(handle, "GetScaleFactor", module->m_getScaleFactor, missing) ||
        !Resolve(handle, "GetScaleOffset", module->m_getScaleOffset, missing) ||
        !Resolve(handle, "g_bKufSinusoidalMode", module->m_kufSinusoidalMode, missing)) {
        error = file + ": " + missing;
        return nullptr; // the destructor unloads it; nothing was registered
    }
    RegisterScaleProvider({module->m_getScaleFactor, module->m_getScaleOffset});
    Registered().push_back(module.get());
    return module;
}

ModuleLoader::~ModuleLoader()
{
    auto& registered = Registered();
    const auto self = std::find(registered.begin(), registered.end(), this);
    if (self != registered.end()) {
        registered.erase(self);
        const bool shared =
            std::any_of(registered.begin(), registered.end(), [this](const ModuleLoader* other) {
                return other->m_getScaleFactor == m_getScaleFactor;
            });
        if (!shared && GetScaleProvider().factor == m_getScaleFactor)
            RegisterScaleProvider({});
    }
    if (m_handle)
        dlclose(m_handle);
}
