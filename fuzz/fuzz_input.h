#pragma once
// Turns fuzzer bytes into UTF-16 texts: two bytes a unit; a 0xFFFF unit separates texts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
