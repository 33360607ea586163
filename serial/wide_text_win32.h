#pragma once
// Texts of the component are UTF-8; the Windows calls take UTF-16.

#include <string>

#include <windows.h>

inline std::wstring Wide_Text(const std::string& Text) {
    if (Text.empty()) return std::wstring();
    const int Size =
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring Wide(static_cast<std::size_t>(Size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Wide.data(), Size);
    return Wide;
}
