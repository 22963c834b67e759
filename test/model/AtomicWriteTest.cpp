// Saves that must not lose, misplace or leave anything: a link planted where
// the temporary file goes, a link or a read-only file as the target, the
// file's mode, leftovers of a killed save, a failed rename and devices.
#include "AtomicWrite.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const fs::path& path, const std::string& text)
{
    std::ofstream(path) << text;
}

// A process id that no process has now: a child's, after it ended.
pid_t GonePid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

class AtomicWrite : public ::testing::Test {
protected:
    ScratchFolder scratch{"velmaro-atomic-"};
    const fs::path dir = scratch.Path();
    const fs::path target = dir / "setup.json";
    std::string error;

    std::string Temporary(pid_t pid) const { return target.string() + ".tmp-" + std::to_string(pid); }
    long Entries() const { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); }
};

TEST_F(AtomicWrite, ALinkPlantedAtTheTemporaryNameIsNeitherFollowedNorReplaced)
{
    const fs::path victim = dir / "victim";
    Write(victim, "keep");
    fs::create_symlink(victim, Temporary(::getpid()));

    EXPECT_FALSE(WriteFileAtomically(target.string(), "new", error));
    EXPECT_NE(error.find("is in the way"), std::string::npos) << error;
    EXPECT_EQ(Read(victim), "keep");
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(AtomicWrite, ALinkAsTargetIsWrittenThroughAndStaysALink)
{
    const fs::path real = dir / "real.json";
    Write(real, "old");
    const fs::path link = dir / "link.json";
    fs::create_symlink("real.json", link);

    ASSERT_TRUE(WriteFileAtomically(link.string(), "new", error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read(real), "new");
    EXPECT_EQ(Entries(), 2);
}

TEST_F(AtomicWrite, AReadOnlyFileIsRefusedAndKeptEvenForTheSuperUser)
{
    Write(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::group_read);

    EXPECT_FALSE(WriteFileAtomically(target.string(), "new", error));
    EXPECT_EQ(error, target.string() + ": cannot be saved: the file is read-only");
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(Entries(), 1);
}

TEST_F(AtomicWrite, AReplacedFileKeepsItsModeAndANewOneFollowsTheMask)
{
    Write(target, "old");
    ::chmod(target.c_str(), 0640);
    ASSERT_TRUE(WriteFileAtomically(target.string(), "new", error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    const mode_t mask = ::umask(022);
    const fs::path fresh = dir / "fresh.json";
    ASSERT_TRUE(WriteFileAtomically(fresh.string(), "new", error)) << error;
    ::umask(mask);
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(AtomicWrite, LeftoversOfAKilledSaveOfTheSameFileAreRemovedAndNothingElse)
{
    const pid_t gone = GonePid();
    Write(Temporary(gone), "half");
    Write(Temporary(1), "a save still running"); // process 1 is alive
    const fs::path other = dir / ("other.json.tmp-" + std::to_string(gone));
    Write(other, "another file's");

    ASSERT_TRUE(WriteFileAtomically(target.string(), "new", error)) << error;
    EXPECT_FALSE(fs::exists(Temporary(gone)));
    EXPECT_TRUE(fs::exists(Temporary(1)));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_EQ(Read(target), "new");
}

TEST_F(AtomicWrite, AFailedRenameLeavesNoTemporaryFile)
{
    fs::create_directory(target);
    Write(target / "inside", "kept");

    EXPECT_FALSE(WriteFileAtomically(target.string(), "new", error));
    EXPECT_EQ(error.rfind(target.string() + ": cannot be saved: ", 0), 0u) << error;
    EXPECT_EQ(Entries(), 1) << "temporary file left";
    EXPECT_EQ(Read(target / "inside"), "kept");
}

TEST_F(AtomicWrite, ADeviceIsWrittenDirectlyWithItsOwnError)
{
    EXPECT_TRUE(WriteFileAtomically("/dev/null", "new", error)) << error;
    EXPECT_FALSE(WriteFileAtomically("/dev/full", "new", error));
    EXPECT_EQ(error, std::string("/dev/full: cannot be saved: ") + std::strerror(ENOSPC));
}

} // namespace
