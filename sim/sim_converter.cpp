#include "sim_converter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// One character on a 115,200 baud 8N1 line: start bit, eight data bits, stop bit.
constexpr std::chrono::nanoseconds char_time(1'000'000'000LL * 10 / 115200);
std::chrono::nanoseconds line_time(std::size_t Characters) {
    return static_cast<long long>(Characters) * char_time;
}
// Paced answers leave in pieces of this many characters, each once its last one would have arrived.
constexpr std::size_t pace_chunk = 8;
// The hangup fault waits for the client to read the last answer, since closing the terminal
// throws away what it has not read: at most linger_limit, and linger_unseen when the client read
// the answer before the simulator ever saw it waiting.
constexpr std::chrono::milliseconds linger_poll(5);
constexpr std::chrono::milliseconds linger_unseen(200);
constexpr std::chrono::milliseconds linger_limit(2000);
// One more than the longest frame before its CR, so an over-long line keeps failing to parse.
constexpr std::size_t max_line = 273;

std::system_error os_error(const std::string& What) {
    return std::system_error(errno, std::generic_category(), What);
}

void close_fd(int& Fd) {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
}

// No echo, no CR translation, no line editing: every character passes as it is.
void make_raw(int Fd) {
    termios settings{};
    if (tcgetattr(Fd, &settings) != 0) return;
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cflag |= CLOCAL | CREAD;
    tcsetattr(Fd, TCSANOW, &settings);
}

struct TPending {
    std::string Line;
    TClock::time_point Ready; // when its CR would have arrived
};

enum class TEnds { enNothing, enAnswer, enAck };

// A piece of an answer waiting to go out.
struct TSegment {
    TSegment(std::string Text, std::chrono::nanoseconds Pause, TEnds Last = TEnds::enNothing,
             bool Hang_Up = false)
        : Data(std::move(Text)), Wait(Pause), Ends(Last), Hang_Up_After(Hang_Up) {}

    std::string Data;
    std::chrono::nanoseconds Wait; // after the previous segment, or after the request was taken
    TEnds Ends;                    // the counter its last character completes
    bool Hang_Up_After;
    std::size_t Sent = 0;
    std::optional<TClock::time_point> Start; // set once it is first in line
};

} // namespace

struct TSimConverter::TImpl {
    explicit TImpl(TSimOptions Opts) : Options(std::move(Opts)), Picker(Options.Fault_Plan) {}

    const TSimOptions Options;
    TSimCounters Counters;
    std::mutex Wait_Mutex;
    std::condition_variable Wait_Cond;
    mutable std::mutex Memory_Mutex;
    TSimMemory Memory;

    std::string Slave_Path;
    bool Started = false;
    bool Link_Made = false;
    int Master = -1;
    int Own_Slave = -1; // held so the master never sees a hang-up between clients; never read
    int Watch = -1;     // inotify on the slave's device node: client opens and closes
    int Wake = -1;
    std::atomic<bool> Stopping{false};
    std::thread Thread;

    // From here on: the serving thread's alone.
    TSimFaultPicker Picker;
    std::string Line;
    std::deque<TPending> Pending;
    std::deque<TSegment> Out;
    bool Out_Blocked = false;
    TClock::time_point Rx_Clock{};     // when the last received character would have arrived
    TClock::time_point Segment_Base{}; // when the previous segment ended, or the request was taken
    int Clients = 0;
    std::optional<TClock::time_point> Linger_Since; // the hangup fault's answer has gone out
    bool Linger_Seen = false;                       // and was seen waiting for the client

    void Notify() {
        // Taking the lock orders the counter change before a waiter's check-then-sleep.
        { std::lock_guard lock(Wait_Mutex); }
        Wait_Cond.notify_all();
    }
    void Bump(std::atomic<std::uint32_t>& Counter, std::uint32_t By = 1) {
        if (By == 0) return;
        Counter.fetch_add(By);
        Notify();
    }

    void Open_Terminal();
    void Make_Link();
    void Close_All();
    void Run();
    std::string Read_Master();
    bool Drain_Watch();
    void End_Session(std::string& Chunk);
    void Take(const std::string& Chunk, TClock::time_point Now);
    void Serve_Due(TClock::time_point Now);
    void Serve(const std::string& Text, TClock::time_point Now);
    void Transmit_Due(TClock::time_point Now);
    std::optional<TClock::time_point> Next_Deadline() const;
    void Check_Linger(TClock::time_point Now, bool Client_Spoke);
    void Hang_Up();
};

