// The built module as a host sees it: four unmangled exports and nothing
// else, one copy of the host library's globals, and no exception crossing.
#include "Errors.h"
#include "ModuleLoader.h"
#include "Setup.h"
#include "SetupFile.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace {

class Plugin : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        module = ModuleLoader::Load(VELMARO_MODULE_PATH, error);
        ASSERT_TRUE(module) << error;
        previousSink = SetErrorSink([this](const std::string& message) { errors.push_back(message); });
        g_bShowErrors = 1;
    }
    void TearDown() override
    {
        module.reset();
        SetErrorSink(std::move(previousSink));
        g_bShowErrors = 1;
    }

    static std::unique_ptr<CMC_Setup> Reference()
    {
        return std::move(
            LoadSetupFile(DataDirectory() + "/reference-setup.json", SetupDescription::Default()).setup);
    }

    std::unique_ptr<ModuleLoader> module;
    std::vector<std::string> errors;
    ErrorSink previousSink;
};

} // namespace

TEST_F(Plugin, ExportsExactlyTheEntryPointsUnderTheirCNames)
{
    void* handle = dlopen(VELMARO_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const char* name :
         {"EditSetup", "ComputeAllOptions", "GetScaleFactor", "GetScaleOffset", "g_bKufSinusoidalMode"})
        EXPECT_NE(dlsym(handle, name), nullptr) << name;
    // The engine inside stays hidden, in either spelling.
    for (const char* name :
         {"ComputeParametersFromRegisters", "_Z30ComputeParametersFromRegistersP9CMC_Setup",
          "_Z13ScaleFactorOfP9CMC_SetupPKcS2_"})
        EXPECT_EQ(dlsym(handle, name), nullptr) << name;
    EXPECT_EQ(module->KufSinusoidalMode(), 0);
    dlclose(handle);
}

TEST_F(Plugin, NullAndUnknownArgumentsAreHarmless)
{
    auto setup = Reference();
    module->ComputeAllOptions(nullptr);
    EXPECT_EQ(module->GetScaleFactor(nullptr, "A", "IQ"), 1.0);
    EXPECT_EQ(module->GetScaleOffset(nullptr, "°C"), 0.0);
    EXPECT_EQ(module->GetScaleFactor(setup.get(), nullptr, nullptr), 1.0);
    EXPECT_EQ(module->GetScaleFactor(setup.get(), "parsec", "IQ"), 1.0);
    EXPECT_EQ(module->GetScaleOffset(setup.get(), nullptr), 0.0);
    EXPECT_EQ(module->EditSetup(nullptr), 0);
    // Without the host's user interface the editor refuses, it does not crash.
    EXPECT_EQ(module->EditSetup(setup.get()), 0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("user interface"), std::string::npos);
    errors.clear();
    EXPECT_EQ(module->GetScaleFactor(setup.get(), "A", nullptr), 20.0 / 65472);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Plugin, ComputeAllOptionsRunsThePassesInOrder)
{
    auto setup = Reference();
    setup->FindParameter("ACR")->SetValueInInternalUnit(0x0200); // speed control
    setup->SetOption("IsClosedSpeed", "0");
    setup->FindParameter("TransmissionType")->SetValueInInternalUnit(1);
    module->ComputeAllOptions(setup.get());
    // The closed-loop options and the units follow the values the first pass decoded.
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("ControlMode"), 1.0);
    EXPECT_EQ(setup->GetOptionNoError("IsClosedPosition"), "0");
    EXPECT_EQ(setup->GetOptionNoError("IsClosedSpeed"), "1");
    EXPECT_STREQ(setup->FindParameter("TestSpeed")->GetUnitType(), "m/s");
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(Plugin, SharesTheHostLibrarysGlobals)
{
    // A setup without "ImaxPS": the module's lookup reaches this process's error sink...
    CMC_Setup empty(SetupDescription::Default());
    module->GetScaleFactor(&empty, "A", "IQ");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("\"ImaxPS\""), std::string::npos);
    // ...and obeys this process's flag.
    g_bShowErrors = 0;
    module->GetScaleFactor(&empty, "A", "IQ");
    EXPECT_EQ(errors.size(), 1u);
}

