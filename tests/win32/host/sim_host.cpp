// sim_host: the simulated converter for a Windows test program under Wine, which cannot open a
// pseudo-terminal itself. It connects to the test's loopback port (its one argument), serves the
// requests of sim_link.h and ends when the test closes the connection or goes away.

#include "sim_converter.h"
#include "sim_link.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <sstream>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::unique_ptr<TSimConverter> Sim = std::make_unique<TSimConverter>();

bool read_options(std::istringstream& Words) {
    TSimOptions Options;
    unsigned Delay = 0, Count = 0;
    Words >> Options.Pace >> Delay >> Options.Fault_Plan.Seed >> Options.Link >> Count;
    if (Options.Link == "-") Options.Link.clear();
    Options.Program_Delay = std::chrono::milliseconds(Delay);
    for (unsigned I = 0; I < Count; ++I) {
        TSimFault Fault;
        int Kind = 0;
        unsigned Pause = 0;
        Words >> Kind >> Fault.First >> Fault.Last >> Fault.Probability >> Pause;
        Fault.Kind = static_cast<TSimFaultKind>(Kind);
        Fault.Pause = std::chrono::milliseconds(Pause);
        Options.Fault_Plan.Faults.push_back(Fault);
    }
    if (!Words) return false;
    Sim = std::make_unique<TSimConverter>(std::move(Options));
    return true;
}

// The answer to one request line.
std::string serve(const std::string& Line) {
    std::istringstream Words(Line);
    std::string Command;
    Words >> Command;
    if (Command == "options") return read_options(Words) ? "ok" : "error bad options";
    if (Command == "start") {
        Sim->Start();
        return "ok";
    }
    if (Command == "stop") {
        Sim->Stop();
        return "ok";
    }
    if (Command == "read") {
        std::uint32_t Address = 0;
        std::size_t Count = 0;
        if (!(Words >> Address >> Count)) return "error bad read";
        return "ok " + Sim_Link_Hex(Sim->Read_Memory(Address, Count));
    }
    if (Command == "write") {
        std::uint32_t Address = 0;
        std::string Hex;
        Words >> Address >> Hex;
        const auto Bytes = Sim_Link_Bytes(Hex);
        if (!Words || !Bytes) return "error bad write";
        Sim->Write_Memory(Address, *Bytes);
        return "ok";
    }
    if (Command == "protection") return "ok " + std::to_string(Sim->Protection());
    if (Command == "set-protection") {
        std::uint32_t Word = 0;
        if (!(Words >> Word)) return "error bad word";
        Sim->Set_Protection(Word);
        return "ok";
    }
    if (Command == "counters") {
        const TSimCounters& C = Sim->Counters();
        std::ostringstream Out;
        Out << "ok " << C.Reads << ' ' << C.Writes << ' ' << C.Answers << ' ' << C.Acks << ' ' << C.Rejected
            << ' ' << C.Faults << ' ' << C.Closes << ' ' << (C.Hung_Up ? 1 : 0);
        return Out.str();
    }
    return "error unknown request " + Command;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sim_host PORT\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN); // a test that has gone away ends the loop below instead
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (Fd < 0 || ::connect(Fd, reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
        std::perror("sim_host: connect");
        return 1;
    }
    FILE* In = ::fdopen(Fd, "r");
    FILE* Out = ::fdopen(::dup(Fd), "w");
    std::string Line;
    for (int C; (C = std::fgetc(In)) != EOF;) {
        if (C != '\n') {
            Line += static_cast<char>(C);
            continue;
        }
        std::string Answer;
        try {
            Answer = serve(Line);
        } catch (const std::exception& Error) {
            Answer = std::string("error ") + Error.what();
        }
        Line.clear();
        if (std::fprintf(Out, "%s\n", Answer.c_str()) < 0 || std::fflush(Out) != 0) break;
    }
    Sim->Stop();
    return 0;
}
