#pragma once

#include <cstdint>
#include <string>

#include "platform/exceptions/Exception.h"

// Files as the system sees them. The system builds its paths the Windows way (a directory
// followed by "\name"); every function here takes such a system path and maps it to a native
// one with NativePath before touching the file system.
namespace platform {

// The system path as a native path: every backslash becomes '/'. Nothing else is normalised.
std::string NativePath(const std::string& path);

// How a TFileStream opens its file.
enum FileMode : uint16_t {
    fmOpenRead = 0x0000,  // an existing file, read-only
    fmCreate = 0xFF00,    // created, or emptied when it exists, for reading and writing
};

// A file open for the life of the object; the destructor closes it.
class TFileStream {
  public:
    // Opens or creates the file at the system path fileName. A failure raises EFOpenError
    // (fmOpenRead) or EFCreateError (fmCreate), whose message names the native path in full.
    // A directory is never opened, in either mode.
    TFileStream(const std::string& fileName, FileMode mode);
    ~TFileStream();
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    // Reads up to count bytes into buffer: the number of bytes read, short only at the end of
    // the file, and 0 on an error.
    int32_t Read(void* buffer, int32_t count);
    // Writes count bytes from buffer: the number of bytes written, short only on an error.
    int32_t Write(const void* buffer, int32_t count);

  private:
    int fd_;
};

// True only when the system path names an existing regular file (after following links): a
// directory, a missing file or a dangling link give false.
bool FileExists(const std::string& path);

// The directory that stands in for the system directory: the user's configuration directory,
// $XDG_CONFIG_HOME when it is set and absolute, otherwise the home directory's ".config" (the
// home from $HOME, or from the user database when $HOME is unset or not absolute). Missing
// directories on the way are created with mode 0700; a failure to create them is left to show
// when a file is created there. Raises Exception when no home directory can be found.
std::string SystemDirectoryStandIn();

}  // namespace platform
