// The built module as a host sees it: four unmangled exports and nothing
// else, one copy of the host library's globals, and no exception crossing.
#include "Errors.h"
#include "ModuleLoader.h"
#include "Setup.h"
#include "SetupFile.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

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

TEST_F(Plugin, NoExceptionLeavesAnEntryPoint)
{
    CMC_Setup empty(SetupDescription::Default());
    SetErrorSink([](const std::string& message) {
        if (message.find("failed") == std::string::npos)
            throw std::runtime_error(message);
    });
    EXPECT_NO_THROW(EXPECT_EQ(module->GetScaleFactor(&empty, "A", "IQ"), 1.0));
    EXPECT_NO_THROW(EXPECT_EQ(module->GetScaleOffset(&empty, "°C"), 0.0));
    EXPECT_NO_THROW(module->ComputeAllOptions(&empty));

    // A host whose unit conversion throws in the middle of the pass.
    SetErrorSink([this](const std::string& message) { errors.push_back(message); });
    auto setup = Reference();
    RegisterScaleProvider({[](CMC_Setup*, const char*, const char*) -> double { throw 42; },
                           [](CMC_Setup*, const char*) { return 0.0; }});
    EXPECT_NO_THROW(module->ComputeAllOptions(setup.get()));
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), "ComputeAllOptions failed: unknown exception");
    RegisterScaleProvider({});
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
