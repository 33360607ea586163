// The line-event monitor of TComm on pseudo-terminals. A pseudo-terminal has no modem lines and
// no error counters, so the counters come from a port whose driver reading is replaced.

#include "comm_int.h"
#include "pty_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// The test thread plays the interface thread: posted calls wait until the test runs them.
class TCall_Queue {
public:
    TCommDispatcher Dispatcher() {
        return [this](std::function<void()> Call) {
            std::lock_guard<std::mutex> Lock(FLock);
            FCalls.push_back(std::move(Call));
            FPosted.notify_all();
        };
    }
    // True once a call is waiting; waits up to 10 s.
    bool Wait_Posted() {
        std::unique_lock<std::mutex> Lock(FLock);
        return FPosted.wait_for(Lock, std::chrono::seconds(10), [&] { return !FCalls.empty(); });
    }
    // Runs the calls posted so far, here.
    void Run_Posted() {
        std::deque<std::function<void()>> Calls;
        {
            std::lock_guard<std::mutex> Lock(FLock);
            Calls.swap(FCalls);
        }
        for (auto& Call : Calls)
            Call();
    }
    // Waits for a call and runs it, with whatever was posted with it.
    bool Run_Next() {
        if (!Wait_Posted()) return false;
        Run_Posted();
        return true;
    }

private:
    std::mutex FLock;
    std::condition_variable FPosted;
    std::deque<std::function<void()>> FCalls;
};

// A port whose driver keeps counters that the test moves.
class TCounted_Comm : public TComm {
public:
    TCounted_Comm() {
        SetLineCounterReader([Fake = FFake](TLine_Counters& Counters) {
            std::lock_guard<std::mutex> Lock(Fake->Lock);
            Counters = Fake->Now;
            return true;
        });
    }
    void Bump(std::uint32_t TLine_Counters::*Counter) {
        std::lock_guard<std::mutex> Lock(FFake->Lock);
        ++(FFake->Now.*Counter);
    }

private:
    struct TFake {
        std::mutex Lock;
        TLine_Counters Now;
    };
    // Shared with the reader, which the port keeps until it has closed.
    std::shared_ptr<TFake> FFake = std::make_shared<TFake>();
};

// What the nine events were called with, in order.
class TRecorder {
public:
    void Attach(TCustomComm& Comm) {
        Comm.SetOnBreak([this](TCustomComm*) { Add("Break"); });
        Comm.SetOnCts([this](TCustomComm*) { Add("Cts"); });
        Comm.SetOnDsr([this](TCustomComm*) { Add("Dsr"); });
        Comm.SetOnError(
            [this](TCustomComm*, std::int32_t Errors) { Add("Error " + std::to_string(Errors)); });
        Comm.SetOnRing([this](TCustomComm*) { Add("Ring"); });
        Comm.SetOnRlsd([this](TCustomComm*) { Add("Rlsd"); });
        Comm.SetOnRxChar(
            [this](TCustomComm*, std::int32_t Count) { Add("RxChar " + std::to_string(Count)); });
        Comm.SetOnRxFlag([this](TCustomComm*) { Add("RxFlag"); });
        Comm.SetOnTxEmpty([this](TCustomComm*) { Add("TxEmpty"); });
    }
    void Add(const std::string& Call) {
        std::lock_guard<std::mutex> Lock(FLock);
        FCalls.push_back(Call);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> Lock(FLock);
        return FCalls;
    }

private:
    std::mutex FLock;
    std::vector<std::string> FCalls;
};

// Threads of port monitors in this process.
int monitors_running() {
    int Count = 0;
    for (const auto& Task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string Name;
        std::getline(std::ifstream(Task.path() / "comm"), Name);
        if (Name == Monitor_Thread_Name) ++Count;
    }
    return Count;
}

std::uint32_t errors_now(TCustomComm& Comm) {
    std::uint32_t Errors = 0;
    TComStat Stat;
    EXPECT_TRUE(Comm.ClearCommError(Errors, Stat));
    return Errors;
}

