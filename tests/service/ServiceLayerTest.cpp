#include "ExecutablePath.h"
#include "PServiceBase.h"
#include "PStopSignals.h"
#include "TransportSupport.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <ostream>

#include <csignal>

namespace {

struct ModeRow
{
    const char *name;
    QStringList arguments;
    PServiceBase::Mode mode;
};

// Rows print as their names in test listings.
void PrintTo(const ModeRow &row, std::ostream *out)
{
    *out << row.name;
}

class ServiceMode : public ::testing::TestWithParam<ModeRow>
{
};

TEST_P(ServiceMode, ComesFromTheFirstArgument)
{
    QStringList arguments{QStringLiteral("VorelService")};
    arguments += GetParam().arguments;
    EXPECT_EQ(PServiceBase::modeFor(arguments), GetParam().mode);
}

using Mode = PServiceBase::Mode;
INSTANTIATE_TEST_SUITE_P(
    Options, ServiceMode,
    ::testing::Values(ModeRow{"NoArgument", {}, Mode::Run},
                      ModeRow{"Exec", {"-e"}, Mode::Run},
                      ModeRow{"ExecLong", {"-exec", "ignored"}, Mode::Run},
                      ModeRow{"Version", {"-v"}, Mode::Version},
                      ModeRow{"VersionLong", {"-version"}, Mode::Version},
                      ModeRow{"Help", {"-h"}, Mode::Help},
                      ModeRow{"HelpLong", {"-help"}, Mode::Help},
                      ModeRow{"Install", {"-i"}, Mode::Unsupported},
                      ModeRow{"Uninstall", {"-uninstall"}, Mode::Unsupported},
                      ModeRow{"Terminate", {"-t"}, Mode::Unsupported},
                      ModeRow{"Pause", {"-pause"}, Mode::Unsupported},
                      ModeRow{"Resume", {"-r"}, Mode::Unsupported},
                      ModeRow{"Command", {"-c", "128"}, Mode::Unsupported},
                      ModeRow{"DoubleDash", {"--exec"}, Mode::Unknown},
                      ModeRow{"NoDash", {"e"}, Mode::Unknown}),
    [](const auto &info) { return std::string(info.param.name); });

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

TEST(ExecutablePath, IsTheFolderOfTheRunningProgram)
{
    const QString folder = platform::executableDir();
    EXPECT_EQ(folder, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    EXPECT_FALSE(folder.endsWith(QLatin1String("//")));
}

} // namespace
