#pragma once
// Files and folders the system reads, named by UTF-16 paths. Windows goes through the
// wide-character APIs (never the ANSI code page); elsewhere paths are UTF-8.

#include <cstddef>
#include <string>

namespace tavrin::platform {

enum class FileStatus {
    Read,     // `bytes` holds the whole file
    Missing,  // no such file (or folder on its path)
    Failed,   // it exists but could not be read (access denied, a folder, too large, I/O error)
};

struct FileContents {
    FileStatus status = FileStatus::Missing;
    std::string bytes;
    std::u16string error;  // why, for Failed: the system's text
};

// Reads a whole file of at most `largest` bytes; a larger one is Failed.
FileContents ReadWholeFile(const std::u16string& path, std::size_t largest);

// The home folder of the account this process runs as (Windows: its profile folder from the
// system, not from the environment; elsewhere: its passwd entry). Empty when unknown.
std::u16string UserHomeFolder();

// The machine-wide SSH folder: %ProgramData%\ssh on Windows, /etc/ssh elsewhere.
std::u16string MachineSshFolder();

// A path that names no file and never can (below a file), for settings that want a path but
// must find nothing there.
std::u16string PathThatCannotExist();

// The separator this system puts between folder names.
inline constexpr char16_t kPathSeparator =
#if defined(_WIN32)
    u'\\';
#else
    u'/';
#endif

}  // namespace tavrin::platform
