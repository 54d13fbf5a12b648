// What the online screens write: in capitals, the only letters the font
// has, and in their colours.
#pragma once
#include <cctype>
#include <cstddef>
#include <cstdint>

#include "core/app.h"

namespace onlinetext {

constexpr uint8_t kTextColor = 5, kTitleColor = 7, kWarningColor = 6, kGreyColor = 4;

inline void Upper(const char* text, char* line, size_t size) {
    size_t n = 0;
    for (; text[n] && n + 1 < size; n++) line[n] = char(std::toupper(static_cast<unsigned char>(text[n])));
    line[n] = 0;
}

inline void DrawUpper(int y, const char* text, uint8_t color) {
    char line[100];
    Upper(text, line, sizeof line);
    theApp.DrawText(kBackBuffer, 0, y, line, color, true, 0);
}

}  // namespace onlinetext

using onlinetext::DrawUpper;
using onlinetext::kGreyColor;
using onlinetext::kTextColor;
using onlinetext::kTitleColor;
using onlinetext::kWarningColor;
using onlinetext::Upper;