using TCounter = std::uint32_t TLine_Counters::*;

// An open port whose events the test thread dispatches.
class Monitor : public ::testing::Test {
protected:
    void SetUp() override {
        Comm.SetDeviceName(Pty.Path());
        Comm.SetBaudRate(br115200);
        Comm.SetFlowControl(fcNone);
        Comm.SetDispatcher(Queue.Dispatcher());
    }
    TPty Pty;
    TCall_Queue Queue; // outlives the port, whose monitor posts into it
    TRecorder Recorder;
    TCounted_Comm Comm;
};

} // namespace

TEST_F(Monitor, OneStatusCallsTheAssignedEventsInTheirOrderWithTheFlagsOfTheSameDispatch) {
    const TCommEventTypes All{evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty};
    struct TCase {
        const char* Name;
        TCommEventTypes Events;
        std::vector<TCounter> Bumps;
        std::vector<std::string> Calls;
    };
    const TCase Cases[] = {
        {"bytes only", All, {}, {"RxChar 1"}},
        {"break with a framing error",
         All,
         {&TLine_Counters::Break, &TLine_Counters::Frame},
         {"Break", "Error 24", "RxChar 1"}},
        {"overrun", All, {&TLine_Counters::Overrun}, {"Error 2", "RxChar 1"}},
        {"parity", All, {&TLine_Counters::Parity}, {"Error 4", "RxChar 1"}},
        {"full receive queue: a flag, not an event", All, {&TLine_Counters::Buf_Overrun}, {"RxChar 1"}},
        {"every line and error",
         All,
         {&TLine_Counters::Rlsd, &TLine_Counters::Ring, &TLine_Counters::Parity, &TLine_Counters::Dsr,
          &TLine_Counters::Cts, &TLine_Counters::Break, &TLine_Counters::Buf_Overrun,
          &TLine_Counters::Overrun},
         {"Break", "Cts", "Dsr", "Error 23", "Ring", "Rlsd", "RxChar 1"}},
        {"events outside the mask",
         TCommEventTypes{evRxChar, evDsr},
         {&TLine_Counters::Break, &TLine_Counters::Frame, &TLine_Counters::Cts},
         {"RxChar 1"}},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TPty Line;
        TCall_Queue Calls;
        TRecorder Seen;
        TCounted_Comm Port;
        Port.SetDeviceName(Line.Path());
        Port.SetMonitorEvents(Case.Events);
        Port.SetDispatcher(Calls.Dispatcher());
        Seen.Attach(Port);
        Port.Open();
        for (TCounter Counter : Case.Bumps)
            Port.Bump(Counter);
        Line.Send("x");
        ASSERT_TRUE(Calls.Run_Next());
        EXPECT_EQ(Seen.Calls(), Case.Calls);
        EXPECT_EQ(errors_now(Port), 0u); // the dispatch cleared them
    }
}

TEST_F(Monitor, AnEventWithNoneAssignedStillClearsTheErrorState) {
    Comm.Open();
    Comm.Bump(&TLine_Counters::Frame);
    Pty.Send("x");
    ASSERT_TRUE(Queue.Run_Next());
    EXPECT_EQ(errors_now(Comm), 0u);

    // Without a dispatch in between the flag would still be there.
    Comm.Bump(&TLine_Counters::Frame);
    EXPECT_EQ(errors_now(Comm), CE_FRAME);
}

TEST_F(Monitor, EveryReaderOfTheQueuesClearsTheErrorState) {
    const std::vector<std::pair<const char*, std::function<void()>>> Readers = {
        {"InQueCount", [&] { Comm.InQueCount(); }},
        {"OutQueCount", [&] { Comm.OutQueCount(); }},
        {"CtsHold", [&] { Comm.CtsHold(); }},
        {"XOffSent", [&] { Comm.XOffSent(); }},
    };
    Comm.Open();
    for (const auto& [Name, Read] : Readers) {
        SCOPED_TRACE(Name);
        Comm.Bump(&TLine_Counters::Overrun);
        Comm.Bump(&TLine_Counters::Break);
        Read();
        EXPECT_EQ(errors_now(Comm), 0u);
    }
    Comm.Bump(&TLine_Counters::Overrun);
    Comm.Bump(&TLine_Counters::Break);
    EXPECT_EQ(errors_now(Comm), CE_OVERRUN | CE_BREAK);
    EXPECT_EQ(errors_now(Comm), 0u);
}

