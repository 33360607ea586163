// Port faults on Linux: errno values of the failed open, and the holder of a busy port from
// /proc (the flock table first, then every process's open descriptors).

#include "port_fault.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::string process_name(std::int64_t Pid) {
    std::ifstream In("/proc/" + std::to_string(Pid) + "/comm");
    std::string Name;
    std::getline(In, Name);
    return Name;
}

// /proc/locks lines: "1: FLOCK  ADVISORY  WRITE 1234 00:19:5 0 EOF", device numbers in hex and
// the inode in decimal; a line with "->" is a waiter, not the holder.
std::int64_t flock_holder(const struct stat& Node) {
    std::ifstream In("/proc/locks");
    std::string Line;
    while (std::getline(In, Line)) {
        std::istringstream Fields(Line);
        std::string Number, Kind, Mode, Access, Device;
        std::int64_t Pid = 0;
        if (!(Fields >> Number >> Kind) || Kind == "->") continue;
        if (!(Fields >> Mode >> Access >> Pid >> Device)) continue;
        unsigned Major = 0, Minor = 0;
        unsigned long long Inode = 0;
        if (std::sscanf(Device.c_str(), "%x:%x:%llu", &Major, &Minor, &Inode) != 3) continue;
        if (Major == major(Node.st_dev) && Minor == minor(Node.st_dev) && Inode == Node.st_ino) return Pid;
    }
    return 0;
}

std::int64_t descriptor_holder(const struct stat& Node) {
    DIR* Processes = ::opendir("/proc");
    if (!Processes) return 0;
    const std::int64_t Self = ::getpid();
    std::int64_t Found = 0;
    while (dirent* Entry = ::readdir(Processes)) {
        char* End = nullptr;
        const std::int64_t Pid = std::strtoll(Entry->d_name, &End, 10);
        if (Pid <= 0 || *End != '\0' || Pid == Self) continue;
        const std::string Fds = "/proc/" + std::string(Entry->d_name) + "/fd";
        DIR* Open = ::opendir(Fds.c_str());
        if (!Open) continue; // another user's process, or gone meanwhile
        while (dirent* Fd = ::readdir(Open)) {
            struct stat Target {};
            if (Fd->d_name[0] == '.' || ::stat((Fds + "/" + Fd->d_name).c_str(), &Target) != 0) continue;
            if (S_ISCHR(Target.st_mode) && Target.st_rdev == Node.st_rdev) {
                Found = Pid;
                break;
            }
        }
        ::closedir(Open);
        if (Found) break;
    }
    ::closedir(Processes);
    return Found;
}

} // namespace

TPortFault Port_Fault_Of(std::int32_t ErrorCode) {
    switch (ErrorCode) {
    case EBUSY: // TIOCEXCL, or our own lock held elsewhere (reported as EBUSY by the port)
        return TPortFault::pfInUse;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return TPortFault::pfNoDevice;
    case ENOTTY:
    case -1: // the port opened the path and found no terminal behind it
        return TPortFault::pfNotSerial;
    case EACCES:
    case EPERM:
        return TPortFault::pfAccessDenied;
    default:
        return TPortFault::pfOther;
    }
}

TPortHolder Port_Holder(const std::string& Device_Path) {
    struct stat Node {};
    if (::stat(Device_Path.c_str(), &Node) != 0 || !S_ISCHR(Node.st_mode)) return {};
    std::int64_t Pid = flock_holder(Node);
    if (Pid == 0) Pid = descriptor_holder(Node);
    if (Pid == 0) return {};
    return {Pid, process_name(Pid)};
}
