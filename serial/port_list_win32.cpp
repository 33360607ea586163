// Serial port names on Windows: COMn is the device \\.\COMn itself, so the number needs no
// mapping and a port is present when its device answers an exclusive open.

#include "port_list.h"
#include "wide_text_win32.h"

#include <filesystem>

#include <windows.h>

namespace {

// The highest number Windows gives a COM port.
constexpr int Highest_Port = 256;

std::string device_path(int Number) {
    return "\\\\.\\COM" + std::to_string(Number);
}

// A port that another program (or this one) holds answers ERROR_ACCESS_DENIED: it is there.
bool present(int Number) {
    const std::wstring Path = Wide_Text(device_path(Number));
    HANDLE Device =
        ::CreateFileW(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (Device != INVALID_HANDLE_VALUE) {
        ::CloseHandle(Device);
        return true;
    }
    return ::GetLastError() == ERROR_ACCESS_DENIED;
}

} // namespace

std::vector<TPortEntry> List_Ports(const std::string&, const std::string&) {
    std::vector<TPortEntry> Listed;
    for (int Number = 1; Number <= Highest_Port; ++Number)
        if (present(Number)) Listed.push_back({Number, "COM" + std::to_string(Number), device_path(Number)});
    return Listed;
}

std::optional<std::string> Port_Path(const std::string& Port, const std::string&, const std::string&) {
    if (Port.find_first_of("\\/") != std::string::npos) return Port;
    std::optional<int> Number = Port_Number(Port);
    if (!Number || *Number > Highest_Port) return std::nullopt;
    return device_path(*Number);
}

std::string Program_Folder() {
    std::wstring Path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD Size = ::GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
        if (Size == 0) return std::filesystem::current_path().string();
        if (Size < Path.size()) {
            Path.resize(Size);
            break;
        }
        Path.resize(Path.size() * 2);
    }
    return std::filesystem::path(Path).parent_path().string();
}
