#pragma once
// The converter commands that the window and the command-line tool both run on a link worker:
// the answer wait, the protection gate, the parameter block with its code tables, and the
// steps of a firmware update.

#include "arm_usb.h"
#include "link_clock.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

// Runs between the polls of a wait; the window lets its pending events run here.
using TProcessEvents = std::function<void()>;

// ---- code tables of the parameter block ----

// Display texts of the codes; a code past the end of a table reads "Error".
inline constexpr std::array<std::string_view, 10> Serial_Baud_Texts = {
    "300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
inline constexpr std::array<std::string_view, 8> MBus_Baud_Texts = {"300",  "600",  "1200",  "2400",
                                                                    "4800", "9600", "19200", "38400"};
inline constexpr std::array<std::string_view, 3> Parity_Texts = {"NONE", "EVEN", "ODD"};
inline constexpr std::string_view Code_Error_Text = "Error";

std::string_view Serial_Baud_Text(std::uint8_t Code);
std::string_view MBus_Baud_Text(std::uint8_t Code);
std::string_view Parity_Text(std::uint8_t Code);
// The code of a display text in a table, or -1 when the table does not hold it.
template <std::size_t N> int Code_Of(const std::array<std::string_view, N>& Table, std::string_view Text) {
    for (std::size_t i = 0; i < N; ++i)
        if (Table[i] == Text) return static_cast<int>(i);
    return -1;
}

// The serial side is fixed: 115200 baud, no parity.
inline constexpr std::uint8_t Serial_Baud_Fixed = 9;
inline constexpr std::uint8_t Serial_Parity_Fixed = 0;

struct TLineParams {
    std::uint8_t Ser_Baud = 0;
    std::uint8_t Ser_Par = 0;
    std::uint8_t MBus_Baud = 0;
    std::uint8_t MBus_Par = 0;
};

// ---- waits and the protection gate ----

// Waits for a single-item request to complete: up to 200 polls of 10 ms, running Events between
// them. True when the worker raised fReceiveAnswer.
bool Answer_Wait(Tarm_SER& Arm, const TProcessEvents& Events = {}, TLinkClock& Clock = System_Clock());

enum class TGate {
    Passed,    // protection word 0 or Protection_Code
    Refused,   // any other protection word
    Busy,      // the worker is serving another request: the command does not run
    No_Answer, // no valid answer (none, garbled, or the wait ran out): the word was not judged
};

// Reads the protection word and judges it. A word is judged only from a good answer: a garbled
// answer is no refusal, and a silent converter is no pass. Whether a command goes on without a
// judged word is the caller's choice.
TGate Protection_Gate(Tarm_SER& Arm, const TProcessEvents& Events = {}, TLinkClock& Clock = System_Clock());

// How a single-item command ended.
enum class TCmdResult {
    Done,      // the converter answered or acknowledged
    Busy,      // the worker is serving another request: nothing was sent
    Refused,   // the worker refused the request's arguments: nothing was sent
    Timed_Out, // the request did not complete within its wait; the worker still serves it
    Failed,    // no valid answer, or no acknowledgement
};

// Reads the parameter block into Params; Params is left alone unless the result is Done.
TCmdResult Read_Params(Tarm_SER& Arm, TLineParams& Params, const TProcessEvents& Events = {},
                       TLinkClock& Clock = System_Clock());

// Writes the parameter block, the fixed serial side and the given M-Bus codes, and waits (running
// Events) until the converter has acknowledged it or the acknowledgement time-out has passed.
TCmdResult Write_Params(Tarm_SER& Arm, std::uint8_t MBus_Baud, std::uint8_t MBus_Par,
                        const TProcessEvents& Events = {}, TLinkClock& Clock = System_Clock());

// ---- firmware update ----

inline constexpr std::string_view Firmware_Image_Name = "Sim40815.sim";
inline constexpr std::string_view Readback_Extension = ".b79";

// Path of the image in the MASTER folder.
std::string Firmware_Image_Path(const std::string& Path_Master);

// The read-back file beside the image: its name without extension, then year, month, day,
// hour, minute, second and millisecond without leading zeros, then ".b79".
std::string Readback_File_Name(const std::string& Image_Path, std::chrono::system_clock::time_point When);
// The same from a local time already broken down, and its millisecond.
std::string Readback_File_Name(const std::string& Image_Path, const std::tm& Local, int Millis);

// Progress of the running block transfer in percent, 0 to 100.
int Transfer_Position(const Tarm_SER& Arm);

// Starts writing the image; Dim receives its size. Returns the worker's result: -3 for an
// empty image or one larger than the program region, -2 when it cannot be opened. Once the
// worker is idle again, Arm.TransferFailed() tells a transfer that ended early.
std::int32_t Start_Firmware_Write(Tarm_SER& Arm, const std::string& Image_Path, std::int32_t& Dim);

// Starts reading back as much of the program region as the image covers (the whole region for
// an empty image) into Readback_Path. Returns the worker's result.
std::int32_t Start_Firmware_Readback(Tarm_SER& Arm, const std::string& Readback_Path, std::int32_t Dim);

// True when every byte of Firm_File stands at the same place in FWrite, which is deleted in
// every case.
bool Confronta_File(const std::string& Firm_File, const std::string& FWrite);
