#include "AtomicWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

constexpr const char* kTemporaryMark = ".tmp-";

std::string CannotSave(const std::string& path, const std::string& reason)
{
    return path + ": cannot be saved: " + reason;
}

std::string CannotSave(const std::string& path, int error)
{
    return CannotSave(path, std::strerror(error));
}

// The file a save replaces: the target, or the file a symbolic link there points to.
bool ResolveLink(const std::string& path, std::string& target, std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
        target = path;
        return true;
    }
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    if (ec) {
        error = CannotSave(path, "the link cannot be followed: " + ec.message());
        return false;
    }
    target = resolved.string();
    return true;
}

bool WriteAll(int fd, std::string_view content)
{
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// A device or a pipe cannot be replaced: its content goes straight in.
bool WriteDirectly(const std::string& path, std::string_view content, std::string& error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || !WriteAll(fd, content)) {
        error = CannotSave(path, errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        error = CannotSave(path, errno);
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& target)
{
    const std::filesystem::path path(target);
    return path.has_parent_path() ? path.parent_path().string() : ".";
}

bool IsProcessGone(const std::string& digits)
{
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const pid_t pid = static_cast<pid_t>(std::atol(digits.c_str()));
    return pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Removes the temporary files of saves of this target whose process is gone.
void RemoveStaleTemporaries(const std::string& target)
{
    const std::string prefix = std::filesystem::path(target).filename().string() + kTemporaryMark;
    DIR* dir = ::opendir(FolderOf(target).c_str());
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0 || !IsProcessGone(name.substr(prefix.size())))
            continue;
        struct stat info {};
        if (::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            ::unlinkat(::dirfd(dir), name.c_str(), 0);
    }
    ::closedir(dir);
}

// Flushes the folder so that the rename itself survives a power loss.
void SyncFolderOf(const std::string& target)
{
    const int fd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool ReplaceThroughTemporary(const std::string& target, std::string_view content, mode_t mode,
                             std::string& error)
{
    const std::string temporary = target + kTemporaryMark + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        error = errno == EEXIST ? CannotSave(target, "the temporary file " + temporary + " is in the way")
                                : CannotSave(target, errno);
        return false;
    }
    const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        error = CannotSave(target, written ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        error = CannotSave(target, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolderOf(target);
    return true;
}

mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error)
{
    std::string target;
    if (!ResolveLink(path, target, error))
        return false;
    struct stat info {};
    mode_t mode = NewFileMode();
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))
            return WriteDirectly(target, content, error);
        if (S_ISREG(info.st_mode) && ((info.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
            error = CannotSave(path, "the file is read-only");
            return false;
        }
        mode = info.st_mode & 07777;
    }
    RemoveStaleTemporaries(target);
    return ReplaceThroughTemporary(target, content, mode, error);
}
