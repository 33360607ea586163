// The event objects that transfers wait on.

#include "comm_objs.h"
#include "pty_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

TEST(Events, ManualResetStaysSignalledUntilResetAndReleasesItsHandle) {
    const int Before = Open_Descriptors();
    {
        TSimpleEvent Event;
        EXPECT_NE(Event.Handle(), Invalid_Handle);
        EXPECT_EQ(Event.WaitFor(0), wrTimeout);
        Event.SetEvent();
        Event.SetEvent();
        EXPECT_EQ(Event.WaitFor(0), wrSignaled);
        EXPECT_EQ(Event.WaitFor(0), wrSignaled);
        Event.ResetEvent();
        EXPECT_EQ(Event.WaitFor(0), wrTimeout);
    }
    EXPECT_EQ(Open_Descriptors(), Before);
}

TEST(Events, AutoResetLetsOneWaitThrough) {
    TEvent Event(nullptr, false, true, "");
    EXPECT_EQ(Event.WaitFor(0), wrSignaled);
    EXPECT_EQ(Event.WaitFor(0), wrTimeout);
}

TEST(Events, AWaitWithoutLimitEndsWhenAnotherThreadSetsTheEvent) {
    TSimpleEvent Event;
    auto Waiter = std::async(std::launch::async, [&] { return Event.WaitFor(Infinite); });
    Event.SetEvent();
    ASSERT_EQ(Waiter.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(Waiter.get(), wrSignaled);
}
