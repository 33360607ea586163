// The machine's serial devices on Linux: the entries of /sys/class/tty that a device stands behind
// (virtual consoles, ptmx and pseudo-terminals have no "device" link). A serial-core port also has
// a "type" attribute, which is 0 (PORT_UNKNOWN) for a UART that is configured but not there, as
// most of ttyS0..31 are; those are left out.

#include "port_list.h"
#include "port_scan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>

namespace fs = std::filesystem;

namespace {

bool answers(const fs::path& Entry) {
    std::ifstream Type(Entry / "type");
    if (!Type) return true; // not a serial-core port: the device link alone tells
    int Port_Type = 0;
    return static_cast<bool>(Type >> Port_Type) && Port_Type != 0;
}

// ttyS2 before ttyS10: by the name's letters, then by its number.
std::tuple<std::string, long, std::string> natural_key(const std::string& Name) {
    std::size_t Digits = Name.size();
    while (Digits > 0 && std::isdigit(static_cast<unsigned char>(Name[Digits - 1])))
        --Digits;
    long Number = Digits < Name.size() ? std::stol(Name.substr(Digits, 9)) : -1;
    return {Name.substr(0, Digits), Number, Name};
}

} // namespace

std::vector<std::string> Machine_Serial_Devices(const std::string& Sys_Class_Tty) {
    std::vector<std::string> Names;
    std::error_code Ec;
    for (fs::directory_iterator It(Sys_Class_Tty, Ec), End; !Ec && It != End; It.increment(Ec)) {
        std::error_code Dev_Ec;
        if (!fs::exists(It->path() / "device", Dev_Ec) || !answers(It->path())) continue;
        Names.push_back(It->path().filename().string());
    }
    std::sort(Names.begin(), Names.end(),
              [](const std::string& A, const std::string& B) { return natural_key(A) < natural_key(B); });
    std::vector<std::string> Paths;
    for (const std::string& Name : Names)
        Paths.push_back("/dev/" + Name);
    return Paths;
}

std::string Program_Folder() {
    std::error_code Error;
    const fs::path Exe = fs::read_symlink("/proc/self/exe", Error);
    return Error ? fs::current_path(Error).string() : Exe.parent_path().string();
}
