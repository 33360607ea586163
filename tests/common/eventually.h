#pragma once
// Waiting on a condition in tests: polled with short real pauses until it holds or a generous
// bound passes, so a slow machine (a sanitizer build, Wine) never fails a test that a fast one
// passes.

#include <chrono>
#include <thread>

template <class F> bool Eventually(F Condition, std::chrono::milliseconds Bound = std::chrono::seconds(60)) {
    const auto Deadline = std::chrono::steady_clock::now() + Bound;
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > Deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}
