#pragma once
// Exit status of sw40815-cli. Scripts rely on these numbers: never renumber them.

#include <array>
#include <string_view>

enum TExitCode : int {
    Exit_Ok = 0,
    Exit_Usage = 2,          // bad arguments
    Exit_Port = 3,           // the port cannot be opened
    Exit_Protection = 4,     // the converter's protection word refuses the configurator
    Exit_Read_Failed = 5,    // the converter did not answer, or answered garbage
    Exit_Write_Failed = 6,   // the converter did not acknowledge (or the worker refused) the write
    Exit_Image = 7,          // the firmware image is missing, empty, unreadable or too large
    Exit_Verify_Failed = 8,  // the read-back differs from the image
    Exit_Link_Lost = 9,      // the device went away during the command
    Exit_Busy = 10,          // the link was busy with another request: nothing was sent
    Exit_Readback_File = 11, // the read-back file cannot be created or written
    Exit_Interrupted = 130,  // stopped by the user (Ctrl+C)
};

struct TExitMeaning {
    TExitCode Code;
    std::string_view Text;
};

// The meanings as --help lists them.
inline constexpr std::array<TExitMeaning, 12> Exit_Meanings = {{
    {Exit_Ok, "success"},
    {Exit_Usage, "usage error"},
    {Exit_Port, "port cannot be opened"},
    {Exit_Protection, "protection refused"},
    {Exit_Read_Failed, "read failed or converter not answering"},
    {Exit_Write_Failed, "write not acknowledged or refused"},
    {Exit_Image, "image missing, empty, unreadable or too large"},
    {Exit_Verify_Failed, "verification failed"},
    {Exit_Link_Lost, "link lost"},
    {Exit_Busy, "link busy with another request"},
    {Exit_Readback_File, "read-back file cannot be written"},
    {Exit_Interrupted, "interrupted"},
}};
