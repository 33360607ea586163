#pragma once
// The serial component reports failures by raising ECommError; tests look at what was raised.

#include "comm_types.h"

#include <gtest/gtest.h>

#include <functional>

// The ECommError that Action raises; a test failure when it raises none.
inline ECommError Raised_By(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const ECommError& Error) {
        return Error;
    }
    ADD_FAILURE() << "no ECommError raised";
    return ECommError("", 0);
}
