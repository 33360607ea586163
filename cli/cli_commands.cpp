#include "cli_commands.h"

#include "converter.h"
#include "exit_codes.h"
#include "port_list.h"
#include "port_open.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using json = nlohmann::json;
using Steady = std::chrono::steady_clock;

std::atomic<bool> Cli_Interrupted{false};

TWorkerFactory Real_Worker_Factory() {
    return [] { return std::make_unique<Tarm_SER>(true); };
}

namespace {

// Collects the result of one command and prints it as text or as one JSON object.
class TReport {
public:
    TReport(const TCliOptions& Options, std::ostream& Out, std::ostream& Err, const char* Command)
        : FOptions(Options), FOut(Out), FErr(Err) {
        Data["command"] = Command;
    }

    json Data;

    void Line(const std::string& Text) {
        if (!FOptions.Json) FOut << Text << '\n';
    }
    int Fail(int Code, const char* Kind, const std::string& Message) {
        if (FOptions.Json) {
            Data["ok"] = false;
            Data["error"] = Kind;
            Data["message"] = Message;
            Data["exit_code"] = Code;
            FOut << Data.dump() << '\n';
        } else {
            FErr << "sw40815-cli: " << Message << '\n';
        }
        return Code;
    }
    int Done() {
        if (FOptions.Json) {
            Data["ok"] = true;
            FOut << Data.dump() << '\n';
        }
        return Exit_Ok;
    }
    std::ostream& Progress() { return FErr; }

private:
    const TCliOptions& FOptions;
    std::ostream& FOut;
    std::ostream& FErr;
};

std::string hex_word(std::uint32_t Value) {
    char Text[16];
    std::snprintf(Text, sizeof Text, "0x%08X", Value);
    return Text;
}

// Waits for Condition in short steps; false when the bound passes or the user interrupts.
template <class F> bool wait_for(F Condition, std::chrono::milliseconds Bound) {
    const auto Deadline = Steady::now() + Bound;
    while (!Condition()) {
        if (Cli_Interrupted || Steady::now() > Deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Starts a worker on the port of the options; Exit_Ok once its port is open.
int connect(const TCliOptions& Options, const TWorkerFactory& Make, TReport& Report,
            std::unique_ptr<Tarm_SER>& Arm) {
    const auto Path = Port_Path(Options.Port, Options.Ports_Dir);
    if (!Path)
        return Report.Fail(Exit_Port, "port",
                           "unknown port \"" + Options.Port +
                               "\" (see 'sw40815-cli ports' for the ports present)");
    Report.Data["port"] = Options.Port;
    Report.Data["path"] = *Path;
    Arm = Make();
    Arm->Com_Port = *Path;
    Arm->Start();
    wait_for([&] { return Arm->InitDone() == 1; }, std::chrono::seconds(10));
    if (Cli_Interrupted) return Report.Fail(Exit_Interrupted, "interrupted", "interrupted");
    if (Arm->res_connessione() == 1) return Exit_Ok;
    const TPortOpenError Why = Describe_Port_Open_Error(*Path, Arm->Open_Error_Code);
    static const char* const Fault_Names[] = {"other", "in-use", "no-device", "not-serial", "access-denied"};
    Report.Data["port_fault"] = Fault_Names[static_cast<int>(Why.Kind)];
    if (Why.Holder.Pid != 0) Report.Data["holder"] = {{"pid", Why.Holder.Pid}, {"name", Why.Holder.Name}};
    // The component's own words, for whoever needs the detail; its message ends in a blank.
    std::string Port_Message = Arm->Open_Error;
    while (!Port_Message.empty() && Port_Message.back() == ' ')
        Port_Message.pop_back();
    Report.Data["port_message"] = Port_Message;
    Report.Data["port_code"] = Arm->Open_Error_Code;
    std::string Message = "cannot open " + Options.Port + " (" + *Path + "): " + Why.Text;
    if (Options.Verbose) Message += "\nthe serial port reported: " + Port_Message;
    return Report.Fail(Exit_Port, "port", Message);
}

int link_lost(TReport& Report) {
    return Report.Fail(Exit_Link_Lost, "link-lost", "the serial device went away (unplugged?)");
}

int busy(TReport& Report) {
    return Report.Fail(Exit_Busy, "busy", "the link is busy with another request; nothing was sent");
}

int pass_gate(const TCliOptions& Options, Tarm_SER& Arm, TReport& Report) {
    const TGate Gate = Protection_Gate(Arm);
    if (Arm.LinkLost()) return link_lost(Report);
    switch (Gate) {
    case TGate::Passed:
        return Exit_Ok;
    case TGate::Busy:
        return busy(Report);
    case TGate::No_Answer:
        return Report.Fail(Exit_Read_Failed, "no-answer",
                           "the converter on " + Options.Port +
                               " gave no valid answer to the protection read");
    case TGate::Refused:
        break;
    }
    return Report.Fail(Exit_Protection, "protection",
                       "the converter's protection word " +
                           hex_word(static_cast<std::uint32_t>(Arm.Protection)) +
                           " does not admit the configurator");
}

// The steps of an update, each with what an interruption or an early end leaves behind.
struct TStep {
    const char* Progress;    // label of the progress display
    const char* Interrupted; // message when the user stops it
};
constexpr TStep Write_Step = {"Writing",
                              "interrupted during the firmware write; the converter holds a partial "
                              "image and needs a new update"};
constexpr TStep Readback_Step = {"Reading back",
                                 "interrupted during the read-back; the firmware had been written "
                                 "in full, but it was not verified"};

// Follows a block transfer to its end, showing its progress.
int follow_transfer(const TCliOptions& Options, Tarm_SER& Arm, TReport& Report, const TStep& Step) {
    const char* What = Step.Progress;
    int Shown = -1;
    std::uint32_t Last_Address = Arm.indice_memoria.load();
    auto Last_Move = Steady::now();
    for (;;) {
        const bool Done = Arm.stato.load(std::memory_order_acquire) == St_Idle;
        const int Position = Done && Arm.TransferFailed() == 0 ? 100 : Transfer_Position(Arm);
        if (Options.Progress_Bar) {
            if (Position != Shown) {
                const int Filled = Position * 30 / 100;
                Report.Progress() << '\r' << What << " ["
                                  << std::string(static_cast<std::size_t>(Filled), '#')
                                  << std::string(static_cast<std::size_t>(30 - Filled), '.') << "] "
                                  << Position << "%" << std::flush;
            }
        } else if (Position / 10 != Shown / 10 || Shown < 0) {
            Report.Progress() << What << ": " << Position << "%\n" << std::flush;
        }
        Shown = Position;
        if (Done) break;
        if (Cli_Interrupted) {
            if (Options.Progress_Bar) Report.Progress() << '\n';
            return Report.Fail(Exit_Interrupted, "interrupted", Step.Interrupted);
        }
        const std::uint32_t Address = Arm.indice_memoria.load();
        if (Address != Last_Address) {
            Last_Address = Address;
            Last_Move = Steady::now();
        } else if (Steady::now() - Last_Move > std::chrono::seconds(Options.Stall_Seconds)) {
            if (Options.Progress_Bar) Report.Progress() << '\n';
            return Report.Fail(Exit_Read_Failed, "no-answer",
                               "the converter stopped answering at address " + hex_word(Address));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (Options.Progress_Bar) Report.Progress() << '\n';
    if (Arm.LinkLost()) return link_lost(Report);
    return Exit_Ok;
}

} // namespace

int Cli_Ports(const TCliOptions& Options, std::ostream& Out) {
    const auto Ports = List_Ports(Options.Ports_Dir);
    if (Options.Json) {
        json List = json::array();
        for (const auto& P : Ports)
            List.push_back({{"name", P.Name}, {"path", P.Path}});
        Out << json{{"command", "ports"}, {"ok", true}, {"ports", List}}.dump() << '\n';
    } else {
        if (Ports.empty()) Out << "No serial ports found.\n";
        for (const auto& P : Ports)
            Out << P.Name << '\t' << P.Path << '\n';
    }
    return Exit_Ok;
}

int Cli_Read(const TCliOptions& Options, const TWorkerFactory& Make, std::ostream& Out, std::ostream& Err) {
    TReport Report(Options, Out, Err, "read");
    std::unique_ptr<Tarm_SER> Arm;
    if (int Code = connect(Options, Make, Report, Arm)) return Code;
    if (int Code = pass_gate(Options, *Arm, Report)) return Code;
    TLineParams P;
    switch (Read_Params(*Arm, P)) {
    case TCmdResult::Done:
        break;
    case TCmdResult::Busy:
        return busy(Report);
    case TCmdResult::Timed_Out:
        if (Arm->LinkLost()) return link_lost(Report);
        return Report.Fail(Exit_Read_Failed, "read", "reading the converter's parameters did not complete");
    case TCmdResult::Refused:
    case TCmdResult::Failed:
        if (Arm->LinkLost()) return link_lost(Report);
        return Report.Fail(Exit_Read_Failed, "read",
                           "reading the converter's parameters failed: no valid answer");
    }
    const std::string Texts[4] = {
        std::string(Serial_Baud_Text(P.Ser_Baud)), std::string(Parity_Text(P.Ser_Par)),
        std::string(MBus_Baud_Text(P.MBus_Baud)), std::string(Parity_Text(P.MBus_Par))};
    Report.Data["serial"] = {{"baud", Texts[0]}, {"parity", Texts[1]}};
    Report.Data["mbus"] = {{"baud", Texts[2]}, {"parity", Texts[3]}};
    Report.Data["bytes"] = {P.Ser_Baud, P.Ser_Par, P.MBus_Baud, P.MBus_Par};
    Report.Line("Serial baud rate:  " + Texts[0]);
    Report.Line("Serial parity:     " + Texts[1]);
    Report.Line("M-Bus baud rate:   " + Texts[2]);
    Report.Line("M-Bus parity:      " + Texts[3]);
    return Report.Done();
}

int Cli_Write(const TCliOptions& Options, const TWorkerFactory& Make, std::ostream& Out, std::ostream& Err) {
    TReport Report(Options, Out, Err, "write");
    const int Baud = Code_Of(MBus_Baud_Texts, Options.MBus_Baud);
    const int Parity = Code_Of(Parity_Texts, Options.MBus_Parity);
    if (Baud < 0 || Parity < 0) return Report.Fail(Exit_Usage, "usage", "unknown M-Bus baud rate or parity");
    std::unique_ptr<Tarm_SER> Arm;
    if (int Code = connect(Options, Make, Report, Arm)) return Code;
    if (int Code = pass_gate(Options, *Arm, Report)) return Code;
    switch (Write_Params(*Arm, static_cast<std::uint8_t>(Baud), static_cast<std::uint8_t>(Parity))) {
    case TCmdResult::Done:
        break;
    case TCmdResult::Busy:
        return busy(Report);
    case TCmdResult::Refused:
        return Report.Fail(Exit_Write_Failed, "write",
                           "the link refused the parameter write; nothing was sent");
    case TCmdResult::Timed_Out:
    case TCmdResult::Failed:
        if (Arm->LinkLost()) return link_lost(Report);
        return Report.Fail(Exit_Write_Failed, "write",
                           "the converter did not acknowledge the parameter write");
    }
    Report.Data["mbus"] = {{"baud", Options.MBus_Baud}, {"parity", Options.MBus_Parity}};
    Report.Line("M-Bus parameters written: " + Options.MBus_Baud + " baud, parity " + Options.MBus_Parity);
    return Report.Done();
}

int Cli_Update(const TCliOptions& Options, const TWorkerFactory& Make, std::ostream& Out, std::ostream& Err) {
    TReport Report(Options, Out, Err, "update");
    Report.Data["image"] = Options.Image;
    std::error_code Error;
    if (!fs::is_regular_file(Options.Image, Error))
        return Report.Fail(Exit_Image, "image", "firmware image \"" + Options.Image + "\" not found");
    const auto Size = fs::file_size(Options.Image, Error);
    if (Error)
        return Report.Fail(Exit_Image, "image", "firmware image \"" + Options.Image + "\" cannot be read");
    if (Size == 0)
        return Report.Fail(Exit_Image, "image", "firmware image \"" + Options.Image + "\" is empty");
    if (Size > Prg_Size)
        return Report.Fail(Exit_Image, "image",
                           "firmware image \"" + Options.Image + "\" is too large: " + std::to_string(Size) +
                               " bytes, the converter holds " + std::to_string(Prg_Size));

    std::unique_ptr<Tarm_SER> Arm;
    if (int Code = connect(Options, Make, Report, Arm)) return Code;
    if (int Code = pass_gate(Options, *Arm, Report)) return Code;

    std::int32_t Dim = 0;
    const std::int32_t Started = Start_Firmware_Write(*Arm, Options.Image, Dim);
    if (Started == Req_Busy) return busy(Report);
    if (Started == Req_Refused)
        return Report.Fail(Exit_Image, "image",
                           "firmware image \"" + Options.Image + "\" is empty or too large");
    if (Started != Req_Accepted)
        return Report.Fail(Exit_Image, "image", "firmware image \"" + Options.Image + "\" cannot be read");
    if (int Code = follow_transfer(Options, *Arm, Report, Write_Step)) return Code;
    if (Arm->TransferFailed())
        return Report.Fail(Exit_Image, "image",
                           "reading the firmware image failed at byte " +
                               std::to_string(Arm->indice_memoria.load() - Arm->indice_memoria_start.load()) +
                               "; nothing more was sent, the converter holds a partial image");
    Report.Data["bytes"] = Dim;
    Report.Data["blocks"] = Arm->nciclo.load();
    Report.Data["repeats"] = Arm->fErrorLastCommand.load() != 0;
    Report.Line("Firmware written: " + std::to_string(Dim) + " bytes in " +
                std::to_string(Arm->nciclo.load()) + " blocks.");
    if (!Options.Verify) return Report.Done();

    const std::string Readback = Readback_File_Name(Options.Image, std::chrono::system_clock::now());
    const std::int32_t Read_Started = Start_Firmware_Readback(*Arm, Readback, Dim);
    if (Read_Started == Req_Busy) return busy(Report);
    if (Read_Started != Req_Accepted)
        return Report.Fail(Exit_Readback_File, "readback-file",
                           "cannot create the read-back file \"" + Readback + "\"");
    int Code = follow_transfer(Options, *Arm, Report, Readback_Step);
    if (Code == Exit_Ok && Arm->TransferFailed())
        Code = Report.Fail(Exit_Readback_File, "readback-file",
                           "cannot write the read-back file \"" + Readback + "\"");
    if (Code) {
        Arm.reset(); // closes the file before it goes
        fs::remove(Readback, Error);
        return Code;
    }
    const bool Same = Confronta_File(Options.Image, Readback);
    Report.Data["verified"] = Same;
    if (!Same)
        return Report.Fail(Exit_Verify_Failed, "verify", "the firmware read back differs from the image");
    Report.Line("Read-back matches the image.");
    return Report.Done();
}
