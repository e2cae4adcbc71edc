// "Power control", the read guard while the power is off, and stop-all, as
// the box sees them.
#include "common/clock.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

using Log = std::vector<std::string>;

TEST(PowerControl, TwoPressesSwitchOffAndOn)
{
    SimBench b;
    b.bench->onCommand(Command::PowerControl);
    b.settle();
    EXPECT_TRUE(b.state.link.flags.isUp(Flag::PowerOffCmd));
    EXPECT_EQ(b.view.controls().normalColour(Control::PowerControl), kColourNotApplied);
    EXPECT_EQ(b.view.controls().pressedColour(Control::PowerControl), kColourNotApplied);
    EXPECT_EQ(b.view.controls().text(Control::PowerControl), "Power Control");
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::StopCmd));

    // Reading is refused while the encoder has no power.
    b.bench->onCommand(Command::ReadData);
    EXPECT_EQ(b.view.messages(), QStringList{kMsgPowerOn});

    b.bench->onCommand(Command::PowerControl);
    b.settle();
    // The stop pulse of the second press is overridden by the held 2C.
    EXPECT_EQ(b.packetLog(), (Log{"6A", "2C", "2C", "4A"}));
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::PowerOffCmd));
    EXPECT_EQ(b.view.controls().normalColour(Control::PowerControl), kColourApplied);
    EXPECT_EQ(b.view.controls().pressedColour(Control::PowerControl), kColourPressed);
    EXPECT_TRUE(b.box->state().powered);
}

TEST(PowerControl, FreezesTheFirstThreeValuesWhenSwitchingOff)
{
    SimBench b;
    b.box->encoder().setSpeedRpm(30);
    ASSERT_TRUE(b.configure());
    b.bench->onCommand(Command::ReadData);
    for (int i = 0; i < 100 && b.view.controls().text(Control::FieldValue2).toLongLong() == 0; ++i)
        benchSleep(20);
    b.bench->onCommand(Command::ReadData);
    b.settle();
    const QString shown[] = {b.view.controls().text(Control::FieldValue1), b.view.controls().text(Control::FieldValue2),
                             b.view.controls().text(Control::FieldValue3)};
    ASSERT_NE(shown[1].toLongLong(), 0) << "the encoder turned while it was read";
    b.bench->onCommand(Command::PowerControl);
    EXPECT_EQ(b.view.controls().text(Control::Frozen1), shown[0]);
    EXPECT_EQ(b.view.controls().text(Control::Frozen2), shown[1]);
    EXPECT_EQ(b.view.controls().text(Control::Frozen3), shown[2]);
}

TEST(PowerControl, StopAllWhilePoweredOffSendsNothing)
{
    SimBench b;
    b.bench->onCommand(Command::PowerControl);
    b.settle();
    b.clearPackets();
    b.bench->stopAll();
    b.settle();
    EXPECT_TRUE(b.packetLog().empty());
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::PowerOffCmd));
    // The colours stay as the switch-off left them.
    EXPECT_EQ(b.view.controls().normalColour(Control::PowerControl), kColourNotApplied);
    // The next press switches off again.
    b.bench->onCommand(Command::PowerControl);
    b.settle();
    EXPECT_EQ(b.packetLog(), (Log{"6A", "2C"}));
}

TEST(PowerControl, Guards)
{
    SimBench noBox({.withBox = false});
    noBox.bench->onCommand(Command::PowerControl);
    EXPECT_EQ(noBox.view.messages(), QStringList{kMsgReconnectUsb});

    SimBench b;
    b.state.link.flags.raise(Flag::ReadActive);
    b.bench->onCommand(Command::PowerControl);
    b.settle();
    EXPECT_TRUE(b.packetLog().empty());
    EXPECT_TRUE(b.view.messages().isEmpty());
}

TEST(StopAll, ReturnsTheBenchToIdle)
{
    SimBench b;
    for (int id = 0; id < kTimerCount; ++id)
        b.view.startTimer(id, kTimerPeriodMs[id]);
    for (Flag f : {Flag::ReadActive, Flag::SaveActive, Flag::PowerOffCmd, Flag::ConfigCmd, Flag::Cal16Cmd,
                   Flag::EepromReadCmd})
        b.state.link.flags.raise(f);
    // The calibration engine's own flags are left to it.
    b.state.link.flags.raise(Flag::CalPCmd);
    b.state.configApplied = true;
    b.state.link.removalSeen = true;
    b.view.setText(Control::ReadData, "Stop display");
    b.view.setEnabled(Control::Resolution, false);
    b.view.setButtonColours(Control::ClickingSetting, kColourPressed, kColourApplied);

    b.bench->stopAll();

    for (int id = 0; id < kTimerCount; ++id)
        EXPECT_FALSE(b.view.timerRunning(id)) << "timer " << id;
    for (Flag f : {Flag::ReadActive, Flag::SaveActive, Flag::PowerOffCmd, Flag::ConfigCmd, Flag::Cal16Cmd,
                   Flag::EepromReadCmd})
        EXPECT_FALSE(b.state.link.flags.isUp(f));
    EXPECT_TRUE(b.state.link.flags.isUp(Flag::CalPCmd));
    EXPECT_FALSE(b.state.configApplied);
    EXPECT_FALSE(b.state.link.removalSeen);
    EXPECT_EQ(b.view.controls().text(Control::ReadData), "Read data");
    EXPECT_EQ(b.view.controls().text(Control::SaveFile), "Save file");
    EXPECT_EQ(b.view.controls().text(Control::ClickingSetting), "Clicking setting");
    EXPECT_TRUE(b.view.controls().isEnabled(Control::Resolution));
    EXPECT_EQ(b.view.controls().normalColour(Control::ClickingSetting), kColourNotApplied);
    EXPECT_EQ(b.view.controls().lamp(Control::CaptureLamp), LampImage::Unlit);
}

TEST(StopAll, FromAWorkerThread)
{
    SimBench b;
    b.state.link.flags.raise(Flag::ReadActive);
    ClockThread worker(benchClock(), [&] { b.bench->stopAll(); });
    worker.join();
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::ReadActive));
    EXPECT_EQ(b.view.controls().text(Control::ReadData), "Read data");
}

TEST(Timers, TicksOfOperationsNotOnTheBenchDoNothing)
{
    SimBench b;
    for (int id = -1; id <= kTimerCount; ++id)
        b.bench->onTimer(id);
    b.settle();
    EXPECT_TRUE(b.packetLog().empty());
}
