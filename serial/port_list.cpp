// Port numbering: PORTS entries first, then the machine's devices on the numbers left free.

#include "port_list.h"
#include "port_scan.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct TNumbered {
    TPortEntry Entry;
    bool Present;
};

std::string canonical_or_same(const fs::path& Path) {
    std::error_code Ec;
    fs::path Canonical = fs::weakly_canonical(Path, Ec);
    return Ec ? Path.lexically_normal().string() : Canonical.string();
}

std::vector<TNumbered> pinned_ports(const std::string& Ports_Dir) {
    std::vector<TNumbered> Pinned;
    std::error_code Ec;
    for (fs::directory_iterator It(Ports_Dir, Ec), End; !Ec && It != End; It.increment(Ec)) {
        std::optional<int> Number = Port_Number(It->path().filename().string());
        if (!Number) continue;
        bool Taken = std::any_of(Pinned.begin(), Pinned.end(),
                                 [&](const TNumbered& P) { return P.Entry.Number == *Number; });
        if (Taken) continue; // "com3" beside "COM3"
        fs::path Device = It->path();
        std::error_code Link_Ec;
        if (fs::is_symlink(It->symlink_status(Link_Ec))) {
            fs::path Target = fs::read_symlink(Device, Link_Ec);
            if (!Link_Ec) Device = (Device.parent_path() / Target).lexically_normal();
        }
        std::error_code Exists_Ec;
        bool Present = fs::exists(Device, Exists_Ec);
        Pinned.push_back({{*Number, "COM" + std::to_string(*Number), Device.string()}, Present});
    }
    return Pinned;
}

std::vector<TNumbered> all_ports(const std::string& Ports_Dir, const std::string& Sys_Class_Tty) {
    std::vector<TNumbered> Ports = pinned_ports(Ports_Dir);
    std::set<int> Held;
    std::set<std::string> Pinned_Devices;
    for (const TNumbered& P : Ports) {
        Held.insert(P.Entry.Number);
        Pinned_Devices.insert(canonical_or_same(P.Entry.Path));
    }
    int Next = 1;
    for (const std::string& Device : Machine_Serial_Devices(Sys_Class_Tty)) {
        if (Pinned_Devices.count(canonical_or_same(Device))) continue; // already has its pinned number
        while (Held.count(Next))
            ++Next;
        Held.insert(Next);
        Ports.push_back({{Next, "COM" + std::to_string(Next), Device}, true});
    }
    std::sort(Ports.begin(), Ports.end(),
              [](const TNumbered& A, const TNumbered& B) { return A.Entry.Number < B.Entry.Number; });
    return Ports;
}

} // namespace

std::vector<TPortEntry> List_Ports(const std::string& Ports_Dir, const std::string& Sys_Class_Tty) {
    std::vector<TPortEntry> Listed;
    for (TNumbered& P : all_ports(Ports_Dir, Sys_Class_Tty))
        if (P.Present) Listed.push_back(std::move(P.Entry));
    return Listed;
}

std::optional<std::string> Port_Path(const std::string& Port, const std::string& Ports_Dir,
                                     const std::string& Sys_Class_Tty) {
    if (Port.find('/') != std::string::npos) return Port;
    std::optional<int> Number = Port_Number(Port);
    if (!Number) return std::nullopt;
    for (TNumbered& P : all_ports(Ports_Dir, Sys_Class_Tty))
        if (P.Entry.Number == *Number) return std::move(P.Entry.Path);
    return std::nullopt;
}
