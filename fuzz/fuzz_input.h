#pragma once
// Turns fuzzer bytes into what the targets feed the code under test: UTF-16 texts, and texts in
// which short markers stand for things the fuzzer could not guess (a key, a hashed host name).

#include "common/base64.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Two bytes a unit; a 0xFFFF unit separates texts.
inline std::vector<std::u16string> SplitFuzzInput(const std::uint8_t* data, std::size_t size, std::size_t parts) {
    std::vector<std::u16string> out(1);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0xFFFF && out.size() < parts) out.emplace_back();
        else out.back().push_back(unit);
    }
    out.resize(parts);
    return out;
}

// Walks a text in which "%X", X one of `markers`, stands for something the target puts in:
// onMarker(X) for each such pair, onByte(c) for every other byte (a "%" before anything else
// included).
template <class OnByte, class OnMarker>
void ExpandFuzzMarkers(std::string_view input, std::string_view markers, OnByte&& onByte, OnMarker&& onMarker) {
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '%' && i + 1 < input.size() && markers.find(input[i + 1]) != std::string_view::npos) {
            onMarker(input[++i]);
        } else {
            onByte(input[i]);
        }
    }
}

// A hashed known_hosts name ("|1|salt|hash") from its salt and its HMAC-SHA1 of the host name.
inline std::string HashedKnownHostName(std::string_view salt, std::string_view digest) {
    return "|1|" + tavrin::EncodeBase64(salt) + "|" + tavrin::EncodeBase64(digest);
}
