#pragma once
// The commands of sw40815-cli, callable in-process so that tests can run them.

#include "arm_usb.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

struct TCliOptions {
    std::string Port;      // "COMn" or a device path
    std::string Ports_Dir; // the PORTS folder that pins COMn names
    bool Json = false;
    bool Verbose = false; // also print the port component's own message and code
    // read / write
    std::string MBus_Baud;   // a text of the M-Bus baud-rate table
    std::string MBus_Parity; // a text of the parity table
    // update
    std::string Image;
    bool Verify = false;
    // Give up when a transfer has made no progress for this long.
    int Stall_Seconds = 60;
    // Progress display: a bar redrawn in place (terminal) or a line per 10 percent.
    bool Progress_Bar = false;
};

// Makes the link worker for a device path; tests give a factory of their own.
using TWorkerFactory = std::function<std::unique_ptr<Tarm_SER>()>;
TWorkerFactory Real_Worker_Factory();

// Set from a signal handler to stop a running command.
extern std::atomic<bool> Cli_Interrupted;

int Cli_Ports(const TCliOptions& Options, std::ostream& Out);
int Cli_Read(const TCliOptions& Options, const TWorkerFactory& Make, std::ostream& Out, std::ostream& Err);
int Cli_Write(const TCliOptions& Options, const TWorkerFactory& Make, std::ostream& Out, std::ostream& Err);
int Cli_Update(const TCliOptions& Options, const TWorkerFactory& Make, std::ostream& Out, std::ostream& Err);
