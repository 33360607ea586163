// sw40815-cli: the converter commands of the configurator, for scripts and production lines.

#include "cli_commands.h"
#include "converter.h"
#include "exit_codes.h"
#include "port_list.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace {

void on_interrupt(int) {
    Cli_Interrupted = true;
}

std::vector<std::string> texts(const auto& Table) {
    return {Table.begin(), Table.end()};
}

} // namespace

int main(int argc, char** argv) {
    std::string Description =
        "Reads and writes the line parameters of an SW40815 M-Bus / RS232 converter and "
        "updates its firmware.\n\nExit status:";
    for (const auto& Meaning : Exit_Meanings)
        Description += (Meaning.Code == Exit_Ok ? " " : ", ") + std::to_string(Meaning.Code) + " " +
                       std::string(Meaning.Text);
    Description += ".";
    CLI::App App{Description, "sw40815-cli"};
    TCliOptions Options;
    Options.Ports_Dir = (std::filesystem::path(Program_Folder()) / "PORTS").string();
    App.add_option("--port,-p", Options.Port, "COMn name (see 'ports') or device path");
    App.add_flag("--json", Options.Json, "print one JSON object instead of text");
    App.add_flag("--verbose,-v", Options.Verbose, "also print the serial port's own error message and code");
    App.add_option("--ports-dir", Options.Ports_Dir, "folder of COMn links that pin port names")
        ->capture_default_str();
    App.require_subcommand(1);

    App.add_subcommand("ports", "list the serial ports as COMn names with their device paths");
    auto* Read = App.add_subcommand("read", "print the converter's four line parameters");
    auto* Write = App.add_subcommand("write", "write the M-Bus baud rate and parity");
    Write->add_option("--mbus-baud", Options.MBus_Baud, "M-Bus baud rate")
        ->required()
        ->check(CLI::IsMember(texts(MBus_Baud_Texts)));
    Write->add_option("--mbus-parity", Options.MBus_Parity, "M-Bus parity")
        ->required()
        // Any case is accepted; the table's own spelling is what the command sees.
        ->transform(CLI::IsMember(texts(Parity_Texts), CLI::ignore_case));
    auto* Update = App.add_subcommand("update", "write a firmware image into the converter");
    Update->add_option("IMAGE", Options.Image, "firmware image file")->required();
    Update->add_flag("--verify", Options.Verify, "read the firmware back and compare it with the image");
    Update
        ->add_option("--stall-timeout", Options.Stall_Seconds,
                     "give up when the transfer makes no progress for this many seconds")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    for (auto* Command : {Read, Write, Update})
        Command->callback([&] {
            if (Options.Port.empty()) throw CLI::RequiredError("--port");
        });

    try {
        App.parse(argc, argv);
    } catch (const CLI::ParseError& E) {
        const int Code = App.exit(E);
        return Code == 0 ? Exit_Ok : Exit_Usage;
    }
    Options.Progress_Bar = ::isatty(STDERR_FILENO) == 1;
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);

    const auto Make = Real_Worker_Factory();
    if (App.got_subcommand("ports")) return Cli_Ports(Options, std::cout);
    if (App.got_subcommand(Read)) return Cli_Read(Options, Make, std::cout, std::cerr);
    if (App.got_subcommand(Write)) return Cli_Write(Options, Make, std::cout, std::cerr);
    return Cli_Update(Options, Make, std::cout, std::cerr);
}