TEST_F(Monitor, RxCharReportsTheBytesWaitingOnEachNewArrivalOnly) {
    Recorder.Attach(Comm);
    Comm.Open();
    // A first event lets the monitor pass the wake-ups of the settings that Open wrote, which
    // would otherwise report the first bytes twice.
    ASSERT_EQ(Comm.Write("w", 1), 1);
    ASSERT_TRUE(Queue.Run_Next());
    Pty.Send("12345");
    ASSERT_TRUE(Queue.Run_Next());
    // The bytes still wait; the next event must be the write's alone.
    ASSERT_EQ(Comm.Write("w", 1), 1);
    ASSERT_TRUE(Queue.Run_Next());
    Pty.Send("67");
    ASSERT_TRUE(Queue.Run_Next());
    EXPECT_EQ(Recorder.Calls(), (std::vector<std::string>{"TxEmpty", "RxChar 5", "TxEmpty", "RxChar 7"}));
}

TEST_F(Monitor, RxCharIsNotCalledWhenTheWorkerHasAlreadyReadTheQueueEmpty) {
    Recorder.Attach(Comm);
    Comm.Open();
    Pty.Send("abc");
    ASSERT_TRUE(Queue.Wait_Posted());
    char Buf[8];
    ASSERT_EQ(Comm.Read(Buf, sizeof Buf), 3);
    Queue.Run_Posted();
    EXPECT_TRUE(Recorder.Calls().empty());
}

TEST_F(Monitor, TxEmptyFollowsAWrite) {
    Recorder.Attach(Comm);
    Comm.Open();
    ASSERT_EQ(Comm.Write("hello", 5), 5);
    ASSERT_TRUE(Queue.Run_Next());
    EXPECT_EQ(Recorder.Calls(), std::vector<std::string>{"TxEmpty"});
    EXPECT_EQ(Pty.Receive(5), "hello");
}

TEST_F(Monitor, ACallThatRunsAfterCloseReachesNothing) {
    auto Port = std::make_unique<TCounted_Comm>();
    Port->SetDeviceName(Pty.Path());
    Port->SetDispatcher(Queue.Dispatcher());
    Recorder.Attach(*Port);
    Port->Open();
    Port->Bump(&TLine_Counters::Break);
    Pty.Send("x");
    ASSERT_TRUE(Queue.Wait_Posted());
    // Closed on the dispatching thread while the monitor waits for that thread: must not deadlock.
    Port->Close();
    EXPECT_FALSE(Port->Enabled());
    Queue.Run_Posted();
    Port.reset();
    Queue.Run_Posted();
    EXPECT_TRUE(Recorder.Calls().empty());
}

TEST_F(Monitor, CloseFromAnotherThreadWaitsForTheDispatchUnderWay) {
    std::atomic<bool> Closed{false};
    std::thread Closer;
    bool Open_Throughout = false;
    Comm.SetOnRxChar([&](TCustomComm*, std::int32_t) {
        Closer = std::thread([&] {
            Comm.Close();
            Closed = true;
        });
        // The monitor ends at once; the closing waits for this handler.
        EXPECT_TRUE(Eventually([&] { return monitors_running() == 0; }));
        Open_Throughout = !Closed.load() && Comm.Enabled();
    });
    Comm.Open();
    Pty.Send("x");
    ASSERT_TRUE(Queue.Run_Next());
    Closer.join();
    EXPECT_TRUE(Open_Throughout);
    EXPECT_FALSE(Comm.Enabled());
}

