// Choosing protocols and the other settings controls: mode flags, codes,
// clock menu, visibility and the field layout.
#include "bench/settings_editor.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

namespace {

struct Expected {
    const char* name;
    int code;
    const char* frequency;
    bool turnEnabled;
    bool crcEnabled;
    int truncate;
};

ModeFlags modes(const SimBench& b)
{
    return b.state.settings().modes;
}

}  // namespace

TEST(ProtocolSettings, EveryProtocolSetsItsCodesAndClock)
{
    SimBench b;
    const Expected table[] = {
        {"BISS", 0, "4.8MHZ", true, true, 2},       {"SSI", 1, "2.4MHZ", true, false, 0},
        {"RS485", 2, "2.5MHZ", true, false, 8},     {"TTL", 3, "", false, false, 0},
        {"RS485+AB", 4, "2.5MHZ", false, false, 8}, {"SPI", 5, "3MHZ", true, false, 0},
        {"SPI_CRC", 5, "3MHZ", true, false, 0},     {"rx_485_only", 7, "2.5MHZ", false, false, 0},
        {"Corvane_485", 10, "2.5MHZ", true, false, 8}, {"Tarsk_RS485_422", 11, "19200HZ", true, false, 8},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.name);
        b.chooseProtocol(e.name);
        const InterfaceSettings& s = b.state.settings();
        EXPECT_EQ(s.protocolCode, e.code);
        EXPECT_EQ(b.view.controls().text(Control::FrequencyText), e.frequency);
        EXPECT_EQ(b.view.controls().isEnabled(Control::TurnList), e.turnEnabled);
        EXPECT_EQ(b.view.controls().isEnabled(Control::CrcList), e.crcEnabled);
        EXPECT_EQ(s.truncateBits, e.truncate);
        EXPECT_EQ(b.view.controls().text(Control::TruncateBits), QString::number(e.truncate));
        EXPECT_EQ(s.crcConfig, e.code == 0 ? 0xA1 : 0);
        const bool clockMenu = QString(e.name) == "BISS" || QString(e.name) == "SSI";
        EXPECT_EQ(s.clockCode, QString(e.name) == "BISS" ? 18 : 34);
        EXPECT_EQ(b.view.controls().isEnabled(Control::MenuClock4_8), clockMenu);
        EXPECT_EQ(b.view.controls().isChecked(Control::MenuClock4_8), QString(e.name) == "BISS");
        EXPECT_EQ(b.view.controls().isChecked(Control::MenuClock2_4), QString(e.name) == "SSI");
        EXPECT_EQ(b.view.controls().text(Control::Angle), "");
        // The count, the widths and the labels stay.
        EXPECT_EQ(s.fieldCount, 3u);
        EXPECT_EQ(s.fieldWidth[0], 15);
        EXPECT_EQ(b.view.controls().text(Control::FieldLabel2), "Error");
    }
}

TEST(ProtocolSettings, NoFlagOfTheEarlierProtocolRemains)
{
    SimBench b;
    b.chooseProtocol("RS485+AB");
    EXPECT_TRUE(modes(b).rs485AbMode);
    b.chooseProtocol("TTL");
    EXPECT_TRUE(modes(b).incrementalMode);
    EXPECT_FALSE(modes(b).rs485AbMode);
    b.chooseProtocol("SPI");
    EXPECT_TRUE(modes(b).spiMode);
    EXPECT_FALSE(modes(b).spiCrcMode);
    EXPECT_FALSE(modes(b).incrementalMode);
    b.chooseProtocol("rx_485_only");
    EXPECT_TRUE(modes(b).rxOnlyMode);
    b.chooseProtocol("SSI");
    EXPECT_TRUE(modes(b).syncSerialMode);
    EXPECT_TRUE(modes(b).ssiSelected);
    EXPECT_FALSE(modes(b).rxOnlyMode);
    EXPECT_FALSE(modes(b).spiMode);
    b.chooseProtocol("SPI_CRC");
    EXPECT_TRUE(modes(b).spiMode && modes(b).spiCrcMode);
    EXPECT_FALSE(modes(b).ssiSelected);
}

