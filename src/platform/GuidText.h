// The braced text form of a GUID, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// read at compile time. Written for any GUID type of the platform's layout,
// so the stand-in and the real runtime share it.
#pragma once

#include <cstdint>

// 38 characters plus the terminator.
inline constexpr int kGuidStringLength = 39;

// Reads the braced form (hex digits in either case); false when `text` is
// not exactly one.
template <typename Guid>
constexpr bool ParseGuidText(const char* text, Guid& guid) noexcept {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    // Each hex digit's position in "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    // the other positions hold the braces and the dashes.
    std::uint8_t digits[32] = {};
    int count = 0;
    for (int i = 0; i < kGuidStringLength - 1; ++i) {
        const char c = text[i];
        if (c == '\0') return false;
        const bool punctuation = i == 0 || i == 37 || i == 9 || i == 14 || i == 19 || i == 24;
        if (punctuation) {
            if (c != (i == 0 ? '{' : i == 37 ? '}' : '-')) return false;
        } else {
            const int d = hex(c);
            if (d < 0) return false;
            digits[count++] = static_cast<std::uint8_t>(d);
        }
    }
    if (text[kGuidStringLength - 1] != '\0') return false;
    const auto read = [&digits](int first, int n) {
        std::uint32_t v = 0;
        for (int i = first; i < first + n; ++i) v = v * 16 + digits[i];
        return v;
    };
    guid.Data1 = read(0, 8);
    guid.Data2 = static_cast<std::uint16_t>(read(8, 4));
    guid.Data3 = static_cast<std::uint16_t>(read(12, 4));
    for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<std::uint8_t>(read(16 + 2 * i, 2));
    return true;
}

// A GUID written in braced form in the source; a malformed text does not
// compile.
template <typename Guid>
consteval Guid MakeGuidOf(const char (&text)[kGuidStringLength]) {
    Guid guid{};
    if (!ParseGuidText(text, guid)) throw "malformed GUID text";
    return guid;
}
