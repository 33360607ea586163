// TComm on pseudo-terminals: the test holds the master, the port opens the slave.

#include "comm_int.h"
#include "comm_raised.h"
#include "kernel_speed.h"
#include "pty_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

void expect_error(const ECommError& Error, const std::string& Message, int Code) {
    EXPECT_EQ(Error.what(), Message);
    EXPECT_EQ(Error.ErrorCode, Code);
}

int fd_of(TComm& Comm) {
    return static_cast<int>(Comm.Handle());
}

termios settings_of(TComm& Comm) {
    termios Tio{};
    EXPECT_EQ(::tcgetattr(fd_of(Comm), &Tio), 0);
    return Tio;
}

// The port as the link worker sets it up: 115200 8N1, no flow control.
class OpenPort : public ::testing::Test {
protected:
    void SetUp() override {
        Comm.SetDeviceName(Pty.Path());
        Comm.SetBaudRate(br115200);
        Comm.SetFlowControl(fcNone);
        Comm.Open();
    }
    TPty Pty;
    TComm Comm;
};

} // namespace

TEST(ClosedPort, CountsArePositiveOnlyWhenOpenAndPurgesRaiseNothing) {
    TComm Comm;
    EXPECT_FALSE(Comm.Enabled());
    EXPECT_EQ(Comm.InQueCount(), -1);
    EXPECT_EQ(Comm.OutQueCount(), -1);
    EXPECT_NO_THROW(Comm.PurgeIn());
    EXPECT_NO_THROW(Comm.PurgeOut());
    EXPECT_FALSE(Comm.WaitForInput(60'000));
    EXPECT_NO_THROW(Comm.Close());
}

TEST(ClosedPort, LineFunctionsRefuseWithCodeMinusOne) {
    TComm Comm;
    const std::vector<std::function<void(bool)>> Line_Functions = {
        [&](bool S) { Comm.SetDTRState(S); }, [&](bool S) { Comm.SetRTSState(S); },
        [&](bool S) { Comm.SetBREAKState(S); }, [&](bool S) { Comm.SetXONState(S); }};
    for (const auto& Line_Function : Line_Functions)
        for (bool State : {true, false})
            expect_error(Raised_By([&] { Line_Function(State); }),
                         "Port not open, unable to complete operation (Error: -1) ", -1);
}

TEST(OpenFailure, LeavesThePortClosedWithoutALeakedDescriptor) {
    const std::filesystem::path Regular = std::filesystem::temp_directory_path() / "sw_serial_not_a_tty";
    std::ofstream(Regular) << "x";
    struct TCase {
        std::string Path;
        std::string Message;
        int Code;
    };
    const TCase Cases[] = {
        {"/dev/no-such-serial-device", "Error accessing specified device (Error: 2) ", ENOENT},
        {Regular.string(), "Invalid device handle, access denied (Error: -1) ", -1},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Path);
        TComm Comm;
        Comm.SetDeviceName(Case.Path);
        const int Before = Open_Descriptors();
        ECommError Error = Raised_By([&] { Comm.Open(); });
        expect_error(Error, Case.Message, Case.Code);
        EXPECT_FALSE(Is_Permission_Error(Error));
        EXPECT_FALSE(Comm.Enabled());
        EXPECT_EQ(Comm.InQueCount(), -1);
        EXPECT_EQ(Open_Descriptors(), Before);
    }
    std::filesystem::remove(Regular);
    EXPECT_TRUE(Is_Permission_Error(ECommError("Error accessing specified device", EACCES)));
}

TEST(Exclusive, ASecondPortCannotOpenTheDeviceUntilTheFirstCloses) {
    TPty Pty;
    TComm First, Second;
    First.SetDeviceName(Pty.Path());
    Second.SetDeviceName(Pty.Path());
    First.Open();
    expect_error(Raised_By([&] { Second.Open(); }), "Error accessing specified device (Error: 16) ", EBUSY);
    EXPECT_FALSE(Second.Enabled());
    EXPECT_TRUE(First.Enabled());
    First.Close();
    EXPECT_NO_THROW(Second.Open());
    EXPECT_TRUE(Second.Enabled());
}

TEST_F(OpenPort, OpenAgainIsRefusedAndThePortStaysUsable) {
    expect_error(Raised_By([&] { Comm.Open(); }), "Port already assigned (open) (Error: -1) ", -1);
    EXPECT_TRUE(Comm.Enabled());
    Pty.Send("ok");
    EXPECT_TRUE(Eventually([&] { return Comm.InQueCount() == 2; }));
}

TEST_F(OpenPort, ReadTakesOnlyWhatHasArrived) {
    char Buf[64];
    EXPECT_EQ(Comm.Read(Buf, sizeof Buf), 0);
    EXPECT_EQ(Comm.InQueCount(), 0);

    Pty.Send("12345");
    EXPECT_TRUE(Comm.WaitForInput(60'000));
    EXPECT_TRUE(Eventually([&] { return Comm.InQueCount() == 5; }));
    ASSERT_EQ(Comm.Read(Buf, sizeof Buf), 5);
    EXPECT_EQ(std::string(Buf, 5), "12345");
    EXPECT_EQ(Comm.InQueCount(), 0);
    EXPECT_EQ(Comm.Read(Buf, sizeof Buf), 0);
}

TEST_F(OpenPort, PurgeInDropsWhatHasArrived) {
    Pty.Send("abc");
    ASSERT_TRUE(Eventually([&] { return Comm.InQueCount() == 3; }));
    Comm.PurgeIn();
    EXPECT_EQ(Comm.InQueCount(), 0);
    char Buf[8];
    EXPECT_EQ(Comm.Read(Buf, sizeof Buf), 0);
}

TEST(RawMode, BytesPassUnchangedWithoutEchoAndCloseRestoresTheTerminal) {
    TPty Pty;
    TComm Comm;
    Comm.SetDeviceName(Pty.Path());
    const int Before = Open_Descriptors();
    Comm.Open();

    const std::string In("A\rB\n\x03\x11\x13\x7f", 8);
    Pty.Send(In);
    ASSERT_TRUE(Eventually([&] { return Comm.InQueCount() == static_cast<int>(In.size()); }));
    char Buf[16];
    ASSERT_EQ(Comm.Read(Buf, sizeof Buf), static_cast<int>(In.size()));
    EXPECT_EQ(std::string(Buf, In.size()), In);

    const std::string Out = "X\rY\n";
    ASSERT_EQ(Comm.Write(Out.data(), static_cast<int>(Out.size())), static_cast<int>(Out.size()));
    // An echo of the bytes received above would arrive before these.
    EXPECT_EQ(Pty.Receive(Out.size()), Out);

    Comm.Close();
    EXPECT_FALSE(Comm.Enabled());
    EXPECT_EQ(Open_Descriptors(), Before); // the device's and the monitor's

    // Back as a fresh pseudo-terminal has it: canonical mode with echo and CR translation.
    const int Plain = ::open(Pty.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(Plain, 0);
    termios Found{};
    EXPECT_EQ(::tcgetattr(Plain, &Found), 0);
    ::close(Plain);
    EXPECT_TRUE(Found.c_lflag & ECHO);
    EXPECT_TRUE(Found.c_lflag & ICANON);
    EXPECT_TRUE(Found.c_iflag & ICRNL);
}

TEST_F(OpenPort, SettingsThatOnlyOpenMayChangeAreRefusedWhileOpen) {
    struct TCase {
        const char* Name;
        std::function<void()> Write_New, Write_Same;
        std::function<bool()> Kept;
    };
    const std::string Path = Pty.Path();
    const TCase Cases[] = {
        {"DeviceName", [&] { Comm.SetDeviceName("/dev/ttyS0"); }, [&] { Comm.SetDeviceName(Path); },
         [&] { return Comm.DeviceName() == Path; }},
        {"MonitorEvents", [&] { Comm.SetMonitorEvents(TCommEventTypes{evRxChar}); },
         [&] { Comm.SetMonitorEvents(Comm.MonitorEvents()); },
         [&] { return Comm.MonitorEvents().Bits() == 0x1FF; }},
        {"ReadBufSize", [&] { Comm.SetReadBufSize(8192); }, [&] { Comm.SetReadBufSize(4096); },
         [&] { return Comm.ReadBufSize() == 4096; }},
        {"WriteBufSize", [&] { Comm.SetWriteBufSize(4096); }, [&] { Comm.SetWriteBufSize(2048); },
         [&] { return Comm.WriteBufSize() == 2048; }},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        expect_error(Raised_By(Case.Write_New), "Port already assigned (open) (Error: -1) ", -1);
        EXPECT_TRUE(Case.Kept());
        EXPECT_NO_THROW(Case.Write_Same());
    }
    EXPECT_TRUE(Comm.Enabled());
}

class BaudRate : public ::testing::TestWithParam<int> {};

TEST_P(BaudRate, IsStoredWhileClosedAndAppliedAtOpenAndAtOnceWhileOpen) {
    const auto Rate = static_cast<TBaudrate>(GetParam());
    const auto Next = static_cast<TBaudrate>((GetParam() + 1) % std::size(Baudrate_Value));
    TPty Pty;
    TComm Comm;
    Comm.SetDeviceName(Pty.Path());
    Comm.SetBaudRate(Rate);
    EXPECT_EQ(Comm.BaudRate(), Rate);
    Comm.Open();

    std::uint32_t Bps = 0;
    bool Custom = false;
    ASSERT_TRUE(Kernel_Speed(fd_of(Comm), Bps, Custom));
    EXPECT_EQ(Bps, Baudrate_Value[Rate]);

    Comm.SetBaudRate(Next);
    ASSERT_TRUE(Kernel_Speed(fd_of(Comm), Bps, Custom));
    EXPECT_EQ(Bps, Baudrate_Value[Next]);
}

INSTANTIATE_TEST_SUITE_P(AllSeventeen, BaudRate,
                         ::testing::Range(0, static_cast<int>(std::size(Baudrate_Value))),
                         [](const auto& Info) { return std::to_string(Baudrate_Value[Info.param]); });

TEST_F(OpenPort, WritingTheSameRateLeavesTheDriverAlone) {
    termios Tio = settings_of(Comm);
    ::cfsetspeed(&Tio, B1200);
    ASSERT_EQ(::tcsetattr(fd_of(Comm), TCSANOW, &Tio), 0);
    Comm.SetBaudRate(br115200);
    const termios After = settings_of(Comm);
    EXPECT_EQ(::cfgetospeed(&After), B1200);
}

TEST(LineSettings, FlowControlAndOptionsReachTheDriver) {
    struct TCase {
        const char* Name;
        TFlowControl Flow;
        TCommOptions Options;
        tcflag_t Iflag_Set, Cflag_Set;
    };
    const TCase Cases[] = {
        {"none", fcNone, {}, 0, 0},
        {"none with parity check", fcNone, {coParityCheck}, INPCK, 0},
        {"CTS", fcCTS, {}, 0, CRTSCTS},
        {"software", fcSoftware, {}, IXON | IXOFF, 0},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TPty Pty;
        TComm Comm;
        Comm.SetDeviceName(Pty.Path());
        Comm.SetFlowControl(Case.Flow);
        Comm.SetOptions(Case.Options);
        Comm.Open();
        termios Tio = settings_of(Comm);
        EXPECT_EQ(Tio.c_iflag & (IXON | IXOFF | INPCK), Case.Iflag_Set);
        EXPECT_EQ(Tio.c_cflag & CRTSCTS, Case.Cflag_Set);
    }
}

TEST_F(OpenPort, EventCharactersApplyAtOnce) {
    Comm.EventChars().SetXonChar('Q');
    Comm.EventChars().SetXoffChar('S');
    EXPECT_EQ(settings_of(Comm).c_cc[VSTART], 'Q');
    EXPECT_EQ(settings_of(Comm).c_cc[VSTOP], 'S');
}

TEST(LineSettings, WhatTheKernelCannotDoIsRefusedAndThePortStaysOpen) {
    struct TCase {
        const char* Name;
        std::function<void(TComm&)> Set;
    };
    const TCase Cases[] = {
        {"4 data bits", [](TComm& C) { C.SetDatabits(da4); }},
        {"1.5 stop bits with 8 data bits", [](TComm& C) { C.SetStopbits(sb15); }},
        {"DTR/DSR handshake", [](TComm& C) { C.SetFlowControl(fcDTR); }},
        {"DSR sensitivity", [](TComm& C) { C.SetOptions({coDsrSensitivity}); }},
        {"null stripping", [](TComm& C) { C.SetOptions({coNullStrip}); }},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TPty Pty;
        TComm Comm;
        Comm.SetDeviceName(Pty.Path());
        Case.Set(Comm);
        expect_error(Raised_By([&] { Comm.Open(); }), "Error updating DataControlBlock (Error: 22) ", EINVAL);
        EXPECT_TRUE(Comm.Enabled());
    }
}

TEST_F(OpenPort, LineFunctionsWorkOnAPortWithoutModemLines) {
    EXPECT_NO_THROW(Comm.SetDTRState(true));
    EXPECT_NO_THROW(Comm.SetRTSState(true));
    EXPECT_NO_THROW(Comm.SetDTRState(false));
    EXPECT_NO_THROW(Comm.SetXONState(false));
    EXPECT_NO_THROW(Comm.SetXONState(true));
    Pty.Send("xyz");
    ASSERT_TRUE(Eventually([&] { return Comm.InQueCount() == 3; }));
    EXPECT_NO_THROW(Comm.SetBREAKState(true));
    EXPECT_NO_THROW(Comm.SetBREAKState(false));
    EXPECT_EQ(Comm.InQueCount(), 0); // a break change purges
}

TEST_F(OpenPort, AWriteTheFarEndDoesNotTakeEndsAfterWriteTimeout) {
    Comm.SetWriteTimeout(50);
    const std::vector<char> Big(1 << 20, 'w');
    EXPECT_EQ(Comm.Write(Big.data(), static_cast<int>(Big.size())), -1);
}

TEST_F(OpenPort, PurgeOutEndsAWriteThatWaitsForRoom) {
    Comm.SetWriteTimeout(-1);
    const std::vector<char> Big(16 << 20, 'w');
    std::atomic<bool> Done{false};
    std::thread Purger([&] {
        while (!Done.load()) {
            Comm.PurgeOut();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    // Without the abort the write would only finish after the purges had made room for all of it.
    const int Written = Comm.Write(Big.data(), static_cast<int>(Big.size()));
    Done = true;
    Purger.join();
    EXPECT_GE(Written, 0);
    EXPECT_LT(Written, static_cast<int>(Big.size()));
}

TEST_F(OpenPort, ADeviceThatWentAwayFailsInsteadOfHanging) {
    Pty.Send("lost");
    Pty.Hang_Up();
    EXPECT_TRUE(Eventually([&] { return Comm.InQueCount() < 0; }));
    auto Wait = std::async(std::launch::async, [&] { return Comm.WaitForInput(60'000); });
    ASSERT_EQ(Wait.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(Wait.get());
    char Buf[8];
    expect_error(Raised_By([&] { Comm.Read(Buf, sizeof Buf); }), "Read error (Error: 5) ", EIO);
    expect_error(Raised_By([&] { Comm.Write("x", 1); }), "Write error (Error: 5) ", EIO);
    Comm.Close();
    EXPECT_FALSE(Comm.Enabled());
}
