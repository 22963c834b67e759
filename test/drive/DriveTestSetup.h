// The drive layer's tests: the reference setup connected to a scripted drive
// on a stepped clock, errors captured, and a scratch folder.
#pragma once

#include "Comm.h"
#include "Errors.h"
#include "ScratchFolder.h"
#include "ScriptedDrive.h"
#include "Setup.h"
#include "SetupFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

class DriveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_previousSink = SetErrorSink([this](const std::string& message) { errors.push_back(message); });
        SetupLoadResult loaded =
            LoadSetupFile(DataDirectory() + "/reference-setup.json", SetupDescription::Default());
        ASSERT_TRUE(loaded.setup) << loaded.error;
        setup = std::move(loaded.setup);
        drive = std::make_shared<ScriptedDrive>();
        clock = std::make_shared<SteppedClock>(0.01);
        CMC_Comm::SetActiveLink(drive, clock);
    }

    void TearDown() override
    {
        CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(nullptr);
        CMC_Comm::SetActiveLink(nullptr, nullptr);
        SetErrorSink(std::move(m_previousSink));
    }

    // A fresh folder, removed after the test.
    const std::filesystem::path& Scratch() { return m_scratch.Path(); }

    static std::string ReadFile(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void WriteFile(const std::filesystem::path& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    std::unique_ptr<CMC_Setup> setup;
    std::shared_ptr<ScriptedDrive> drive;
    std::shared_ptr<SteppedClock> clock;
    std::vector<std::string> errors;

private:
    ErrorSink m_previousSink;
    ScratchFolder m_scratch{"velmaro-drive-"};
};
