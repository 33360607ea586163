// Event objects on Linux: an event is an eventfd whose counter is non-zero while signalled. Being
// a descriptor, it can sit in the same poll() as the serial device.

#include "comm_objs.h"
#include "poll_deadline.h"

#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

int fd_of(THandle Handle) {
    return static_cast<int>(Handle);
}

} // namespace

THandleObject::~THandleObject() {
    if (FHandle != Invalid_Handle) ::close(fd_of(FHandle));
}

TEvent::TEvent(const void*, bool ManualReset, bool InitialState, const std::string&)
    : FManualReset(ManualReset) {
    int Fd = ::eventfd(InitialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (Fd < 0)
        FError = errno; // like a failed creation elsewhere: every later wait answers wrError
    else
        FHandle = static_cast<THandle>(Fd);
}

void TEvent::SetEvent() {
    if (FHandle == Invalid_Handle) return;
    std::uint64_t One = 1;
    // Fails only when the counter would overflow, and then the event is signalled anyway.
    [[maybe_unused]] ssize_t Written = ::write(fd_of(FHandle), &One, sizeof One);
}

void TEvent::ResetEvent() {
    if (FHandle == Invalid_Handle) return;
    std::uint64_t Count;
    // Reading zeroes the counter; EAGAIN means it already was.
    [[maybe_unused]] ssize_t Got = ::read(fd_of(FHandle), &Count, sizeof Count);
}

TEventWaitResult TEvent::WaitFor(std::uint32_t Timeout) {
    if (FHandle == Invalid_Handle) return wrError;
    const TPoll_Deadline Deadline(Timeout);
    for (;;) {
        pollfd Pfd{fd_of(FHandle), POLLIN, 0};
        int Ready = ::poll(&Pfd, 1, Deadline.Poll_Ms());
        if (Ready < 0) {
            if (errno == EINTR) continue;
            FError = errno;
            return wrError;
        }
        if (Ready == 0) {
            if (!Deadline.Passed()) continue; // one poll() waits at most INT_MAX ms
            return wrTimeout;
        }
        if (FManualReset) return wrSignaled;
        // An auto-reset event wakes one waiter: whoever takes the count first.
        std::uint64_t Count;
        if (::read(fd_of(FHandle), &Count, sizeof Count) == sizeof Count) return wrSignaled;
        if (errno != EAGAIN && errno != EINTR) {
            FError = errno;
            return wrError;
        }
    }
}
