// The simulated converter as a Windows test under Wine sees it: sim_host runs it on Linux and
// links its terminal into the Wine prefix's ports folder, where it is one of the COM ports the
// prefix registers (scripts/wine-run.sh). Each object has a sim_host of its own.

#include "sim_converter.h"
#include "sim_link.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

// The ports the prefix registers for the simulator; a simulator without a link takes the last.
constexpr int First_Sim_Port = 5;
constexpr int Last_Sim_Port = 9;

// The Wine drive Z: is the Linux root.
std::wstring windows_path(const std::string& Unix_Path) {
    std::wstring Path = L"Z:";
    for (char C : Unix_Path)
        Path += C == '/' ? L'\\' : static_cast<wchar_t>(C);
    return Path;
}

// "COMn" for the link the options ask for.
std::string port_name(const std::string& Link) {
    if (Link.empty()) return "COM" + std::to_string(Last_Sim_Port);
    const std::string Name = fs::path(Link).filename().string();
    for (int N = First_Sim_Port; N <= Last_Sim_Port; ++N)
        if (Name == "COM" + std::to_string(N)) return Name;
    throw std::invalid_argument("under Wine the simulator can only be COM" + std::to_string(First_Sim_Port) +
                                " to COM" + std::to_string(Last_Sim_Port) + ", not " + Link);
}

class TWinsock {
public:
    TWinsock() {
        WSADATA Data;
        if (::WSAStartup(MAKEWORD(2, 2), &Data) != 0) throw std::runtime_error("WSAStartup failed");
    }
    ~TWinsock() { ::WSACleanup(); }
};

} // namespace

struct TSimConverter::TImpl {
    TSimOptions Options;
    std::string Port;
    std::string Slave_Path;
    TWinsock Winsock;
    SOCKET Link = INVALID_SOCKET;
    std::string Received; // what came after the last answer line
    mutable TSimCounters Counters;
    mutable std::mutex Lock;

    explicit TImpl(TSimOptions Opts) : Options(std::move(Opts)), Port(port_name(Options.Link)) {
        Connect_Host();
        std::ostringstream Line;
        Line << "options " << Options.Pace << ' ' << Options.Program_Delay.count() << ' '
             << Options.Fault_Plan.Seed << ' ' << SW_WINE_PORTS_DIR << '/' << Port << ' '
             << Options.Fault_Plan.Faults.size();
        for (const TSimFault& F : Options.Fault_Plan.Faults)
            Line << ' ' << static_cast<int>(F.Kind) << ' ' << F.First << ' ' << F.Last << ' ' << F.Probability
                 << ' ' << F.Pause.count();
        Request(Line.str());
    }
    ~TImpl() {
        if (Link != INVALID_SOCKET) ::closesocket(Link); // sim_host stops and ends
    }

