#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files/Files.h"

namespace platform {

namespace {

// The framework's messages for a file that cannot be created or opened; %s is the full path.
constexpr const char* kCreateErrorMessage = "Impossible de créer le fichier %s";
constexpr const char* kOpenErrorMessage = "Impossible d'ouvrir le fichier %s";

// Permissions of a new file, before the user's umask.
constexpr mode_t kNewFileMode = 0666;
// Permissions of a configuration directory we create: private to the user.
constexpr mode_t kConfigDirMode = 0700;
// The configuration directory below the home directory when $XDG_CONFIG_HOME does not say.
constexpr const char* kDefaultConfigDir = "/.config";

std::string WithPath(const char* message, const std::string& path) {
    std::string text = message;
    text.replace(text.find("%s"), 2, path);
    return text;
}

bool IsAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// Creates every missing directory of path, parents first. Failures are ignored: an existing
// component is fine, and any other failure shows when a file is created there.
void MakeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), kConfigDirMode);
    }
    ::mkdir(path.c_str(), kConfigDirMode);
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (IsAbsolute(home)) {
        return home;
    }
    const passwd* user = ::getpwuid(::getuid());
    if (user != nullptr && IsAbsolute(user->pw_dir)) {
        return user->pw_dir;
    }
    throw Exception("Impossible de trouver le répertoire personnel de l'utilisateur");
}

}  // namespace

std::string NativePath(const std::string& path) {
    std::string native = path;
    for (char& c : native) {
        if (c == '\\') {
            c = '/';
        }
    }
    return native;
}

TFileStream::TFileStream(const std::string& fileName, FileMode mode) : fd_(-1) {
    const std::string native = NativePath(fileName);
    if (mode == fmCreate) {
        fd_ = ::open(native.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
        if (fd_ < 0) {
            throw EFCreateError(WithPath(kCreateErrorMessage, native));
        }
        return;
    }
    // O_NONBLOCK keeps a FIFO from stalling the open; a directory opens read-only on POSIX but
    // is no file to read, so it fails the open like on the system the program was written for.
    fd_ = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode))) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0) {
        throw EFOpenError(WithPath(kOpenErrorMessage, native));
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

TFileStream::~TFileStream() {
    ::close(fd_);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
    auto* bytes = static_cast<char*>(buffer);
    int32_t total = 0;
    while (total < count) {
        const ssize_t got = ::read(fd_, bytes + total, static_cast<size_t>(count - total));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return 0;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<int32_t>(got);
    }
    return total;
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    int32_t total = 0;
    while (total < count) {
        const ssize_t put = ::write(fd_, bytes + total, static_cast<size_t>(count - total));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            break;
        }
        total += static_cast<int32_t>(put);
    }
    return total;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(NativePath(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string SystemDirectoryStandIn() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string directory =
        IsAbsolute(configHome) ? std::string(configHome) : HomeDirectory() + kDefaultConfigDir;
    MakeDirectories(directory);
    return directory;
}

}  // namespace platform
