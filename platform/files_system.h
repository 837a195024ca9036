#pragma once
// Inside this layer only: the reading loop that both systems' ReadWholeFile share.

#include "platform/files.h"

#include <functional>

namespace tavrin::platform::system {

// Reads into `into` up to `room` bytes: the count (0 at the end of the file), or -1 with `error`.
using ReadSome = std::function<long long(char* into, std::size_t room, std::u16string& error)>;

// The whole file, `sizeHint` its size as the system reports it.
FileContents ReadAll(std::size_t sizeHint, std::size_t largest, const ReadSome& readSome);

}  // namespace tavrin::platform::system