void TSimConverter::TImpl::Open_Terminal() {
    Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Master < 0) throw os_error("posix_openpt");
    if (grantpt(Master) != 0 || unlockpt(Master) != 0) throw os_error("grantpt");
    char path[128];
    if (ptsname_r(Master, path, sizeof path) != 0) throw os_error("ptsname_r");
    Slave_Path = path;

    // Holds no lock and is never read, so a client's flock and its reads are its own.
    Own_Slave = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Own_Slave < 0) throw os_error("open " + Slave_Path);
    make_raw(Own_Slave);

    // Opened before the watch, so only clients are counted.
    Watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (Watch < 0 || inotify_add_watch(Watch, path, IN_OPEN | IN_CLOSE) < 0) throw os_error("inotify");
    Wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (Wake < 0) throw os_error("eventfd");
}

void TSimConverter::TImpl::Make_Link() {
    if (Options.Link.empty()) return;
    // Made beside the link and renamed over it, so the link is never missing or half made.
    std::string temporary = Options.Link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(Slave_Path.c_str(), temporary.c_str()) != 0) throw os_error("symlink " + temporary);
    if (std::rename(temporary.c_str(), Options.Link.c_str()) != 0) {
        auto error = os_error("rename to " + Options.Link);
        ::unlink(temporary.c_str());
        throw error;
    }
    Link_Made = true;
}

void TSimConverter::TImpl::Close_All() {
    close_fd(Watch);
    close_fd(Own_Slave);
    close_fd(Master);
    close_fd(Wake);
    if (Link_Made) {
        // Only our own link: someone may have pointed the name elsewhere meanwhile.
        char target[256];
        ssize_t n = ::readlink(Options.Link.c_str(), target, sizeof target);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == Slave_Path)
            ::unlink(Options.Link.c_str());
        Link_Made = false;
    }
}

void TSimConverter::TImpl::Run() {
    while (!Stopping.load() && Master >= 0) {
        auto now = TClock::now();
        Serve_Due(now);
        Transmit_Due(now);
        if (Master < 0) break;

        pollfd fds[] = {{Master, static_cast<short>(POLLIN | (Out_Blocked ? POLLOUT : 0)), 0},
                        {Watch, POLLIN, 0},
                        {Wake, POLLIN, 0}};
        timespec wait{};
        timespec* timeout = nullptr;
        if (auto deadline = Next_Deadline()) {
            auto left = std::max(std::chrono::nanoseconds(0), *deadline - TClock::now());
            wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
            timeout = &wait;
        }
        if (ppoll(fds, 3, timeout, nullptr) < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLOUT) Out_Blocked = false;

        // The bytes are read before the watch is drained: a close seen afterwards may be the
        // close of the client that sent them.
        std::string chunk = Read_Master();
        if (Drain_Watch()) End_Session(chunk);
        if (Master < 0) break;
        if (Linger_Since) {
            Check_Linger(TClock::now(), !chunk.empty());
            continue;
        }
        Take(chunk, TClock::now());
    }
}

std::string TSimConverter::TImpl::Read_Master() {
    std::string chunk;
    char buffer[512];
    for (;;) {
        ssize_t n = ::read(Master, buffer, sizeof buffer);
        if (n > 0)
            chunk.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return chunk;
    }
}

// True when the last client has closed the terminal since the previous call.
bool TSimConverter::TImpl::Drain_Watch() {
    bool ended = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = ::read(Watch, buffer, sizeof buffer);
        if (n <= 0) return ended;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            if (event.mask & IN_OPEN) ++Clients;
            if ((event.mask & IN_CLOSE) && Clients > 0 && --Clients == 0) ended = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
}

void TSimConverter::TImpl::End_Session(std::string& Chunk) {
    // The hangup is still owed when its answer was left unsent.
    bool hang_up = Linger_Since ||
                   std::any_of(Out.begin(), Out.end(), [](const TSegment& s) { return s.Hang_Up_After; });
    Line.clear();
    Pending.clear();
    Out.clear();
    Out_Blocked = false;
    Rx_Clock = {};
    // When a new client has already opened, the bytes just read may be its own: keep them.
    if (Clients == 0) {
        Chunk.clear();
        // Requests still on their way from the closed client, and answers it never read.
        tcflush(Master, TCIFLUSH);
        tcflush(Own_Slave, TCIFLUSH);
        // The terminal stays open here, so the kernel would keep the client's exclusive flag and
        // refuse everyone but root the next open.
        ioctl(Own_Slave, TIOCNXCL);
        make_raw(Own_Slave);
    }
    Bump(Counters.Closes);
    if (hang_up) Hang_Up();
}

