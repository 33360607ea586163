#pragma once
// The client side for the simulator's tests: a raw terminal opened with plain POSIX calls, and the
// frames written out by hand, so that nothing here shares code with the simulator's parser.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

// Bounds for waiting on a condition: generous, because sanitizer builds on a loaded machine are slow.
inline constexpr std::chrono::milliseconds Patience(10000);

class TTestPort {
public:
    explicit TTestPort(const std::string& Path) : FFd(::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios settings{};
        if (FFd >= 0 && tcgetattr(FFd, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(FFd, TCSANOW, &settings);
        }
    }
    ~TTestPort() { Close(); }
    TTestPort(const TTestPort&) = delete;
    TTestPort& operator=(const TTestPort&) = delete;

    int Fd() const { return FFd; }
    void Close() {
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
    }

    bool Send(std::string_view Text) {
        while (!Text.empty()) {
            pollfd ready{FFd, POLLOUT, 0};
            if (::poll(&ready, 1, static_cast<int>(Patience.count())) <= 0) return false;
            ssize_t n = ::write(FFd, Text.data(), Text.size());
            if (n < 0) return false;
            Text.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Takes characters until Count have come (never more) or Patience has passed.
    std::string Receive(std::size_t Count) {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + Patience;
        while (got.size() < Count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{FFd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count()) + 1) <= 0) break;
            char buffer[512];
            ssize_t n = ::read(FFd, buffer, std::min(sizeof buffer, Count - got.size()));
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Characters waiting right now.
    bool Has_Input() {
        pollfd ready{FFd, POLLIN, 0};
        return ::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN);
    }

    // True once the line reports that the other end has gone.
    bool Wait_Hang_Up() {
        pollfd ready{FFd, POLLIN, 0};
        return ::poll(&ready, 1, static_cast<int>(Patience.count())) > 0 &&
               (ready.revents & (POLLHUP | POLLERR));
    }

private:
    int FFd;
};

inline std::string hex_byte(std::uint8_t Byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", Byte);
    return text;
}

inline std::string header(std::uint8_t Type, std::uint32_t Address, std::uint8_t Code, std::uint32_t Count) {
    char text[15];
    std::snprintf(text, sizeof text, "%02X%06X%02X%04X", Type, Address, Code, Count);
    return text;
}

inline std::string read_request(std::uint32_t Address) {
    return header(0, Address, 0x03, 0x80) + "\r";
}

inline std::string write_frame(std::uint32_t Address, const std::vector<std::uint8_t>& Bytes,
                               std::uint8_t Code = 0x02, std::uint8_t Type = 0) {
    std::string frame = header(Type, Address, Code, static_cast<std::uint32_t>(Bytes.size()));
    std::uint8_t sum = 0;
    for (std::uint8_t b : Bytes) {
        frame += hex_byte(b);
        sum ^= b;
    }
    return frame + hex_byte(sum) + "\r";
}

inline std::string read_answer(const std::vector<std::uint8_t>& Bytes) {
    std::string answer;
    std::uint8_t sum = 0;
    for (std::uint8_t b : Bytes) {
        answer += hex_byte(b);
        sum ^= b;
    }
    return answer + hex_byte(sum);
}

inline const std::string Erased_Answer = std::string(256, 'F') + "00";

inline std::vector<std::uint8_t> pattern(std::size_t Count, std::uint8_t Seed) {
    std::vector<std::uint8_t> bytes(Count);
    for (std::size_t i = 0; i < Count; ++i)
        bytes[i] = static_cast<std::uint8_t>(Seed + 37 * i);
    return bytes;
}