    void Connect_Host() {
        SOCKET Listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in Address{};
        Address.sin_family = AF_INET;
        Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int Size = sizeof Address;
        if (Listener == INVALID_SOCKET ||
            ::bind(Listener, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
            ::listen(Listener, 1) != 0 ||
            ::getsockname(Listener, reinterpret_cast<sockaddr*>(&Address), &Size) != 0)
            throw std::runtime_error("no loopback port for sim_host");

        // Wine starts a Linux program as it is, without a process handle for it.
        std::wstring Command =
            L"\"" + windows_path(SW_SIM_HOST) + L"\" " + std::to_wstring(ntohs(Address.sin_port));
        STARTUPINFOW Startup{};
        Startup.cb = sizeof Startup;
        PROCESS_INFORMATION Process{};
        if (!::CreateProcessW(nullptr, Command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup,
                              &Process)) {
            ::closesocket(Listener);
            throw std::runtime_error("cannot start " + std::string(SW_SIM_HOST));
        }
        if (Process.hProcess) ::CloseHandle(Process.hProcess);
        if (Process.hThread) ::CloseHandle(Process.hThread);

        fd_set Ready;
        FD_ZERO(&Ready);
        FD_SET(Listener, &Ready);
        timeval Bound{60, 0};
        const int Selected = ::select(0, &Ready, nullptr, nullptr, &Bound);
        if (Selected == 1) Link = ::accept(Listener, nullptr, nullptr);
        const int Error = ::WSAGetLastError();
        ::closesocket(Listener);
        if (Link == INVALID_SOCKET)
            throw std::runtime_error("sim_host did not connect (" + std::to_string(Selected) + ", " +
                                     std::to_string(Error) + ")");
    }

    // Sends one request and returns its answer after "ok"; an "error" answer raises.
    std::string Request(const std::string& Line) {
        std::lock_guard<std::mutex> Guard(Lock);
        const std::string Out = Line + "\n";
        for (std::size_t Sent = 0; Sent < Out.size();) {
            const int N = ::send(Link, Out.data() + Sent, static_cast<int>(Out.size() - Sent), 0);
            if (N <= 0) throw std::runtime_error("sim_host has gone");
            Sent += static_cast<std::size_t>(N);
        }
        std::size_t End;
        while ((End = Received.find('\n')) == std::string::npos) {
            char Buffer[65536];
            const int N = ::recv(Link, Buffer, sizeof Buffer, 0);
            if (N <= 0) throw std::runtime_error("sim_host has gone");
            Received.append(Buffer, static_cast<std::size_t>(N));
        }
        std::string Answer = Received.substr(0, End);
        Received.erase(0, End + 1);
        if (Answer.rfind("ok", 0) != 0)
            throw std::runtime_error("sim_host: " + Answer + " (to: " + Line + ")");
        return Answer.size() > 3 ? Answer.substr(3) : std::string();
    }

    void Refresh_Counters() {
        std::istringstream Words(Request("counters"));
        std::uint32_t V[8] = {};
        for (auto& Value : V)
            Words >> Value;
        Counters.Reads = V[0];
        Counters.Writes = V[1];
        Counters.Answers = V[2];
        Counters.Acks = V[3];
        Counters.Rejected = V[4];
        Counters.Faults = V[5];
        Counters.Closes = V[6];
        Counters.Hung_Up = V[7] != 0;
    }
};

TSimConverter::TSimConverter(TSimOptions Options) : FImpl(std::make_unique<TImpl>(std::move(Options))) {}

TSimConverter::~TSimConverter() = default;

void TSimConverter::Start() {
    FImpl->Request("start");
    FImpl->Slave_Path = "\\\\.\\" + FImpl->Port;
}

void TSimConverter::Stop() {
    FImpl->Request("stop");
}

const std::string& TSimConverter::Slave_Path() const {
    return FImpl->Slave_Path;
}

std::vector<std::uint8_t> TSimConverter::Read_Memory(std::uint32_t Address, std::size_t Count) const {
    if (!TSimMemory::Contains(Address, Count)) throw std::out_of_range("outside the simulated memory");
    auto Bytes =
        Sim_Link_Bytes(FImpl->Request("read " + std::to_string(Address) + " " + std::to_string(Count)));
    if (!Bytes) throw std::runtime_error("sim_host: bad memory answer");
    return *Bytes;
}

void TSimConverter::Write_Memory(std::uint32_t Address, std::span<const std::uint8_t> Bytes) {
    if (!TSimMemory::Contains(Address, Bytes.size())) throw std::out_of_range("outside the simulated memory");
    FImpl->Request("write " + std::to_string(Address) + " " +
                   Sim_Link_Hex(std::vector<std::uint8_t>(Bytes.begin(), Bytes.end())));
}

std::uint32_t TSimConverter::Protection() const {
    return static_cast<std::uint32_t>(std::stoul(FImpl->Request("protection")));
}

void TSimConverter::Set_Protection(std::uint32_t Word) {
    FImpl->Request("set-protection " + std::to_string(Word));
}

bool TSimConverter::Save_Memory(const std::string& Path) const {
    try {
        const auto Bytes = Read_Memory(0, TSimMemory::Size);
        const std::string Temporary = Path + ".new";
        {
            std::ofstream Out(Temporary, std::ios::binary | std::ios::trunc);
            Out.write(reinterpret_cast<const char*>(Bytes.data()),
                      static_cast<std::streamsize>(Bytes.size()));
            if (!Out.flush()) return false;
        }
        std::error_code Error;
        fs::rename(Temporary, Path, Error);
        return !Error;
    } catch (const std::exception&) {
        return false;
    }
}

const TSimCounters& TSimConverter::Counters() const {
    FImpl->Refresh_Counters();
    return FImpl->Counters;
}

bool TSimConverter::Wait_For(const std::function<bool(const TSimCounters&)>& Done,
                             std::chrono::milliseconds Timeout) const {
    const auto End = std::chrono::steady_clock::now() + Timeout;
    for (;;) {
        const bool Met = Done(Counters());
        if (Met || std::chrono::steady_clock::now() >= End) return Met;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
