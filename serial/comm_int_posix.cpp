// The serial port component on Linux: termios on a non-blocking descriptor.
//
// How each platform operation of the component is provided here:
//   exclusive open      open(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), then flock(LOCK_EX | LOCK_NB)
//                       and TIOCEXCL. TIOCEXCL turns away later opens, but not root's; the lock turns
//                       away every other TComm (and every program that locks the same way), root
//                       included. A refused lock reports EBUSY, the code TIOCEXCL gives.
//   character device    isatty(): anything that is not a terminal is refused.
//   raw mode            no echo, no line editing, no CR/NL translation, no output processing, breaks
//                       not put into the data, no XON/XOFF unless FlowControl asks for it; the
//                       settings found at open are restored by Close.
//   time-outs           VMIN 1, VTIME 0 on the non-blocking descriptor: a read returns at once with
//                       what has arrived and an empty queue answers EAGAIN, so a read of 0 bytes
//                       only means hang-up (with VMIN 0 an empty queue would read 0 as well).
//   device control      tcgetattr/tcsetattr; rates without a B constant through termios2
//   block               (line_speed_linux.cpp). See UpdateDataControlBlock for each field.
//   queue sizes         the kernel's queues have fixed sizes: ReadBufSize and WriteBufSize are kept
//                       but nothing is asked of the driver, so opening never fails there.
//   read                read() under the lock. ReadTimeout is not needed: the read never pends.
//   write               write() under the lock; what the driver cannot take at once waits in poll()
//                       for room, for the completion event (set by PurgeOut: the write is aborted
//                       and returns what was taken) or for WriteTimeout (-1).
//   queue counts        FIONREAD and TIOCOUTQ; poll() flags POLLHUP/POLLERR mark a device that has
//                       gone away (unplugged adapter, closed far end of a pseudo-terminal).
//   purges              tcflush(TCIFLUSH / TCOFLUSH).
//   line functions      DTR/RTS: TIOCMBIS/TIOCMBIC; break: TIOCSBRK/TIOCCBRK; XON/XOFF state:
//                       tcflow(TCOON/TCOOFF). A terminal without modem lines (a pseudo-terminal,
//                       whose TIOCMGET answers ENOTTY) keeps DTR and RTS in software, so that a
//                       virtual port connects like a real one.
//   modem status        TIOCMGET: TIOCM_CTS, TIOCM_DSR, TIOCM_RNG, TIOCM_CAR.
//   hold flags          CtsHold is CRTSCTS with CTS low; the kernel reports no other hold state,
//                       and has no DSR handshake, so the other four read false.
//   error state         the driver's interrupt counters (TIOCGICOUNT): ClearCommError reports which
//                       of them moved since the last clear. Drivers without counters (pseudo-
//                       terminals) report no errors.
//   line-event monitor  see TPosix_Event_Wait below.
//   close               queued output is dropped (the kernel would wait up to 30 s for output held
//                       by flow control), the settings found at open return, TIOCNXCL, close().
//   error codes         errno, through raise_os_error only.

#include "comm_event_wait.h"
#include "comm_int.h"
#include "line_speed_linux.h"
#include "poll_deadline.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iterator>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

struct TCustomComm::TDCB {
    termios Settings{};      // last read from and written to the driver
    TKernel_Termios Found{}; // the settings before Open, for Close to restore
    bool Have_Found = false;
    bool Exclusive = false;  // TIOCEXCL is set and must be cleared on Close
    bool Soft_Lines = false; // no modem lines: DTR and RTS live in Soft_Modem
    int Soft_Modem = 0;
};

