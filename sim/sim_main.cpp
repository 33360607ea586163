// sw40815-sim: the simulated converter as a program. Its first line of output is the device path of
// its terminal; it serves until SIGINT or SIGTERM (or until its hangup fault closes the terminal).

#include "sim_converter.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <ctime>
#include <iostream>

namespace {

const char* const fault_help =
    "Inject a fault, KIND[=MS]@WHEN; may be given again.\n"
    "KIND: drop-ack, split-ack (MS apart, default 50), corrupt, spaces, crlf, noise,\n"
    "delay (MS, default 1000), silent, hangup.\n"
    "WHEN: N, N-M, N- (N and after) or random:P. Frames count from 1: reads for\n"
    "corrupt/spaces/crlf/noise, writes for drop-ack/split-ack, all frames otherwise.";

bool save(const TSimConverter& Sim, const std::string& Path) {
    if (Path.empty() || Sim.Save_Memory(Path)) return true;
    std::cerr << "sw40815-sim: cannot save the memory to " << Path << "\n";
    return false;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated SW40815 converter on a pseudo-terminal. Prints the terminal's device path "
                 "first, then serves until SIGINT or SIGTERM; SIGUSR1 saves the memory."};
    TSimOptions options;
    std::uint32_t program_delay = 0;
    std::uint32_t protection = 0;
    std::uint32_t hangup_after = 0;
    std::string save_path;
    std::vector<std::string> faults;
    app.add_option("--link", options.Link,
                   "Also publish the terminal as a symbolic link at PATH, e.g. PORTS/COM7 beside the program")
        ->type_name("PATH");
    app.add_flag(
        "--pace", options.Pace,
        "Behave like a 115,200 baud line: requests take their time to arrive, answers leave at line rate");
    app.add_option("--program-delay", program_delay,
                   "Milliseconds a program-region block takes before its ack")
        ->type_name("MS");
    app.add_option("--protection", protection,
                   "Protection word to start with (0x for hexadecimal); default 0")
        ->type_name("WORD");
    app.add_option("--save", save_path, "Save the memory to FILE (byte N at offset N) on exit and on SIGUSR1")
        ->type_name("FILE");
    app.add_option("--fault", faults, fault_help)
        ->type_name("FAULT")
        ->check(CLI::Validator(
            [](std::string& Text) {
                std::string error;
                return Parse_Fault(Text, error) ? std::string() : error;
            },
            ""));
    app.add_option("--seed", options.Fault_Plan.Seed, "Seed of the random fault picks; default 1")
        ->type_name("N");
    auto* hangup = app.add_option("--hangup-after", hangup_after,
                                  "Close the terminal once frame N is answered (as --fault hangup@N)")
                       ->type_name("N")
                       ->check(CLI::PositiveNumber);
    CLI11_PARSE(app, argc, argv);

    options.Program_Delay = std::chrono::milliseconds(program_delay);
    for (const auto& text : faults) {
        std::string error;
        options.Fault_Plan.Faults.push_back(*Parse_Fault(text, error));
    }
    if (hangup->count() > 0)
        options.Fault_Plan.Faults.push_back({TSimFaultKind::fkHangUp, hangup_after, hangup_after, 0, {}});

    // Blocked before the serving thread starts, so that only sigtimedwait below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGUSR1})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    TSimConverter sim(std::move(options));
    sim.Set_Protection(protection);
    try {
        sim.Start();
    } catch (const std::exception& error) {
        std::cerr << "sw40815-sim: " << error.what() << "\n";
        return 1;
    }
    std::cout << sim.Slave_Path() << std::endl;

    // The time-out only lets it notice a hang-up of its own.
    const timespec tick{0, 200'000'000};
    for (;;) {
        int signal = sigtimedwait(&signals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM || sim.Counters().Hung_Up.load()) break;
        if (signal == SIGUSR1) save(sim, save_path);
    }
    sim.Stop();
    return save(sim, save_path) ? 0 : 1;
}
