// What the command line tests share: one run of the velmaro command line with
// what it printed, and a fixture with a copy of the reference setup in a
// temporary folder of the test's own.
#pragma once

#include "Commands.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

inline CliRun Velmaro(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int code = RunCommandLine(args, out, err);
    return {code, out.str(), err.str()};
}

inline std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "setup.json", a copy of the reference setup, in the folder "velmaro-NAME-PID"
// of the temporary directory; the folder goes when the test ends.
class ReferenceSetupCopy : public ::testing::Test {
protected:
    explicit ReferenceSetupCopy(const std::string& name)
        : dir(fs::temp_directory_path() / ("velmaro-" + name + "-" + std::to_string(::getpid()))),
          copy((dir / "setup.json").string())
    {
    }
    void SetUp() override
    {
        // Commands that open windows run headless.
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        fs::create_directories(dir);
        fs::copy_file(ReferenceSetupPath(), copy, fs::copy_options::overwrite_existing);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    std::string copy;
};
