// The line-event monitor of the Windows serial port on the simulated converter's COM port. Under
// Wine a pseudo-terminal without modem lines refuses the line-event wait (error 50 for a mask
// with a modem line, 995 a few milliseconds after the wait began for the others), so there the
// monitor polls the driver; with modem lines preloaded (monitor_lines_tests) it waits in the
// driver. Both must report the same.

#include "comm_int.h"
#include "frames.h"
#include "memory_map.h"
#include "sim_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

namespace {

const struct {
    const char* Name;
    TCommEventTypes Events;
} Masks[] = {
    {"all nine events", {evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty}},
    {"arrivals and emptied output only", {evRxChar, evTxEmpty}},
};

class Monitor : public ::testing::Test {
protected:
    void SetUp() override {
        Sim.Start();
        Comm.SetDeviceName(Sim.Slave_Path());
        Comm.SetBaudRate(br115200);
        Comm.SetFlowControl(fcNone);
        // No dispatcher: the events run on the monitor's own thread.
        Comm.SetOnRxChar([this](TCustomComm*, std::int32_t Count) {
            std::lock_guard<std::mutex> Guard(Lock);
            Rx_Counts.push_back(Count);
            Changed.notify_all();
        });
        Comm.SetOnTxEmpty([this](TCustomComm*) {
            std::lock_guard<std::mutex> Guard(Lock);
            ++Tx_Empty;
            Changed.notify_all();
        });
    }
    void TearDown() override {
        Comm.Close();
        Sim.Stop();
    }
    template <class F> bool Wait_Until(F Condition) {
        std::unique_lock<std::mutex> Guard(Lock);
        return Changed.wait_for(Guard, 60s, Condition);
    }
    void Send_Read_Request() {
        char Request[Read_Request_Len];
        const std::size_t N = Build_Read_Request(Request, 0, Addr_Data, Req_Read, Block_Size);
        ASSERT_EQ(Comm.Write(Request, static_cast<std::int32_t>(N)), static_cast<std::int32_t>(N));
    }
    void Forget_Events() {
        std::lock_guard<std::mutex> Guard(Lock);
        Rx_Counts.clear();
        Tx_Empty = 0;
    }

    TSimConverter Sim;
    TComm Comm;
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::int32_t> Rx_Counts;
    int Tx_Empty = 0;
};

TEST_F(Monitor, ArrivalsAndEmptiedOutputAreReportedWithoutTakingTheBytes) {
    for (const auto& M : Masks) {
        SCOPED_TRACE(M.Name);
        Forget_Events();
        Comm.SetMonitorEvents(M.Events);
        Comm.Open();
        Send_Read_Request();
        EXPECT_TRUE(Wait_Until([&] { return Tx_Empty >= 1; }));
        // The last arrival is reported with the whole answer waiting.
        const auto Whole = static_cast<std::int32_t>(Read_Answer_Len);
        EXPECT_TRUE(Wait_Until([&] { return !Rx_Counts.empty() && Rx_Counts.back() == Whole; }));
        EXPECT_EQ(Comm.InQueCount(), Whole);
        {
            std::lock_guard<std::mutex> Guard(Lock);
            EXPECT_TRUE(std::is_sorted(Rx_Counts.begin(), Rx_Counts.end()));
            EXPECT_GT(Rx_Counts.front(), 0);
        }
        Comm.Close();
    }
}

// An answer that arrives after the previous one was read or purged away is reported again, however
// long it is: a polling monitor must not take a queue that only regained its old length for quiet.
TEST_F(Monitor, AnArrivalAfterTheQueueWasEmptiedIsReported) {
    const auto Whole = static_cast<std::int32_t>(Read_Answer_Len);
    const struct {
        const char* Name;
        bool Purge;
    } Drains[] = {{"read", false}, {"purged", true}};
    Comm.Open();
    for (const auto& D : Drains) {
        SCOPED_TRACE(D.Name);
        for (int Round = 0; Round < 3; ++Round) {
            Forget_Events();
            Send_Read_Request();
            ASSERT_TRUE(Wait_Until([&] { return !Rx_Counts.empty() && Rx_Counts.back() == Whole; }));
            if (D.Purge) {
                Comm.PurgeIn();
            } else {
                char Answer[Read_Answer_Len];
                ASSERT_EQ(Comm.Read(Answer, Whole), Whole);
            }
            ASSERT_EQ(Comm.InQueCount(), 0);
        }
    }
}

// A monitor waiting in the driver is ended by Close, with traffic under way or none.
TEST_F(Monitor, CloseEndsTheMonitorWhateverItIsWaitingFor) {
    for (const auto& M : Masks) {
        SCOPED_TRACE(M.Name);
        Comm.SetMonitorEvents(M.Events);
        for (int Round = 0; Round < 6; ++Round) {
            Forget_Events();
            Comm.Open();
            if (Round % 2 == 0) {
                Send_Read_Request();
                EXPECT_TRUE(Wait_Until([&] { return !Rx_Counts.empty(); }));
            }
            Comm.Close();
            EXPECT_FALSE(Comm.Enabled());
        }
    }
}

} // namespace
