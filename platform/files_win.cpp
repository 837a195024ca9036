#include "platform/files.h"

#include "common/text.h"
#include "platform/files_system.h"
#include "platform/win32_text.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace tavrin::platform {

namespace {

using win32::SystemErrorText;
using win32::Utf16;
using win32::Wide;

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

struct TaskMemFree {
    void operator()(wchar_t* p) const { CoTaskMemFree(p); }
};

std::u16string KnownFolder(REFKNOWNFOLDERID id) {
    wchar_t* raw = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &raw);
    const std::unique_ptr<wchar_t, TaskMemFree> owned(raw);
    if (FAILED(hr) || raw == nullptr) return {};
    return Utf16(raw);
}

}  // namespace

FileContents ReadWholeFile(const std::u16string& path, std::size_t largest) {
    FileContents out;
    HANDLE raw = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        out.status = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? FileStatus::Missing
                                                                                      : FileStatus::Failed;
        out.error = SystemErrorText(error);
        return out;
    }
    const FileHandle file(raw);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(raw, &info)) {
        out.status = FileStatus::Failed;
        out.error = SystemErrorText(GetLastError());
        return out;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        out.status = FileStatus::Failed;
        out.error = u"not a regular file";
        return out;
    }
    const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return system::ReadAll(static_cast<std::size_t>(std::min<std::uint64_t>(size, SIZE_MAX - 1)), largest,
                           [raw](char* into, std::size_t room, std::u16string& error) -> long long {
                               DWORD got = 0;
                               const DWORD want = static_cast<DWORD>(std::min<std::size_t>(room, 1u << 30));
                               if (!::ReadFile(raw, into, want, &got, nullptr)) {
                                   error = SystemErrorText(GetLastError());
                                   return -1;
                               }
                               return got;
                           });
}

std::u16string UserHomeFolder() { return KnownFolder(FOLDERID_Profile); }

std::u16string PathThatCannotExist() {
    wchar_t system[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    const std::u16string folder = length > 0 && length <= MAX_PATH ? std::u16string(system, system + length)
                                                                   : std::u16string(u"C:\\Windows\\System32");
    return folder + u"\\kernel32.dll\\none";
}

std::u16string MachineSshFolder() {
    const std::u16string data = KnownFolder(FOLDERID_ProgramData);
    return data.empty() ? std::u16string() : data + u"\\ssh";
}

}  // namespace tavrin::platform
