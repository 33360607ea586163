#include "pty_fixture.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

TPty::TPty() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) < 0 || ::unlockpt(FMaster) < 0)
        throw std::runtime_error("no pseudo-terminal");
    FPath = ::ptsname(FMaster);
}

TPty::~TPty() {
    Hang_Up();
}

void TPty::Hang_Up() {
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
}

void TPty::Send(std::string_view Bytes) {
    while (!Bytes.empty()) {
        ssize_t Put = ::write(FMaster, Bytes.data(), Bytes.size());
        if (Put <= 0) throw std::runtime_error("write to the master failed");
        Bytes.remove_prefix(static_cast<std::size_t>(Put));
    }
}

std::string TPty::Receive(std::size_t Count) {
    std::string Got;
    const auto End = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Got.size() < Count && std::chrono::steady_clock::now() < End) {
        pollfd Pfd{FMaster, POLLIN, 0};
        if (::poll(&Pfd, 1, 100) <= 0) continue;
        char Buf[256];
        ssize_t N = ::read(FMaster, Buf, std::min(sizeof Buf, Count - Got.size()));
        if (N <= 0) break;
        Got.append(Buf, static_cast<std::size_t>(N));
    }
    return Got;
}

int Open_Descriptors() {
    int Count = 0;
    for ([[maybe_unused]] const auto& Entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++Count;
    return Count;
}
