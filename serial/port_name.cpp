// Port names, the same on every platform.

#include "port_list.h"

#include <cctype>

std::optional<int> Port_Number(const std::string& Name) {
    if (Name.size() < 4 || Name.size() > 7) return std::nullopt;
    for (std::size_t I = 0; I < 3; ++I)
        if (std::toupper(static_cast<unsigned char>(Name[I])) != "COM"[I]) return std::nullopt;
    if (Name[3] == '0') return std::nullopt;
    int Number = 0;
    for (std::size_t I = 3; I < Name.size(); ++I) {
        if (!std::isdigit(static_cast<unsigned char>(Name[I]))) return std::nullopt;
        Number = Number * 10 + (Name[I] - '0');
    }
    return Number;
}
