#pragma once
// Exit status of sw40815-cli. Scripts rely on these numbers: never renumber them.

enum TExitCode : int {
    Exit_Ok = 0,
    Exit_Usage = 2,         // bad arguments
    Exit_Port = 3,          // the port cannot be opened
    Exit_Protection = 4,    // the converter's protection word refuses the configurator
    Exit_Read_Failed = 5,   // the converter did not answer, or answered garbage
    Exit_Write_Failed = 6,  // the converter did not acknowledge the parameter write
    Exit_Image = 7,         // the firmware image is missing, unreadable or too large
    Exit_Verify_Failed = 8, // the read-back differs from the image
    Exit_Link_Lost = 9,     // the device went away during the command
    Exit_Interrupted = 130, // stopped by the user (Ctrl+C)
};
