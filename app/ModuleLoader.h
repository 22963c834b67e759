// Loads the drive module the way a host does: dlopen of the shared library,
// its exports looked up by their C names, and its unit scale registered with
// the setup model so that drive-scaled values convert through it.
#pragma once

#include <memory>
#include <string>

class CMC_Setup;

class ModuleLoader {
public:
    using EditSetupFn = int (*)(CMC_Setup* setup);
    using ComputeAllOptionsFn = void (*)(CMC_Setup* setup);
    using GetScaleFactorFn = double (*)(CMC_Setup* setup, const char* unitName, const char* name);
    using GetScaleOffsetFn = double (*)(CMC_Setup* setup, const char* unitName);

    // Loads the module at path (empty: DefaultModulePath()), which must be
    // absolute, and registers its scale. On failure returns null and sets error to a message naming the
    // file and what went wrong (the loader's own text included).
    static std::unique_ptr<ModuleLoader> Load(const std::string& path, std::string& error);

    // libvelmaro.so beside the running program when there is one; else the
    // module of this build. Never a name looked up elsewhere.
    static std::string DefaultModulePath();

    // Unregisters the scale (when it is still ours), then unloads the module.
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    const std::string& Path() const { return m_path; }
    // The setup editor; needs a running QApplication. 1 when it ended with OK.
    int EditSetup(CMC_Setup* setup) const { return m_editSetup(setup); }
    void ComputeAllOptions(CMC_Setup* setup) const { m_computeAllOptions(setup); }
    double GetScaleFactor(CMC_Setup* setup, const char* unitName, const char* name) const
    {
        return m_getScaleFactor(setup, unitName, name);
    }
    double GetScaleOffset(CMC_Setup* setup, const char* unitName) const
    {
        return m_getScaleOffset(setup, unitName);
    }
    int KufSinusoidalMode() const { return *m_kufSinusoidalMode; }

private:
    ModuleLoader() = default;

    std::string m_path;
    void* m_handle = nullptr;
    EditSetupFn m_editSetup = nullptr;
    ComputeAllOptionsFn m_computeAllOptions = nullptr;
    GetScaleFactorFn m_getScaleFactor = nullptr;
    GetScaleOffsetFn m_getScaleOffset = nullptr;
    const int* m_kufSinusoidalMode = nullptr;
};