namespace {

// B constants by TBaudrate ordinal; 0 where the kernel has none and termios2 sets the rate.
constexpr speed_t Baud_Constant[] = {B110,   B300, B600,   B1200,   B2400, B4800, B9600,    0,       B19200,
                                     B38400, 0,    B57600, B115200, 0,     0,     B1500000, B3000000};
static_assert(std::size(Baud_Constant) == std::size(Baudrate_Value));

constexpr tcflag_t Size_Flag[] = {0, CS5, CS6, CS7, CS8}; // da4 has no counterpart
constexpr tcflag_t Parity_Flags[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
constexpr tcflag_t Frame_Mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

// The one place where errno becomes an ECommError. A lock held elsewhere (EWOULDBLOCK from flock)
// reports as the busy device it is, with the code TIOCEXCL gives an opener who is not root.
[[noreturn]] void raise_os_error(const char* Message, int Err) {
    if (Err == EWOULDBLOCK) Err = EBUSY;
    RaiseCommError(Message, Err);
}

int fd_of(THandle Handle) {
    return static_cast<int>(Handle);
}

bool hung_up(int Fd) {
    pollfd Pfd{Fd, POLLIN, 0};
    return ::poll(&Pfd, 1, 0) > 0 && (Pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// A rate counts as honoured within 2 %, what a UART receiver tolerates.
bool speed_honoured(std::uint32_t Wanted, std::uint32_t Got) {
    std::uint64_t Diff = Wanted > Got ? Wanted - Got : Got - Wanted;
    return Diff * 50 <= Wanted;
}

} // namespace

bool Is_Permission_Error(const ECommError& Error) {
    return Error.ErrorCode == EACCES || Error.ErrorCode == EPERM;
}

TCustomComm::TCustomComm()
    : FDCB(std::make_unique<TDCB>()), FEventChars(std::make_unique<TCommEventChars>(this)) {}

TCustomComm::~TCustomComm() {
    Close();
    FEventThread.reset(); // a monitor still returning from a dispatch uses the fields below
}

void TCustomComm::CreateHandle() {
    int Fd = ::open(FDeviceName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0) raise_os_error("Error accessing specified device", errno);
    FHandle = static_cast<THandle>(Fd);
    if (!::isatty(Fd)) {
        DestroyHandle();
        RaiseCommError("Invalid device handle, access denied", -1);
    }
    auto fail = [this](int Err) {
        DestroyHandle();
        raise_os_error("Error accessing specified device", Err);
    };
    if (::flock(Fd, LOCK_EX | LOCK_NB) < 0) fail(errno);
    if (::ioctl(Fd, TIOCEXCL) < 0) fail(errno);
    FDCB->Exclusive = true;
    if (Save_Kernel_Termios(Fd, FDCB->Found) < 0) fail(errno);
    FDCB->Have_Found = true;

    termios& Raw = FDCB->Settings;
    if (::tcgetattr(Fd, &Raw) < 0) fail(errno);
    Raw.c_iflag &=
        ~(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF | IXANY | IMAXBEL);
    Raw.c_iflag |= IGNBRK;
    Raw.c_oflag &= ~OPOST;
    Raw.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    Raw.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(Fd, TCSANOW, &Raw) < 0) fail(errno);

    int Lines;
    if (::ioctl(Fd, TIOCMGET, &Lines) < 0 && (errno == ENOTTY || errno == EINVAL)) {
        FDCB->Soft_Lines = true;
        FDCB->Soft_Modem = TIOCM_DTR | TIOCM_RTS; // raised by the open, as a real port's are
    }
}

void TCustomComm::DestroyHandle() {
    if (FHandle == Invalid_Handle) return;
    int Fd = fd_of(FHandle);
    if (FDCB->Have_Found) {
        ::tcflush(Fd, TCIOFLUSH);
        Restore_Kernel_Termios(Fd, FDCB->Found);
    }
    if (FDCB->Exclusive) ::ioctl(Fd, TIOCNXCL);
    ::close(Fd); // also releases the lock
    FHandle = Invalid_Handle;
    *FDCB = TDCB{};
}

void TCustomComm::UpdateCommTimeouts() {
    int Fd = fd_of(FHandle);
    termios& Dcb = FDCB->Settings;
    ::tcgetattr(Fd, &Dcb);
    Dcb.c_cc[VMIN] = 1;
    Dcb.c_cc[VTIME] = 0;
    if (::tcsetattr(Fd, TCSANOW, &Dcb) < 0) raise_os_error("Error updating CommTimeouts", errno);
}

// How the device control block maps onto termios:
//   BaudRate            cfsetspeed with the B constant, else termios2 BOTHER; the rate the driver
//                       then reports must lie within 2 % of the one asked.
//   ByteSize            CS5..CS8; 4 bits: refused.
//   Parity              PARENB, PARODD, CMSPAR (mark: CMSPAR | PARODD, space: CMSPAR).
//   StopBits            one: no CSTOPB; 1.5: CSTOPB with 5 data bits only (the UART then sends 1.5);
//                       two: CSTOPB, refused with 5 data bits (that would be 1.5).
//   XonChar, XoffChar   VSTART, VSTOP. ErrorChar: see coErrorChar. EofChar and EvtChar have no
//                       counterpart in raw mode; EvtChar is for the event monitor.
//   XonLim, XoffLim     none: the kernel throttles at fixed marks of its own queue.
//   fcNone              clears CRTSCTS, IXON, IXOFF and INPCK, then drops DTR and RTS.
//   fcCTS               CRTSCTS (CTS output flow and RTS handshake in one).
//   fcDTR               refused: Linux has no DSR/DTR handshake.
//   fcSoftware          IXON and IXOFF.
//   coParityCheck       INPCK: a byte failing the check arrives as 0.
//   coDsrSensitivity    refused: no counterpart.
//   coIgnoreXOff        the kernel always keeps sending after it has sent XOFF, set or not.
//   coErrorChar         honoured when ErrorChar is 0, the kernel's only replacement byte; refused
//                       otherwise.
//   coNullStrip         refused: no counterpart.
// A refused setting raises EINVAL before anything is written. After writing, the frame and
// CRTSCTS are read back, since tcsetattr succeeds when any part was taken; a pseudo-terminal is
// not asked about its frame, which it always reports as 8 bits without parity.
void TCustomComm::UpdateDataControlBlock() {
    if (!Enabled()) return;
    auto refuse = [] { raise_os_error("Error updating DataControlBlock", EINVAL); };
    if (FDatabits == da4 || FFlowControl == fcDTR || FOptions.Contains(coDsrSensitivity) ||
        FOptions.Contains(coNullStrip) || (FOptions.Contains(coErrorChar) && FEventChars->ErrorChar() != 0))
        refuse();
    if ((FStopbits == sb15 && FDatabits != da5) || (FStopbits == sb20 && FDatabits == da5)) refuse();

    int Fd = fd_of(FHandle);
    termios& Dcb = FDCB->Settings;
    ::tcgetattr(Fd, &Dcb);
    Dcb.c_cflag &= ~Frame_Mask;
    Dcb.c_cflag |= Size_Flag[FDatabits] | Parity_Flags[FParity] | (FStopbits == sb10 ? 0 : CSTOPB);
    const speed_t Baud = Baud_Constant[FBaudRate];
    if (Baud != 0) ::cfsetspeed(&Dcb, Baud);
    Dcb.c_cc[VSTART] = static_cast<cc_t>(FEventChars->XonChar());
    Dcb.c_cc[VSTOP] = static_cast<cc_t>(FEventChars->XoffChar());
    switch (FFlowControl) {
    case fcNone:
        Dcb.c_cflag &= ~CRTSCTS;
        Dcb.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
        break;
    case fcCTS:
        Dcb.c_cflag |= CRTSCTS;
        break;
    case fcSoftware:
        Dcb.c_iflag |= IXON | IXOFF;
        break;
    case fcDTR:
    case fcDefault:
        break;
    }
    if (FOptions.Contains(coParityCheck))
        Dcb.c_iflag |= INPCK;
    else
        Dcb.c_iflag &= ~INPCK;

    const char* Message = "Error updating DataControlBlock";
    if (::tcsetattr(Fd, TCSANOW, &Dcb) < 0) raise_os_error(Message, errno);
    const std::uint32_t Bps = Baudrate_Value[FBaudRate];
    if (Baud == 0 && Set_Custom_Speed(Fd, Bps) < 0) raise_os_error(Message, errno);
    if (FFlowControl == fcNone) {
        if (FDCB->Soft_Lines) {
            FDCB->Soft_Modem = 0;
        } else {
            int Lines = TIOCM_DTR | TIOCM_RTS;
            if (::ioctl(Fd, TIOCMBIC, &Lines) < 0) raise_os_error(Message, errno);
        }
    }

    termios Now;
    std::uint32_t Got_Bps = 0;
    if (::tcgetattr(Fd, &Now) < 0 || Get_Line_Speed(Fd, Got_Bps) < 0) raise_os_error(Message, errno);
    const tcflag_t Checked = CRTSCTS | (FDCB->Soft_Lines ? 0 : Frame_Mask);
    if ((Now.c_cflag & Checked) != (Dcb.c_cflag & Checked) || !speed_honoured(Bps, Got_Bps)) refuse();
}

void TCustomComm::Setup_Buffers() {}

std::int32_t TCustomComm::Read(void* Buf, std::int32_t Count) {
    TLock Lock(FCriticalSection);
    const int Fd = fd_of(FHandle);
    for (;;) {
        ssize_t Got = ::read(Fd, Buf, Count > 0 ? static_cast<size_t>(Count) : 0);
        if (Got > 0) return static_cast<std::int32_t>(Got);
        if (Got == 0) {
            if (Count > 0 && hung_up(Fd)) raise_os_error("Read error", EIO);
            return 0;
        }
        if (errno == EAGAIN) return 0;
        if (errno != EINTR) raise_os_error("Read error", errno);
    }
}

std::int32_t TCustomComm::Write(const void* Buf, std::int32_t Count) {
    TLock Lock(FCriticalSection);
    const int Fd = fd_of(FHandle);
    const auto* Bytes = static_cast<const unsigned char*>(Buf);
    const TPoll_Deadline Deadline(static_cast<std::uint32_t>(FWriteTimeout));
    FEvent.ResetEvent();
    std::int32_t Done = 0;
    // On every way out, a raise included: whatever was queued ends in an EV_TXEMPTY.
    struct TTell_Monitor {
        TCustomComm& Comm;
        const std::int32_t& Done;
        ~TTell_Monitor() {
            if (Done > 0 && Comm.FEventThread) Comm.FEventThread->Output_Queued();
        }
    } Tell{*this, Done};
    while (Done < Count) {
        ssize_t Put = ::write(Fd, Bytes + Done, static_cast<size_t>(Count - Done));
        if (Put > 0) {
            Done += static_cast<std::int32_t>(Put);
            continue;
        }
        if (Put < 0 && errno == EINTR) continue;
        if (Put < 0 && errno != EAGAIN) raise_os_error("Write error", errno);

        pollfd Wait[2] = {{Fd, POLLOUT, 0}, {fd_of(FEvent.Handle()), POLLIN, 0}};
        int Ready = ::poll(Wait, 2, Deadline.Poll_Ms());
        if (Ready < 0 && errno != EINTR) raise_os_error("Write error", errno);
        if (Ready == 0 && Deadline.Passed()) return -1;
        if (Wait[1].revents & POLLIN) return Done;
        if (Wait[0].revents & (POLLHUP | POLLERR | POLLNVAL)) raise_os_error("Write error", EIO);
    }
    return Done;
}

bool TCustomComm::Driver_Line_Counters(TLine_Counters& Counters) {
    serial_icounter_struct Kernel{};
    if (!Enabled() || ::ioctl(fd_of(FHandle), TIOCGICOUNT, &Kernel) < 0) return false;
    auto u = [](int Value) { return static_cast<std::uint32_t>(Value); };
    Counters = {u(Kernel.cts),     u(Kernel.dsr),    u(Kernel.rng), u(Kernel.dcd),        u(Kernel.frame),
                u(Kernel.overrun), u(Kernel.parity), u(Kernel.brk), u(Kernel.buf_overrun)};
    return true;
}

bool TCustomComm::ClearCommError(std::uint32_t& Errors, TComStat& Stat) {
    Errors = 0;
    Stat = TComStat{};
    if (!Enabled()) return false;
    const int Fd = fd_of(FHandle);
    TLine_Counters Now;
    if (Read_Line_Counters(Now)) {
        std::lock_guard<std::mutex> Lock(FClearLock);
        if (FHave_Cleared) Errors = Line_Error_Flags(FCleared, Now);
        FCleared = Now;
        FHave_Cleared = true;
    }
    int In, Out;
    if (hung_up(Fd) || ::ioctl(Fd, FIONREAD, &In) < 0 || ::ioctl(Fd, TIOCOUTQ, &Out) < 0) return false;
    Stat.cbInQue = static_cast<std::uint32_t>(In);
    Stat.cbOutQue = static_cast<std::uint32_t>(Out);
    termios Now_Settings;
    if (::tcgetattr(Fd, &Now_Settings) == 0 && (Now_Settings.c_cflag & CRTSCTS) != 0 && !GetModemState(1))
        Stat.Flags |= 1u; // CtsHold
    return true;
}

bool TCustomComm::WaitForInput(std::int32_t Milliseconds) {
    if (!Enabled()) return false;
    const TPoll_Deadline Deadline(static_cast<std::uint32_t>(Milliseconds < 0 ? 0 : Milliseconds));
    for (;;) {
        pollfd Pfd{fd_of(FHandle), POLLIN, 0};
        int Ready = ::poll(&Pfd, 1, Deadline.Poll_Ms());
        if (Ready < 0 && errno != EINTR) return false;
        if (Ready > 0) return (Pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
        if (Ready == 0 && Deadline.Passed()) return false;
    }
}

void TCustomComm::PurgeIn() {
    if (Enabled()) ::tcflush(fd_of(FHandle), TCIFLUSH);
}

void TCustomComm::PurgeOut() {
    if (!Enabled()) return;
    ::tcflush(fd_of(FHandle), TCOFLUSH);
    FEvent.SetEvent(); // ends a write that waits for room
}

void TCustomComm::EscapeComm(TEscapeCode Code) {
    if (!Enabled()) RaiseCommError("Port not open, unable to complete operation", -1);
    const int Fd = fd_of(FHandle);
    int Result = 0;
    switch (Code) {
    case SETXOFF:
        Result = ::tcflow(Fd, TCOOFF);
        break;
    case SETXON:
        Result = ::tcflow(Fd, TCOON);
        break;
    case SETBREAK:
        Result = ::ioctl(Fd, TIOCSBRK);
        break;
    case CLRBREAK:
        Result = ::ioctl(Fd, TIOCCBRK);
        break;
    case SETRTS:
    case CLRRTS:
    case SETDTR:
    case CLRDTR: {
        int Line = (Code == SETDTR || Code == CLRDTR) ? TIOCM_DTR : TIOCM_RTS;
        bool Raise = Code == SETDTR || Code == SETRTS;
        if (FDCB->Soft_Lines)
            FDCB->Soft_Modem = Raise ? (FDCB->Soft_Modem | Line) : (FDCB->Soft_Modem & ~Line);
        else
            Result = ::ioctl(Fd, Raise ? TIOCMBIS : TIOCMBIC, &Line);
        break;
    }
    }
    if (Result < 0) raise_os_error("EscapeCommFunction failure", errno);
}

bool TCustomComm::GetModemState(int Index) {
    static constexpr int Line_Bit[] = {TIOCM_CTS, TIOCM_DSR, TIOCM_RNG, TIOCM_CAR};
    int Lines;
    if (!Enabled() || Index < 1 || Index > 4 || ::ioctl(fd_of(FHandle), TIOCMGET, &Lines) < 0) return false;
    return (Lines & Line_Bit[Index - 1]) != 0;
}

namespace {

// How the monitor waits on Linux. One epoll set holds the device (edge-triggered, so that
// EV_RXCHAR means newly arrived bytes, not bytes still waiting), the wake-up event of Stop, the
// event Write sets after queueing output, and the event of the modem-line waiter.
//   EV_RXCHAR           an input edge of the device.
//   EV_TXEMPTY          after Write queued output, TIOCOUTQ reads 0; checked every Tx_Check_Ms while
//                       output waits (a pseudo-terminal has no transmit queue: at once).
//   EV_BREAK, EV_ERR    the driver's counters moved; read at every wake-up, since no wait of the
//                       kernel ends on them. A break or error with nothing else happening is
//                       reported with the next event.
//   EV_CTS, EV_DSR,     where the driver keeps counters, a thread blocks in TIOCMIWAIT and the
//   EV_RING, EV_RLSD    counters tell which line moved; Release interrupts it with a signal.
//                       Where it has modem lines but no counters, TIOCMGET every Line_Poll_Ms.
//   EV_RXFLAG           never: a terminal cannot be read ahead for the event character.
// A device that hangs up is dropped from the set: the monitor then only waits for Stop.
// The kernel may report one arrival twice when a settings change wakes the device's waiters at the
// same moment; the second call then sees the same count.
constexpr int Line_Poll_Ms = 250;
constexpr int Tx_Check_Ms = 10;
constexpr std::uint32_t Line_Events = EV_CTS | EV_DSR | EV_RING | EV_RLSD;

enum TWait_Source : std::uint32_t { wsDevice, wsWake, wsOutput, wsLines };

int line_wake_signal() {
    return SIGRTMIN + 3;
}

void no_action(int) {}

// The signal only has to end a TIOCMIWAIT, so its handler does nothing and is installed without
// SA_RESTART. A program that handles the signal itself keeps it, and its ports poll the lines.
bool line_wake_installed() {
    static const bool Installed = [] {
        struct sigaction Old {};
        if (::sigaction(line_wake_signal(), nullptr, &Old) < 0) return false;
        if ((Old.sa_flags & SA_SIGINFO) != 0 || Old.sa_handler != SIG_DFL) return false;
        struct sigaction Act {};
        Act.sa_handler = no_action;
        sigemptyset(&Act.sa_mask);
        return ::sigaction(line_wake_signal(), &Act, nullptr) == 0;
    }();
    return Installed;
}

class TPosix_Event_Wait final : public TComm_Event_Wait {
public:
    TPosix_Event_Wait(int Fd, std::uint32_t Mask, TLine_Counter_Reader Counters)
        : FFd(Fd), FMask(Mask), FCounters(std::move(Counters)), FWake(std::make_unique<TSimpleEvent>()),
          FOutput(std::make_unique<TSimpleEvent>()), FLines(std::make_unique<TSimpleEvent>()) {
        FHave_Counters = FCounters && FCounters(FLast);
        FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (FEpoll < 0) return; // Wait then only waits for Wake
        add(FFd, ((FMask & EV_RXCHAR) ? EPOLLIN : 0u) | EPOLLET, wsDevice);
        add(fd_of(FWake->Handle()), EPOLLIN, wsWake);
        add(fd_of(FOutput->Handle()), EPOLLIN, wsOutput);
        add(fd_of(FLines->Handle()), EPOLLIN, wsLines);
        epoll_event Ignored[4];
        ::epoll_wait(FEpoll, Ignored, 4, 0); // bytes that arrived before do not count
        if (FMask & Line_Events) Start_Line_Watch();
    }

    ~TPosix_Event_Wait() override { Release(); }

    std::uint32_t Wait() override {
        for (;;) {
            if (FStop.load(std::memory_order_acquire)) return 0;
            if (FEpoll < 0) {
                FWake->WaitFor(Infinite);
                return 0;
            }
            int Timeout = -1;
            if (FLine_Watch == lwPoll) Timeout = Line_Poll_Ms;
            if (FOutput_Waits) Timeout = Tx_Check_Ms;
            epoll_event Ready[4];
            const int Count = ::epoll_wait(FEpoll, Ready, 4, Timeout);
            if (FStop.load(std::memory_order_acquire)) return 0;
            if (Count < 0 && errno != EINTR) {
                FWake->WaitFor(Infinite);
                return 0;
            }
            std::uint32_t Status = 0;
            for (int I = 0; I < Count; ++I)
                Status |= Take(Ready[I]);
            Status |= Polled_Events();
            if (Status &= FMask) return Status;
        }
    }

    void Wake() override {
        FStop.store(true, std::memory_order_release);
        if (FWake) FWake->SetEvent();
    }

    void Output_Queued() override {
        if ((FMask & EV_TXEMPTY) && FOutput) FOutput->SetEvent();
    }

    // The device's input edges tell arrivals apart from bytes still waiting.
    void Input_Taken(std::uint64_t) override {}

    void Purge() override { ::tcflush(FFd, TCIOFLUSH); }

    void Release() override {
        if (FReleased) return;
        FReleased = true;
        Stop_Line_Watch();
        if (FEpoll >= 0) ::close(FEpoll);
        FEpoll = -1;
        FWake.reset();
        FOutput.reset();
        FLines.reset();
    }

private:
    enum TLine_Watch { lwNone, lwKernel, lwPoll };

    void add(int Fd, std::uint32_t Events, TWait_Source Source) {
        epoll_event Event{};
        Event.events = Events;
        Event.data.u32 = Source;
        ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, Fd, &Event);
    }

    std::uint32_t Take(const epoll_event& Event) {
        switch (Event.data.u32) {
        case wsDevice:
            if (Event.events & (EPOLLHUP | EPOLLERR)) {
                ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, FFd, nullptr);
                FLine_Watch = lwNone;
                FOutput_Waits = false;
                FGone = true;
                return 0;
            }
            return (Event.events & EPOLLIN) ? EV_RXCHAR : 0;
        case wsOutput:
            FOutput->ResetEvent();
            FOutput_Waits = !FGone;
            return 0;
        case wsLines:
            FLines->ResetEvent();
            if (FLine_Failed.load(std::memory_order_acquire) && FLine_Watch == lwKernel) {
                FLine_Watch = lwNone;
                int Lines;
                if (!FGone && ::ioctl(FFd, TIOCMGET, &Lines) == 0) {
                    FLast_Lines = Lines;
                    FLine_Watch = lwPoll;
                }
            }
            return 0;
        default:
            return 0;
        }
    }

    // What the counters, the line states and the transmit queue say now.
    std::uint32_t Polled_Events() {
        std::uint32_t Status = 0;
        TLine_Counters Now;
        if (FHave_Counters && !FGone && FCounters(Now)) {
            Status |= Line_Counter_Events(FLast, Now);
            FLast = Now;
        }
        int Lines;
        if (FLine_Watch == lwPoll && ::ioctl(FFd, TIOCMGET, &Lines) == 0) {
            static constexpr struct {
                int Line;
                std::uint32_t Event;
            } Line_Event[] = {
                {TIOCM_CTS, EV_CTS}, {TIOCM_DSR, EV_DSR}, {TIOCM_RNG, EV_RING}, {TIOCM_CAR, EV_RLSD}};
            for (const auto& Each : Line_Event)
                if ((Lines ^ FLast_Lines) & Each.Line) Status |= Each.Event;
            FLast_Lines = Lines;
        }
        int Out;
        if (FOutput_Waits && ::ioctl(FFd, TIOCOUTQ, &Out) == 0 && Out == 0) {
            FOutput_Waits = false;
            Status |= EV_TXEMPTY;
        }
        return Status;
    }

    void Start_Line_Watch() {
        int Lines;
        if (::ioctl(FFd, TIOCMGET, &Lines) < 0) return; // no modem lines at all
        FLast_Lines = Lines;
        serial_icounter_struct Kernel{};
        if (!FHave_Counters || ::ioctl(FFd, TIOCGICOUNT, &Kernel) < 0 || !line_wake_installed()) {
            FLine_Watch = lwPoll;
            return;
        }
        FLine_Watch = lwKernel;
        FLine_Thread = std::thread([this] { Line_Wait(); });
        Name_Monitor_Thread(FLine_Thread);
    }

    void Line_Wait() {
        while (!FLine_Stop.load(std::memory_order_acquire)) {
            if (::ioctl(FFd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR) == 0) {
                FLines->SetEvent();
            } else if (errno != EINTR) {
                FLine_Failed.store(true, std::memory_order_release);
                FLines->SetEvent();
                break;
            }
        }
        std::lock_guard<std::mutex> Lock(FLine_Lock);
        FLine_Ended = true;
        FLine_End.notify_all();
    }

    // The signal can arrive just before the waiter enters TIOCMIWAIT, so it is sent until the
    // waiter has ended.
    void Stop_Line_Watch() {
        if (!FLine_Thread.joinable()) return;
        FLine_Stop.store(true, std::memory_order_release);
        {
            std::unique_lock<std::mutex> Lock(FLine_Lock);
            while (!FLine_Ended) {
                ::pthread_kill(FLine_Thread.native_handle(), line_wake_signal());
                FLine_End.wait_for(Lock, std::chrono::milliseconds(10));
            }
        }
        FLine_Thread.join();
    }

    const int FFd;
    const std::uint32_t FMask;
    TLine_Counter_Reader FCounters;
    std::unique_ptr<TSimpleEvent> FWake, FOutput, FLines;
    int FEpoll = -1;
    std::atomic<bool> FStop{false};
    bool FReleased = false;
    bool FGone = false;
    bool FOutput_Waits = false;
    bool FHave_Counters = false;
    TLine_Counters FLast;
    TLine_Watch FLine_Watch = lwNone;
    int FLast_Lines = 0;

    std::thread FLine_Thread;
    std::atomic<bool> FLine_Stop{false};
    std::atomic<bool> FLine_Failed{false};
    std::mutex FLine_Lock;
    std::condition_variable FLine_End;
    bool FLine_Ended = false;
};

} // namespace

void Name_Monitor_Thread(std::thread& Thread) {
    ::pthread_setname_np(Thread.native_handle(), Monitor_Thread_Name);
}

std::unique_ptr<TComm_Event_Wait> TComm_Event_Wait::Create(THandle Handle, std::uint32_t Mask,
                                                           TLine_Counter_Reader Counters) {
    return std::make_unique<TPosix_Event_Wait>(fd_of(Handle), Mask, std::move(Counters));
}