void TSimConverter::TImpl::Take(const std::string& Chunk, TClock::time_point Now) {
    for (char c : Chunk) {
        TClock::time_point arrived = Options.Pace ? std::max(Now, Rx_Clock) + char_time : Now;
        Rx_Clock = arrived;
        if (c == '\r') {
            Pending.push_back({std::move(Line), arrived});
            Line.clear();
        } else if (Line.size() < max_line) {
            Line += c;
        }
    }
}

// The converter handles one request at a time: the next waits until the answer has gone out.
void TSimConverter::TImpl::Serve_Due(TClock::time_point Now) {
    while (Master >= 0 && !Linger_Since && Out.empty() && !Pending.empty() && Pending.front().Ready <= Now) {
        std::string text = std::move(Pending.front().Line);
        Pending.pop_front();
        Serve(text, Now);
    }
}

void TSimConverter::TImpl::Serve(const std::string& Text, TClock::time_point Now) {
    auto request = Parse_Request(Text);
    if (!request) {
        Bump(Counters.Rejected);
        return;
    }
    bool write = request->Is_Write();
    auto& kind_counter = write ? Counters.Writes : Counters.Reads;
    TSimFaultHits hits =
        Picker.Pick(write, kind_counter.load() + 1, Counters.Reads.load() + Counters.Writes.load() + 1);

    std::string answer;
    if (!hits.Silent) {
        std::lock_guard lock(Memory_Mutex);
        if (write) {
            Memory.Write(request->Address, request->Data);
        } else {
            std::array<std::uint8_t, TSimMemory::Block> bytes;
            Memory.Read(request->Address, bytes);
            auto spacing = hits.Spaces ? TSimSpacing::spSpaces
                           : hits.CrLf ? TSimSpacing::spCrLf
                                       : TSimSpacing::spNone;
            answer = Encode_Read_Answer(bytes, spacing, hits.Corrupt, hits.Noise);
        }
    }
    // Counted after the memory changed, so a test that waits on the count sees the change.
    Bump(Counters.Faults, hits.Count);
    Bump(kind_counter);

    if (hits.Silent || (write && hits.Drop_Ack)) {
        if (hits.Hang_Up) Hang_Up();
        return;
    }
    std::chrono::nanoseconds wait = hits.Delay;
    if (write && request->Address >= TSimMemory::Prg_Start && request->Address <= TSimMemory::Prg_End)
        wait += Options.Program_Delay;
    Segment_Base = Now;
    if (!write) {
        Out.emplace_back(std::move(answer), wait, TEnds::enAnswer, hits.Hang_Up);
    } else if (hits.Split_Ack) {
        Out.emplace_back(std::string(Sim_Ack.substr(0, 3)), wait);
        Out.emplace_back(std::string(Sim_Ack.substr(3)), hits.Split_Pause, TEnds::enAck, hits.Hang_Up);
    } else {
        Out.emplace_back(std::string(Sim_Ack), wait, TEnds::enAck, hits.Hang_Up);
    }
}

void TSimConverter::TImpl::Transmit_Due(TClock::time_point Now) {
    while (Master >= 0 && !Out.empty() && !Out_Blocked) {
        TSegment& segment = Out.front();
        if (!segment.Start) segment.Start = Segment_Base + segment.Wait;
        if (Now < *segment.Start) return;

        std::size_t due = segment.Data.size();
        if (Options.Pace)
            due = std::min<std::size_t>(due, static_cast<std::size_t>((Now - *segment.Start) / char_time));
        if (due > segment.Sent) {
            ssize_t n = ::write(Master, segment.Data.data() + segment.Sent, due - segment.Sent);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) {
                // The line is gone for this answer; waiting on it would only spin.
                Out.pop_front();
                continue;
            }
            if (n > 0) segment.Sent += static_cast<std::size_t>(n);
            if (segment.Sent < due) {
                Out_Blocked = true;
                return;
            }
        }
        if (segment.Sent < segment.Data.size()) return;

        Segment_Base = Options.Pace ? *segment.Start + line_time(segment.Data.size()) : Now;
        TEnds ends = segment.Ends;
        bool hang_up = segment.Hang_Up_After;
        Out.pop_front();
        if (ends == TEnds::enAnswer) Bump(Counters.Answers);
        if (ends == TEnds::enAck) Bump(Counters.Acks);
        if (hang_up) {
            Linger_Since = Now;
            return;
        }
    }
}

