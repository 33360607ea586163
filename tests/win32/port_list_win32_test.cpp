// Port names on Windows: COMn is the device \\.\COMn, listed while it answers.

#include "comm_int.h"
#include "port_list.h"
#include "sim_converter.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(PortListWin32, PathOfEachName) {
    const struct {
        const char* Port;
        std::optional<std::string> Path;
    } Cases[] = {
        {"COM9", "\\\\.\\COM9"},  {"com12", "\\\\.\\COM12"},      {"COM256", "\\\\.\\COM256"},
        {"COM257", std::nullopt}, {"COM0", std::nullopt},         {"LPT1", std::nullopt},
        {"", std::nullopt},       {"\\\\.\\COM3", "\\\\.\\COM3"}, {"C:/ports/x", "C:/ports/x"},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(Port_Path(Case.Port, "unused"), Case.Path) << Case.Port;
}

bool listed(const std::string& Name, const std::string& Path) {
    const auto Ports = List_Ports("unused");
    return std::any_of(Ports.begin(), Ports.end(),
                       [&](const TPortEntry& P) { return P.Name == Name && P.Path == Path; });
}

// Held or not, the port is there. (Whether a number is missing depends on the machine: Wine
// answers for a COM port without a device of its own with the machine's serial device.)
TEST(PortListWin32, ListsThePortAlsoWhileItIsHeld) {
    TSimConverter Sim;
    Sim.Start();
    EXPECT_TRUE(listed("COM9", "\\\\.\\COM9"));
    TComm Holder;
    Holder.SetDeviceName(Sim.Slave_Path());
    Holder.Open();
    EXPECT_TRUE(listed("COM9", "\\\\.\\COM9"));
    Holder.Close();
    Sim.Stop();
}

} // namespace