TEST_F(Monitor, AHandlerThatClosesThePortEndsTheDispatch) {
    Recorder.Attach(Comm);
    Comm.SetOnBreak([&](TCustomComm* Sender) {
        Recorder.Add("Break");
        Sender->Close();
    });
    const int Descriptors = Open_Descriptors();
    Comm.Open();
    Comm.Bump(&TLine_Counters::Break);
    Comm.Bump(&TLine_Counters::Frame);
    Pty.Send("x");
    ASSERT_TRUE(Queue.Run_Next());
    EXPECT_EQ(Recorder.Calls(), std::vector<std::string>{"Break"});
    EXPECT_FALSE(Comm.Enabled());
    EXPECT_EQ(Open_Descriptors(), Descriptors);
    // The port opens again with a new monitor.
    Comm.Open();
    Pty.Send("y");
    ASSERT_TRUE(Queue.Run_Next());
    EXPECT_EQ(Recorder.Calls(), (std::vector<std::string>{"Break", "RxChar 1"}));
}

TEST_F(Monitor, AnExceptionFromAnEventEndsTheMonitorAndThePortStaysOpen) {
    const int Descriptors = Open_Descriptors();
    Comm.SetOnRxChar([](TCustomComm*, std::int32_t) { throw std::runtime_error("handler failed"); });
    Comm.Open();
    Pty.Send("x");
    ASSERT_TRUE(Queue.Run_Next());
    EXPECT_TRUE(Eventually([&] { return monitors_running() == 0; }));
    EXPECT_TRUE(Comm.Enabled());
    Pty.Send("y");
    EXPECT_TRUE(Eventually([&] { return Comm.InQueCount() == 2; })); // not purged
    Comm.Close();
    Queue.Run_Posted();
    EXPECT_EQ(Open_Descriptors(), Descriptors);
}

TEST(MonitorOwnThread, WithoutADispatcherEventsRunOnTheMonitorAndMayCloseThePort) {
    TPty Pty;
    TRecorder Recorder; // outlives the port, whose monitor calls into it
    std::atomic<bool> Closed{false};
    TCounted_Comm Comm;
    Recorder.Attach(Comm);
    Comm.SetOnRxChar([&](TCustomComm* Sender, std::int32_t Count) {
        Recorder.Add("RxChar " + std::to_string(Count));
        Sender->Close();
        Closed = true;
    });
    Comm.SetDeviceName(Pty.Path());
    const int Descriptors = Open_Descriptors();
    Comm.Open();
    Comm.Bump(&TLine_Counters::Parity);
    Pty.Send("ab");
    ASSERT_TRUE(Eventually([&] { return Closed.load(); }));
    EXPECT_FALSE(Comm.Enabled());
    EXPECT_EQ(Recorder.Calls(), (std::vector<std::string>{"Error 4", "RxChar 2"}));
    EXPECT_TRUE(Eventually([&] { return monitors_running() == 0; }));
    EXPECT_EQ(Open_Descriptors(), Descriptors);
    Comm.Open(); // takes over from the monitor that closed its port
    EXPECT_TRUE(Comm.Enabled());
}

TEST(MonitorOwnThread, OpeningAndClosingAThousandTimesLeavesNoThreadOrDescriptor) {
    TPty Pty;
    std::atomic<int> Seen{0};
    TComm Comm;
    Comm.SetOnRxChar([&](TCustomComm*, std::int32_t) { ++Seen; });
    Comm.SetDeviceName(Pty.Path());
    const int Descriptors = Open_Descriptors();
    for (int I = 0; I < 1000; ++I) {
        Comm.Open();
        // Every other closing meets a monitor that has an event to dispatch, or is dispatching it.
        if (I % 2) Pty.Send("x");
        Comm.Close();
    }
    EXPECT_EQ(monitors_running(), 0);
    EXPECT_EQ(Open_Descriptors(), Descriptors);
    Comm.Open();
    EXPECT_EQ(monitors_running(), 1);
    Pty.Send("z");
    EXPECT_TRUE(Eventually([&] { return Seen.load() > 0; }));
}