std::optional<TClock::time_point> TSimConverter::TImpl::Next_Deadline() const {
    if (Linger_Since) return TClock::now() + linger_poll;
    if (!Out.empty()) {
        if (Out_Blocked) return std::nullopt; // woken by POLLOUT instead
        const TSegment& segment = Out.front();
        TClock::time_point start = segment.Start ? *segment.Start : Segment_Base + segment.Wait;
        if (!Options.Pace) return start;
        return start + line_time(std::min(segment.Data.size(), segment.Sent + pace_chunk));
    }
    if (!Pending.empty()) return Pending.front().Ready;
    return std::nullopt;
}

// A client that speaks again has done with the answer, and one that purges its input has too.
void TSimConverter::TImpl::Check_Linger(TClock::time_point Now, bool Client_Spoke) {
    int waiting = 0;
    if (::ioctl(Own_Slave, FIONREAD, &waiting) != 0) waiting = 0;
    if (waiting > 0) Linger_Seen = true;
    auto lingered = Now - *Linger_Since;
    if (Client_Spoke || (waiting == 0 && (Linger_Seen || lingered >= linger_unseen)) ||
        lingered >= linger_limit)
        Hang_Up();
}

// Closing both ends is what a client sees when the converter is unplugged: hang-up, then EIO.
void TSimConverter::TImpl::Hang_Up() {
    close_fd(Watch);
    close_fd(Own_Slave);
    close_fd(Master);
    Pending.clear();
    Out.clear();
    Linger_Since.reset();
    Counters.Hung_Up.store(true);
    Notify();
}

TSimConverter::TSimConverter(TSimOptions Options) : FImpl(std::make_unique<TImpl>(std::move(Options))) {}

TSimConverter::~TSimConverter() {
    Stop();
}

void TSimConverter::Start() {
    if (FImpl->Started) throw std::logic_error("simulated converter started twice");
    FImpl->Started = true;
    try {
        FImpl->Open_Terminal();
        FImpl->Make_Link();
    } catch (...) {
        FImpl->Close_All();
        throw;
    }
    FImpl->Thread = std::thread([impl = FImpl.get()] { impl->Run(); });
}

void TSimConverter::Stop() {
    if (FImpl->Thread.joinable()) {
        FImpl->Stopping.store(true);
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(FImpl->Wake, &one, sizeof one);
        FImpl->Thread.join();
    }
    FImpl->Close_All();
}

const std::string& TSimConverter::Slave_Path() const {
    return FImpl->Slave_Path;
}

std::vector<std::uint8_t> TSimConverter::Read_Memory(std::uint32_t Address, std::size_t Count) const {
    std::vector<std::uint8_t> bytes(Count);
    std::lock_guard lock(FImpl->Memory_Mutex);
    FImpl->Memory.Read(Address, bytes);
    return bytes;
}

void TSimConverter::Write_Memory(std::uint32_t Address, std::span<const std::uint8_t> Bytes) {
    std::lock_guard lock(FImpl->Memory_Mutex);
    FImpl->Memory.Write(Address, Bytes);
}

std::uint32_t TSimConverter::Protection() const {
    auto bytes = Read_Memory(TSimMemory::Protection, 4);
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
           bytes[3];
}

void TSimConverter::Set_Protection(std::uint32_t Word) {
    const std::array<std::uint8_t, 4> bytes = {
        static_cast<std::uint8_t>(Word >> 24), static_cast<std::uint8_t>(Word >> 16),
        static_cast<std::uint8_t>(Word >> 8), static_cast<std::uint8_t>(Word)};
    Write_Memory(TSimMemory::Protection, bytes);
}

bool TSimConverter::Save_Memory(const std::string& Path) const {
    auto image = Read_Memory(0, TSimMemory::Size);
    std::string temporary = Path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        file.close();
        if (!file) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), Path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

const TSimCounters& TSimConverter::Counters() const {
    return FImpl->Counters;
}

bool TSimConverter::Wait_For(const std::function<bool(const TSimCounters&)>& Done,
                             std::chrono::milliseconds Timeout) const {
    std::unique_lock lock(FImpl->Wait_Mutex);
    return FImpl->Wait_Cond.wait_for(lock, Timeout, [&] { return Done(FImpl->Counters); });
}