TEST(ProtocolSettings, Visibility)
{
    SimBench b;
    // At start-up the RS485 and sin/cos buttons are hidden.
    EXPECT_FALSE(b.view.controls().isVisible(Control::ResetAngle));
    EXPECT_FALSE(b.view.controls().isVisible(Control::SincosTest));
    EXPECT_FALSE(b.view.controls().isVisible(Control::WriteEeprom));

    b.chooseProtocol("RS485");
    EXPECT_TRUE(b.view.controls().isVisible(Control::ResetAngle));
    EXPECT_TRUE(b.view.controls().isVisible(Control::ResetMultiTurn));
    EXPECT_TRUE(b.view.controls().isVisible(Control::WriteEeprom));
    EXPECT_TRUE(b.view.controls().isVisible(Control::EepromLamp));
    EXPECT_FALSE(b.view.controls().isVisible(Control::SincosTest));

    b.chooseProtocol("TTL");
    EXPECT_FALSE(b.view.controls().isVisible(Control::ResetAngle));
    EXPECT_FALSE(b.view.controls().isEnabled(Control::Resolution));
    EXPECT_FALSE(b.view.controls().isEnabled(Control::AbsTest));

    b.chooseProtocol("sin_cosine");
    EXPECT_TRUE(b.view.controls().isVisible(Control::SincosTest));
    EXPECT_FALSE(b.view.controls().isVisible(Control::ReadData));
    EXPECT_EQ(b.view.controls().text(Control::FrequencyText), "") << "sin_cosine keeps the text TTL left";

    // Tarsk_RS485_422 changes no visibility.
    b.chooseProtocol("Tarsk_RS485_422");
    EXPECT_TRUE(b.view.controls().isVisible(Control::SincosTest));
    EXPECT_FALSE(b.view.controls().isVisible(Control::ReadData));
}

TEST(ProtocolSettings, TurnAndCrcLists)
{
    SimBench b;
    b.chooseProtocol("SSI");
    b.view.setCurrentIndex(Control::TurnList, 1);
    b.bench->onChosen(Control::TurnList, 1);
    EXPECT_EQ(b.state.settings().turnMode, 1);
    // A protocol whose list is disabled forces "Single turn".
    b.chooseProtocol("RS485+AB");
    EXPECT_EQ(b.state.settings().turnMode, 0);
    EXPECT_EQ(b.view.controls().text(Control::TurnList), "Single turn");

    b.chooseProtocol("SSI");
    b.view.setCurrentIndex(Control::CrcList, 1);
    b.bench->onChosen(Control::CrcList, 1);
    EXPECT_EQ(b.state.settings().crcInvertBits, 0);
    EXPECT_EQ(b.state.settings().crcConfig, 0);
    b.chooseProtocol("BISS");
    EXPECT_EQ(b.state.settings().crcConfig, 0x21);
}

TEST(ProtocolSettings, HtlAsksAboutTheSupply)
{
    SimBench b;
    b.chooseProtocol("HTL");
    EXPECT_EQ(b.view.messages(), QStringList{kMsgHtl24V});
    EXPECT_TRUE(modes(b).htlMode && modes(b).incrementalMode);
    EXPECT_EQ(b.view.controls().text(Control::FrequencyText), "");
}

TEST(ProtocolSettings, ClockMenu)
{
    SimBench b;
    // Clicking the marked item twice: unmarked with an empty text, then marked again.
    b.bench->onMenuItem(Control::MenuClock4_8);
    EXPECT_FALSE(b.view.controls().isChecked(Control::MenuClock4_8));
    EXPECT_EQ(b.view.controls().text(Control::FrequencyText), "");
    EXPECT_EQ(b.state.settings().clockCode, 18);
    b.bench->onMenuItem(Control::MenuClock4_8);
    EXPECT_TRUE(b.view.controls().isChecked(Control::MenuClock4_8));
    EXPECT_EQ(b.view.controls().text(Control::FrequencyText), "4.8MHZ");

    b.bench->onMenuItem(Control::MenuClock9_6);
    EXPECT_EQ(b.state.settings().clockCode, 8);
    EXPECT_TRUE(b.view.controls().isChecked(Control::MenuClock9_6));
    EXPECT_FALSE(b.view.controls().isChecked(Control::MenuClock4_8));

    b.bench->onMenuItem(Control::MenuGray);
    EXPECT_TRUE(b.view.controls().isChecked(Control::MenuGray));
    EXPECT_FALSE(b.view.controls().isChecked(Control::MenuBinary));
    EXPECT_EQ(b.view.controls().text(Control::GrayBinaryText), "Gray");
}

