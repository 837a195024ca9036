#include "platform/files.h"

#include "common/text.h"
#include "platform/files_system.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavrin::platform {

namespace {

std::u16string ErrorText(int error) { return FromUtf8(std::strerror(error)); }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

FileContents ReadWholeFile(const std::u16string& path, std::size_t largest) {
    FileContents out;
    const Descriptor fd(::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        const int error = errno;
        out.status = (error == ENOENT || error == ENOTDIR) ? FileStatus::Missing : FileStatus::Failed;
        out.error = ErrorText(error);
        return out;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        out.status = FileStatus::Failed;
        out.error = ErrorText(errno);
        return out;
    }
    if (!S_ISREG(info.st_mode)) {
        out.status = FileStatus::Failed;
        out.error = u"not a regular file";
        return out;
    }
    return system::ReadAll(static_cast<std::size_t>(info.st_size), largest,
                           [&fd](char* into, std::size_t room, std::u16string& error) -> long long {
                               for (;;) {
                                   const ssize_t got = ::read(fd.get(), into, room);
                                   if (got >= 0) return got;
                                   if (errno == EINTR) continue;
                                   error = ErrorText(errno);
                                   return -1;
                               }
                           });
}

std::u16string UserHomeFolder() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return FromUtf8(found->pw_dir);
    }
    return {};
}

std::u16string MachineSshFolder() { return u"/etc/ssh"; }

std::u16string PathThatCannotExist() { return u"/dev/null/none"; }

}  // namespace tavrin::platform
