// Port numbering against a made-up sysfs tree and PORTS folder.

#include "port_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class PortList : public ::testing::Test {
protected:
    void SetUp() override {
        Root = fs::temp_directory_path() / ("sw_ports_" + std::to_string(::getpid()));
        fs::remove_all(Root);
        Sys = Root / "sys";
        Ports = Root / "PORTS";
        fs::create_directories(Sys);
        fs::create_directories(Ports);
        fs::create_directories(Root / "devices");
    }
    void TearDown() override { fs::remove_all(Root); }

    // A tty entry; Backed gives it a device link, Type a serial-core type attribute.
    void Tty(const std::string& Name, bool Backed, const char* Type = nullptr) {
        fs::create_directories(Sys / Name);
        if (Backed) fs::create_directory_symlink(Root / "devices", Sys / Name / "device");
        if (Type) std::ofstream(Sys / Name / "type") << Type << "\n";
    }
    void Pin(const std::string& Name, const fs::path& Target) { fs::create_symlink(Target, Ports / Name); }

    std::vector<std::string> Listed() {
        std::vector<std::string> Lines;
        for (const TPortEntry& Entry : List_Ports(Ports.string(), Sys.string()))
            Lines.push_back(Entry.Name + "=" + Entry.Path + "#" + std::to_string(Entry.Number));
        return Lines;
    }

    fs::path Root, Sys, Ports;
};

} // namespace

TEST_F(PortList, MachineDevicesTakeTheNumbersThatNoPinnedEntryHolds) {
    Tty("tty0", false);
    Tty("ptmx", false);
    Tty("ttyS0", true, "4");
    Tty("ttyS1", true, "0"); // configured UART that is not there
    Tty("ttyUSB10", true);
    Tty("ttyUSB2", true);
    Tty("ttyACM0", true);
    Tty("tty", true);

    const fs::path Present = Root / "sim-pty";
    std::ofstream(Present) << "";
    Pin("COM1", "/dev/no-such-pts/7"); // adapter unplugged: holds its number, not listed
    Pin("COM3", Present);
    Pin("COM5", "/dev/tty"); // pinned machine device: no second number
    Pin("COM0", Present);
    Pin("COM03", Present);
    Pin("COMX", Present);
    std::ofstream(Ports / "README") << "";

    const std::vector<std::string> Expected = {"COM2=/dev/ttyACM0#2", "COM3=" + Present.string() + "#3",
                                               "COM4=/dev/ttyS0#4",   "COM5=/dev/tty#5",
                                               "COM6=/dev/ttyUSB2#6", "COM7=/dev/ttyUSB10#7"};
    EXPECT_EQ(Listed(), Expected);
}

TEST_F(PortList, PortPathResolvesNamesAndPassesPaths) {
    Tty("ttyUSB0", true);
    Pin("COM1", "../devices/missing"); // relative link, device absent
    struct TCase {
        std::string Port;
        std::optional<std::string> Path;
    };
    const TCase Cases[] = {
        {"COM1", (Root / "devices" / "missing").string()},
        {"com2", "/dev/ttyUSB0"},
        {"/dev/ttyS7", "/dev/ttyS7"},
        {"COM3", std::nullopt},
        {"ttyUSB0", std::nullopt},
        {"", std::nullopt},
    };
    for (const TCase& Case : Cases)
        EXPECT_EQ(Port_Path(Case.Port, Ports.string(), Sys.string()), Case.Path) << Case.Port;
}

TEST_F(PortList, MissingFoldersListNothing) {
    EXPECT_TRUE(List_Ports((Root / "none").string(), (Root / "none").string()).empty());
}