TEST(ProtocolSettings, FieldLayoutFollowsTheCount)
{
    SimBench b;
    EXPECT_EQ(b.state.settings().frameBits, 34);
    b.bench->onSpin(Control::ContentCount, -1);
    b.bench->onSpin(Control::ContentCount, -1);
    EXPECT_EQ(b.view.controls().text(Control::ContentCount), "1");
    EXPECT_EQ(b.state.settings().frameBits, 15);
    for (int k = 2; k <= 10; ++k) {
        EXPECT_FALSE(b.view.controls().isEnabled(fieldWidthControl(k)));
        EXPECT_EQ(b.view.controls().text(fieldWidthControl(k)), "0");
        EXPECT_EQ(b.view.controls().text(fieldValueControl(k)), "");
    }
    EXPECT_TRUE(b.view.controls().isEnabled(fieldWidthControl(1)));

    b.bench->onSpin(Control::ContentCount, -1);
    EXPECT_EQ(b.state.settings().frameBits, 0);
    EXPECT_EQ(b.view.controls().text(fieldValueControl(1)), "0");
    EXPECT_EQ(b.view.controls().text(fieldWidthControl(1)), "15");

    // Below 0 the count is refused when read back, with the range message.
    b.view.clearMessages();
    b.bench->onSpin(Control::ContentCount, -1);
    EXPECT_EQ(b.view.messages(), QStringList{"请输入一个 0 至 10 之间的整数。"});
    b.bench->onSpin(Control::ContentCount, +1);
    EXPECT_EQ(b.state.settings().fieldCount, 0u);
}

TEST(ProtocolSettings, TruncateSpinStopsAtTheEnds)
{
    SimBench b;
    for (int i = 0; i < 5; ++i)
        b.bench->onSpin(Control::TruncateBits, -1);
    EXPECT_EQ(b.view.controls().text(Control::TruncateBits), "0");
    for (int i = 0; i < 70; ++i)
        b.bench->onSpin(Control::TruncateBits, +1);
    EXPECT_EQ(b.view.controls().text(Control::TruncateBits), "64");
    EXPECT_EQ(b.state.settings().truncateBits, 64);
}

TEST(ProtocolSettings, NumericEditsAreValidated)
{
    // A value that does not parse waits in its edit; the next command that
    // takes the settings says so and changes nothing.
    const struct {
        Control edit;
        QString typed;
        QString message;
    } cases[] = {
        {Control::TruncateBits, "x", "请输入一个整数。"},
        {Control::TruncateBits, "65", "请输入一个 0 至 64 之间的整数。"},
        {Control::FieldWidth2, "65", "请输入一个 0 至 64 之间的整数。"},
        {Control::FieldWidth1, "2147483647", "请输入一个 0 至 64 之间的整数。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        SimBench b;
        b.type(c.edit, c.typed);
        b.bench->onSpin(Control::TruncateBits, +1);
        EXPECT_EQ(b.view.messages(), QStringList{c.message});
        EXPECT_EQ(b.state.settings().truncateBits, 2);
        EXPECT_EQ(b.state.settings().fieldWidth[0], 15);
    }
}

TEST(ProtocolSettings, EditingAWidthStopsTheBench)
{
    SimBench b;
    b.state.link.flags.raise(Flag::ReadActive);
    b.type(Control::FieldWidth1, "15");
    EXPECT_TRUE(b.state.link.flags.isUp(Flag::ReadActive)) << "the same width changes nothing";
    b.type(Control::FieldWidth1, "16");
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::ReadActive));
}
