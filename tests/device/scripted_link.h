#pragma once
// An in-memory serial line with a virtual clock, for driving the link worker without hardware or
// real waiting. The converter's side is a responder: it sees every complete request (up to its
// CR) and returns the chunks that arrive back, each after a delay counted from that moment.
// Time only passes when the worker sleeps or waits for input.

#include "eventually.h"
#include "link_clock.h"
#include "serial_port.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TChunk {
    std::int64_t Delay_ms;
    std::string Bytes;
};

struct TPortSettings {
    TBaudrate Baud = br9600;
    TDatabits Data = da4;
    TParity Parity = paSpace;
    TStopbits Stop = sb20;
    TFlowControl Flow = fcDefault;
    std::string Device;
    bool Dtr = false;
};

class TScriptedLink final : public TLinkClock {
public:
    using TResponder = std::function<std::vector<TChunk>(const std::string& Request)>;

    explicit TScriptedLink(TResponder R = {}) : FResponder(std::move(R)) {}

    void Set_Responder(TResponder R) {
        std::lock_guard<std::mutex> L(FMutex);
        FResponder = std::move(R);
    }
    void Fail_Open(bool Fail) { FFailOpen = Fail; }
    // The device disappears once this many requests have been sent.
    void Vanish_After(int Requests) {
        std::lock_guard<std::mutex> L(FMutex);
        FVanishAfter = Requests;
    }
    // While held, the worker's next sleep or wait blocks until Release.
    void Hold() {
        std::lock_guard<std::mutex> L(FMutex);
        FHold = true;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> L(FMutex);
            FHold = false;
        }
        FCond.notify_all();
    }
    bool Worker_Held() {
        std::lock_guard<std::mutex> L(FMutex);
        return FHeld;
    }

    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> L(FMutex);
        return FRequests;
    }
    std::vector<std::size_t> Write_Sizes() {
        std::lock_guard<std::mutex> L(FMutex);
        return FWriteSizes;
    }
    TPortSettings Settings() {
        std::lock_guard<std::mutex> L(FMutex);
        return FSettings;
    }
    std::int64_t Now() {
        std::lock_guard<std::mutex> L(FMutex);
        return FNow;
    }
    std::int64_t Now_ms() override { return Now(); }
    // The virtual time at which each request's CR was sent.
    std::vector<std::int64_t> Request_Times() {
        std::lock_guard<std::mutex> L(FMutex);
        return FRequestTimes;
    }

    std::unique_ptr<TSerialPort> Make_Port() { return std::make_unique<TPort>(*this); }

    void Sleep_ms(std::int32_t Milliseconds) override {
        std::unique_lock<std::mutex> L(FMutex);
        Wait_Hold(L);
        Advance(FNow + Milliseconds);
    }

