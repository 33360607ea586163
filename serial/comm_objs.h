#pragma once
// Event and lock objects of the serial port component (unit CommObjs).

#include <cstdint>
#include <mutex>
#include <string>

// A platform handle: a descriptor on POSIX. All bits set marks "no handle".
using THandle = std::uintptr_t;
inline constexpr THandle Invalid_Handle = ~THandle{0};

// Milliseconds value that waits without limit.
inline constexpr std::uint32_t Infinite = 0xFFFFFFFFu;

enum TEventWaitResult : std::uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };

class THandleObject {
public:
    THandleObject(const THandleObject&) = delete;
    THandleObject& operator=(const THandleObject&) = delete;
    virtual ~THandleObject();

    THandle Handle() const { return FHandle; }
    // Platform error of the last failed wait.
    std::int32_t Error() const { return FError; }

protected:
    THandleObject() = default;
    THandle FHandle = Invalid_Handle;
    std::int32_t FError = 0;
};

// A waitable event whose handle a poll can watch next to a device, so a transfer waiting for its
// device can also be woken by the event.
class TEvent : public THandleObject {
public:
    // EventAttributes and Name have no counterpart on POSIX: the event lives in this process only.
    TEvent(const void* EventAttributes, bool ManualReset, bool InitialState, const std::string& Name);

    TEventWaitResult WaitFor(std::uint32_t Timeout);
    void SetEvent();
    void ResetEvent();

private:
    bool FManualReset;
};

// Unnamed, manual-reset, initially not signalled.
class TSimpleEvent : public TEvent {
public:
    TSimpleEvent() : TEvent(nullptr, true, false, std::string()) {}
};

// Recursive like the critical section it stands for: the owner may enter again.
class TCriticalSection {
public:
    void Acquire() { FSection.lock(); }
    void Release() { FSection.unlock(); }
    void Enter() { Acquire(); }
    void Leave() { Release(); }

private:
    std::recursive_mutex FSection;
};

// Holds a critical section for the life of a scope.
class TLock {
public:
    explicit TLock(TCriticalSection& Section) : FSection(Section) { FSection.Enter(); }
    ~TLock() { FSection.Leave(); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

private:
    TCriticalSection& FSection;
};
