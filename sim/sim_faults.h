#pragma once
// Faults the simulated converter can inject into its answers, each chosen by frame number or at
// random from a seed.

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

enum class TSimFaultKind {
    fkDropAck,  // writes: the bytes are stored but the acknowledgement is not sent
    fkSplitAck, // writes: the acknowledgement leaves in two parts, "ACK" and "O.K.", Pause apart
    fkCorrupt,  // reads: the answer carries the complement of its checksum
    fkSpaces,   // reads: the answer has a space after every 8 data digits
    fkCrLf,     // reads: the answer has CR LF after every 32 data digits (spaces wins if both hit)
    fkNoise,    // reads: the digits of the answer's first zero byte arrive as two NULs
    fkDelay,    // any frame: the answer leaves Pause later
    fkSilent,   // any frame: ignored, neither executed nor answered
    fkHangUp    // any frame: the terminal is closed once the client has read the frame's answer
                // (or has spoken again, or after 2 s), since a hang-up discards unread input
};

// One fault and the frames it hits. Frames are numbered from 1 in the order the simulator takes
// them, counting only well-formed frames of the kind the fault applies to: reads for corrupt,
// spaces, crlf and noise, writes for drop-ack and split-ack, every frame for delay, silent and hangup.
// So drop-ack@3 hits the third write and hangup@3 closes the terminal after the third frame.
struct TSimFault {
    static constexpr std::uint32_t No_End = UINT32_MAX;

    TSimFaultKind Kind = TSimFaultKind::fkDelay;
    std::uint32_t First = 1;
    std::uint32_t Last = 1; // No_End: every frame from First on
    double Probability = 0; // above 0: each frame is hit with this chance instead of First..Last
    std::chrono::milliseconds Pause{0};
};

struct TSimFaultPlan {
    std::vector<TSimFault> Faults;
    std::uint64_t Seed = 1; // the same seed picks the same frames
};

// The command-line form KIND[=MS]@WHEN:
//   KIND  drop-ack, split-ack, corrupt, spaces, crlf, noise, delay, silent, hangup
//   MS    the pause of delay (default 1000) or split-ack (default 50), in milliseconds
//   WHEN  N (frame N), N-M (frames N to M), N- (frame N and all after), random:P (0 < P <= 1)
// e.g. "drop-ack@3", "delay=2000@2-4", "silent@7-", "corrupt@random:0.1".
// Returns nothing and says why in Error when Text does not fit.
std::optional<TSimFault> Parse_Fault(std::string_view Text, std::string& Error);

// What the plan does to one frame.
struct TSimFaultHits {
    bool Drop_Ack = false;
    bool Split_Ack = false;
    bool Corrupt = false;
    bool Spaces = false;
    bool CrLf = false;
    bool Noise = false;
    bool Silent = false;
    bool Hang_Up = false;
    std::chrono::milliseconds Delay{0};
    std::chrono::milliseconds Split_Pause{0};
    std::uint32_t Count = 0; // faults that hit
};

// Walks a plan frame by frame; random picks draw only for frames a fault applies to, so the
// frames hit depend on the seed and the order of frames alone.
class TSimFaultPicker {
public:
    explicit TSimFaultPicker(const TSimFaultPlan& Plan);

    // Kind_Number: the frame's number among reads (or writes); Frame_Number: among all frames.
    TSimFaultHits Pick(bool Write, std::uint32_t Kind_Number, std::uint32_t Frame_Number);

private:
    std::vector<TSimFault> FFaults;
    std::mt19937_64 FRandom;
};
