#include "PStopSignals.h"
#include "TransportSupport.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class StopSignal : public ::testing::TestWithParam<int>
{
};

TEST_P(StopSignal, IsReportedOnceOnTheMainThread)
{
    struct sigaction before = {};
    ::sigaction(GetParam(), nullptr, &before);
    {
        PStopSignals stopSignals;
        ASSERT_TRUE(stopSignals.isArmed());
        QSignalSpy spy(&stopSignals, &PStopSignals::stopRequested);
        ::raise(GetParam());
        ::raise(SIGTERM);
        ASSERT_TRUE(waitFor([&]() { return spy.count() > 0; }, 5000));
        ::raise(GetParam());
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        ASSERT_EQ(spy.count(), 1);
        EXPECT_EQ(spy.at(0).at(0).toInt(), GetParam());
    }
    struct sigaction after = {};
    ::sigaction(GetParam(), nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

std::string signalName(int number)
{
    return number == SIGTERM ? "Terminate" : number == SIGINT ? "Interrupt" : "HangUp";
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto &info) { return signalName(info.param); });

} // namespace
