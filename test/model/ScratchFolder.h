// A fresh folder for one test, named after the test, made on first use and
// removed with the fixture.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

class ScratchFolder {
public:
    explicit ScratchFolder(std::string prefix) : m_prefix(std::move(prefix)) {}
    ~ScratchFolder()
    {
        if (!m_path.empty())
            std::filesystem::remove_all(m_path);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path()
    {
        if (m_path.empty()) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            m_path = std::filesystem::temp_directory_path() /
                     (m_prefix + std::string(info->name()) + "-" + std::to_string(::getpid()));
            std::filesystem::remove_all(m_path);
            std::filesystem::create_directories(m_path);
        }
        return m_path;
    }

private:
    std::string m_prefix;
    std::filesystem::path m_path;
};