private:
    struct TArrival {
        std::int64_t At;
        std::string Bytes;
    };

    class TPort final : public TSerialPort {
    public:
        explicit TPort(TScriptedLink& Link) : FLink(Link) {}
        void SetBaudRate(TBaudrate V) override {
            With([&] { FLink.FSettings.Baud = V; });
        }
        void SetDatabits(TDatabits V) override {
            With([&] { FLink.FSettings.Data = V; });
        }
        void SetDeviceName(const std::string& V) override {
            With([&] { FLink.FSettings.Device = V; });
        }
        void SetFlowControl(TFlowControl V) override {
            With([&] { FLink.FSettings.Flow = V; });
        }
        void SetParity(TParity V) override {
            With([&] { FLink.FSettings.Parity = V; });
        }
        void SetStopbits(TStopbits V) override {
            With([&] { FLink.FSettings.Stop = V; });
        }
        void Open() override {
            if (FLink.FFailOpen) throw ECommError("Error accessing specified device (Error: 2) ", 2);
            FOpen = true;
        }
        void Close() override { FOpen = false; }
        void SetDTRState(bool State) override {
            if (!FOpen) throw ECommError("Port not open, unable to complete operation (Error: -1) ", -1);
            With([&] { FLink.FSettings.Dtr = State; });
        }
        void PurgeIn() override {
            With([&] { FLink.FArrived.clear(); });
        }
        void PurgeOut() override {}
        std::int32_t Write(const void* Buf, std::int32_t Count) override {
            std::lock_guard<std::mutex> L(FLink.FMutex);
            Check_Present(L, "Write error");
            FLink.Accept(static_cast<const char*>(Buf), static_cast<std::size_t>(Count));
            return Count;
        }
        std::int32_t Read(void* Buf, std::int32_t Count) override {
            std::lock_guard<std::mutex> L(FLink.FMutex);
            Check_Present(L, "Read error");
            const auto N = std::min<std::size_t>(static_cast<std::size_t>(Count), FLink.FArrived.size());
            std::copy_n(FLink.FArrived.begin(), N, static_cast<char*>(Buf));
            FLink.FArrived.erase(FLink.FArrived.begin(),
                                 FLink.FArrived.begin() + static_cast<std::ptrdiff_t>(N));
            return static_cast<std::int32_t>(N);
        }
        std::int32_t InQueCount() override {
            std::lock_guard<std::mutex> L(FLink.FMutex);
            if (!FOpen || FLink.Gone()) return -1;
            return static_cast<std::int32_t>(FLink.FArrived.size());
        }
        bool WaitForInput(std::int32_t Milliseconds) override {
            std::unique_lock<std::mutex> L(FLink.FMutex);
            if (!FOpen || FLink.Gone() || !FLink.FArrived.empty()) return !FLink.FArrived.empty();
            FLink.Wait_Hold(L);
            std::int64_t Until = FLink.FNow + Milliseconds;
            if (!FLink.FPending.empty()) Until = std::min(Until, FLink.FPending.front().At);
            FLink.Advance(Until);
            return !FLink.FArrived.empty();
        }

    private:
        template <class F> void With(F Fn) {
            std::lock_guard<std::mutex> L(FLink.FMutex);
            Fn();
        }
        void Check_Present(std::lock_guard<std::mutex>&, const char* What) {
            if (!FOpen || FLink.Gone()) throw ECommError(std::string(What) + " (Error: 5) ", 5);
        }
        TScriptedLink& FLink;
        bool FOpen = false;
    };

    bool Gone() const { return FVanishAfter >= 0 && static_cast<int>(FRequests.size()) >= FVanishAfter; }

    void Accept(const char* Bytes, std::size_t N) {
        FWriteSizes.push_back(N);
        for (std::size_t i = 0; i < N; ++i) {
            FPartial.push_back(Bytes[i]);
            if (Bytes[i] != '\r') continue;
            FRequests.push_back(FPartial);
            FRequestTimes.push_back(FNow);
            if (FResponder && !Gone())
                for (auto& C : FResponder(FPartial))
                    Schedule(FNow + C.Delay_ms, std::move(C.Bytes));
            FPartial.clear();
        }
    }

    void Schedule(std::int64_t At, std::string Bytes) {
        auto It = FPending.begin();
        while (It != FPending.end() && It->At <= At)
            ++It;
        FPending.insert(It, TArrival{At, std::move(Bytes)});
        Advance(FNow);
    }

    void Advance(std::int64_t To) {
        FNow = To;
        while (!FPending.empty() && FPending.front().At <= FNow) {
            FArrived.insert(FArrived.end(), FPending.front().Bytes.begin(), FPending.front().Bytes.end());
            FPending.pop_front();
        }
    }

    void Wait_Hold(std::unique_lock<std::mutex>& L) {
        FHeld = FHold;
        FCond.wait(L, [this] { return !FHold; });
        FHeld = false;
    }

    std::mutex FMutex;
    std::condition_variable FCond;
    TResponder FResponder;
    bool FFailOpen = false;
    int FVanishAfter = -1;
    bool FHold = false;
    bool FHeld = false;
    std::int64_t FNow = 0;
    std::string FPartial;
    std::vector<std::string> FRequests;
    std::vector<std::int64_t> FRequestTimes;
    std::vector<std::size_t> FWriteSizes;
    std::deque<TArrival> FPending;
    std::deque<char> FArrived;
    TPortSettings FSettings;
};