// A host whose error sink and unit conversion throw: each entry point
// reports its own failure and returns its fallback; nothing crosses.
TEST_F(Plugin, AnExceptionForcedThroughEachEntryPointIsReportedNotPassedOn)
{
    SetErrorSink([this](const std::string& message) {
        if (message.find(" failed: ") == std::string::npos)
            throw std::runtime_error("the host refuses: " + message);
        errors.push_back(message);
    });
    CMC_Setup empty(SetupDescription::Default());
    EXPECT_NO_THROW(EXPECT_EQ(module->EditSetup(&empty), 0)); // no user interface here: reported
    EXPECT_NO_THROW(EXPECT_EQ(module->GetScaleFactor(&empty, "A", "IQ"), 1.0));
    EXPECT_NO_THROW(EXPECT_EQ(module->GetScaleOffset(&empty, "°C"), 0.0));
    EXPECT_NO_THROW(module->ComputeAllOptions(&empty));
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0],
              "EditSetup failed: the host refuses: EditSetup needs the host's user interface to be running.");
    EXPECT_EQ(errors[1].rfind("GetScaleFactor failed: the host refuses: ", 0), 0u) << errors[1];
    EXPECT_EQ(errors[2].rfind("GetScaleOffset failed: the host refuses: ", 0), 0u) << errors[2];
    EXPECT_EQ(errors[3].rfind("ComputeAllOptions failed: the host refuses: ", 0), 0u) << errors[3];

    // The host's unit conversion throws something that is not an exception class.
    errors.clear();
    SetErrorSink([this](const std::string& message) { errors.push_back(message); });
    auto setup = Reference();
    RegisterScaleProvider({[](CMC_Setup*, const char*, const char*) -> double { throw 42; },
                           [](CMC_Setup*, const char*) { return 0.0; }});
    EXPECT_NO_THROW(module->ComputeAllOptions(setup.get()));
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), "ComputeAllOptions failed: unknown exception");
    RegisterScaleProvider({});
}

// The module is loaded by its full path in the installation, never by a name
// the loader would look up in the working folder or on the library path.
TEST_F(Plugin, AModuleInTheWorkingFolderIsNeverLoaded)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("velmaro-cwd-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(VELMARO_MODULE_PATH, folder / "libvelmaro.so",
                               std::filesystem::copy_options::overwrite_existing);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    std::string error;
    for (const char* name : {"libvelmaro.so", "./libvelmaro.so"}) {
        EXPECT_EQ(ModuleLoader::Load(name, error), nullptr) << name;
        EXPECT_NE(error.find("only a module of the installation"), std::string::npos) << error;
    }
    const std::string chosen = ModuleLoader::DefaultModulePath();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
    EXPECT_TRUE(std::filesystem::path(chosen).is_absolute()) << chosen;
    EXPECT_EQ(chosen, VELMARO_MODULE_PATH);
}

TEST_F(Plugin, TheLoaderNamesWhatIsWrongAndUnregistersOnUnload)
{
    std::string error;
    EXPECT_EQ(ModuleLoader::Load("/nonexistent/libvelmaro.so", error), nullptr);
    EXPECT_NE(error.find("/nonexistent/libvelmaro.so"), std::string::npos) << error;
    EXPECT_EQ(ModuleLoader::Load(VELMARO_HOST_LIBRARY_PATH, error), nullptr);
    EXPECT_NE(error.find("does not export \"EditSetup\""), std::string::npos) << error;

    EXPECT_NE(GetScaleProvider().factor, nullptr);
    {
        auto second = ModuleLoader::Load(VELMARO_MODULE_PATH, error);
        ASSERT_TRUE(second);
    }
    EXPECT_NE(GetScaleProvider().factor, nullptr); // still held by the first loader
    module.reset();
    EXPECT_EQ(GetScaleProvider().factor, nullptr);
}
