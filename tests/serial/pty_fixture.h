#pragma once
// A pseudo-terminal whose slave the port under test opens; the test holds the master as the far
// end of the line.

#include "eventually.h"

#include <cstddef>
#include <string>
#include <string_view>

class TPty {
public:
    TPty();
    ~TPty();
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    const std::string& Path() const { return FPath; }
    int Master() const { return FMaster; }
    void Send(std::string_view Bytes);
    // Up to Count bytes, waiting at most 10 s for them.
    std::string Receive(std::size_t Count);
    // Closes the far end: the slave is hung up.
    void Hang_Up();

private:
    int FMaster = -1;
    std::string FPath;
};

// Descriptors open in this process, to catch a leaked one.
int Open_Descriptors();
