#include "interface/settings_ops.h"

#include "app/bench.h"
#include "common/bench_clock.h"

namespace {

Control clockControl(ClockItem item)
{
    switch (item) {
    case ClockItem::MHz9_6: return Control::MenuClock9_6;
    case ClockItem::MHz4_8: return Control::MenuClock4_8;
    case ClockItem::MHz2_4: return Control::MenuClock2_4;
    default: return Control::MenuClock1_2;
    }
}

const ClockItemInfo& clockInfo(ClockItem item)
{
    for (const auto& c : kClockItems)
        if (c.item == item)
            return c;
    return kClockItems[1];
}

}  // namespace

ParsedNumber parseBoundedInteger(const QString& text, long long min, long long max)
{
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok);
    if (!ok)
        return {std::nullopt, kMsgNotInteger};
    if (v < min || v > max)
        return {std::nullopt, kMsgRangeTemplate.arg(min).arg(max)};
    return {v, {}};
}

void InterfaceSettingsOps::initialiseControls()
{
    BenchView& view = bench_.view();
    const InterfaceSettings& s = bench_.state().settings();
    writeToControls();
    for (int k = 1; k <= kFieldCount; ++k) {
        view.setText(fieldWidthControl(k), QString::number(s.fieldWidth[k - 1]));
        view.setText(fieldLabelControl(k), s.fieldLabel[k - 1]);
        const bool used = k <= 3;
        view.setEnabled(fieldWidthControl(k), used);
        view.setEnabled(fieldLabelControl(k), used);
    }
    view.setCurrentIndex(Control::DisplayBase, 2);  // "Hex"
    view.setText(Control::CaptureSeconds, QString::number(bench_.state().captureSeconds.load()));
    view.setEnabled(Control::CaptureSeconds, false);
    // The EEPROM value edit and lamp go with their button, as every protocol
    // but RS485 shows them.
    for (Control c : {Control::ResetAngle, Control::ResetMultiTurn, Control::SincosTest, Control::WriteEeprom,
                      Control::EepromValue, Control::EepromLamp})
        view.setVisible(c, false);
}

bool InterfaceSettingsOps::readFromControls()
{
    BenchView& view = bench_.view();
    const auto count = parseBoundedInteger(view.text(Control::ContentCount), 0, 10);
    const auto truncate = parseBoundedInteger(view.text(Control::TruncateBits), 0, 64);
    const auto gauge = parseBoundedInteger(view.text(Control::GaugeField), 0, 10);
    const auto seconds = parseBoundedInteger(view.text(Control::CaptureSeconds), 0, 1000000);
    for (const ParsedNumber* p : {&count, &truncate, &gauge, &seconds}) {
        if (!p->value) {
            view.showMessage(p->error);
            return false;
        }
    }
    const int protocol = view.currentIndex(Control::Protocols);
    const int turn = view.currentIndex(Control::TurnList);
    bench_.state().captureSeconds = static_cast<int>(*seconds.value);
    bench_.state().updateSettings([&](InterfaceSettings& s) {
        if (protocol >= 0 && protocol < kProtocolCount)
            s.protocol = protocol;
        s.fieldCount = static_cast<unsigned>(*count.value);
        s.truncateBits = static_cast<int>(*truncate.value);
        s.gaugeField = static_cast<int>(*gauge.value);
        if (turn >= 0)
            s.turnMode = turn == 1 ? 1 : 0;
    });
    return true;
}

void InterfaceSettingsOps::writeToControls()
{
    BenchView& view = bench_.view();
    const InterfaceSettings& s = bench_.state().settings();
    view.setCurrentIndex(Control::Protocols, s.protocol);
    view.setText(Control::ContentCount, QString::number(s.fieldCount));
    view.setText(Control::TruncateBits, QString::number(s.truncateBits));
    view.setText(Control::GaugeField, QString::number(s.gaugeField));
    view.setText(Control::FrequencyText, s.frequencyText);
    view.setText(Control::GrayBinaryText, s.codeMode == 128 ? "Gray" : "Binary");
    view.setCurrentIndex(Control::TurnList, s.turnMode == 1 ? 1 : 0);
    view.setCurrentIndex(Control::CrcList, s.crcInverted ? 0 : 1);
    const bool highlighted = s.gaugeField >= 1 && s.gaugeField <= 10 &&
                             static_cast<unsigned>(s.gaugeField) <= s.fieldCount;
    view.setGaugeHighlight(highlighted ? s.gaugeField : 0);
}

void InterfaceSettingsOps::readWidthEdits()
{
    std::array<int, kFieldCount> widths{};
    for (int k = 1; k <= kFieldCount; ++k)
        widths[k - 1] = bench_.view().text(fieldWidthControl(k)).trimmed().toInt();
    bench_.state().updateSettings([&](InterfaceSettings& s) { s.fieldWidth = widths; });
}

void InterfaceSettingsOps::markClockItem(ClockItem item)
{
    for (const auto& c : kClockItems)
        bench_.view().setChecked(clockControl(c.item), c.item == item);
    bench_.state().updateSettings([&](InterfaceSettings& s) { s.clockMark = item; });
}

void InterfaceSettingsOps::showCodeMode(int codeMode)
{
    BenchView& view = bench_.view();
    bench_.state().updateSettings([&](InterfaceSettings& s) { s.codeMode = codeMode; });
    view.setChecked(Control::MenuGray, codeMode == 128);
    view.setChecked(Control::MenuBinary, codeMode != 128);
    view.setText(Control::GrayBinaryText, codeMode == 128 ? "Gray" : "Binary");
}

void InterfaceSettingsOps::applyProtocol()
{
    Bench& b = bench_;
    BenchView& view = b.view();
    b.haltStream(30);

    const int index = view.currentIndex(Control::Protocols);
    if (index < 0 || index >= kProtocolCount)
        return;
    const auto protocol = static_cast<Protocol>(index);
    const ProtocolInfo& info = protocolInfo(protocol);
    for (const auto& c : kClockItems)
        view.setEnabled(clockControl(c.item), true);

    ClockItem mark = ClockItem::None;
    b.state().updateSettings([&](InterfaceSettings& s) {
        s.protocol = index;
        s.modes = modeFlagsFor(protocol);
        s.protocolCode = info.protocolCode;
        s.crcConfig = protocol == Protocol::BISS ? (s.crcInverted ? 0xA1 : 0x21) : 0;
        s.truncateBits = info.truncateBitsPreset;
        if (protocol == Protocol::BISS) {
            s.clockCode = 18;
            mark = ClockItem::MHz4_8;
            s.frequencyText = "4.8MHZ";
        } else if (protocol == Protocol::SSI) {
            s.clockCode = 34;
            mark = ClockItem::MHz2_4;
            s.frequencyText = "2.4MHZ";
        } else {
            s.clockCode = 34;
            if (info.frequencyText)
                s.frequencyText = QString::fromUtf8(info.frequencyText->data(),
                                                    static_cast<int>(info.frequencyText->size()));
        }
    });
    b.state().resolutionTruncateBits = b.state().settings().truncateBits;
    view.setEnabled(Control::TurnList, info.turnListEnabled);
    view.setEnabled(Control::CrcList, info.crcListEnabled);
    markClockItem(mark);
    if (mark == ClockItem::None)
        for (const auto& c : kClockItems)
            view.setEnabled(clockControl(c.item), false);

    writeToControls();
    if (protocol == Protocol::HTL)
        view.showMessage(kMsgHtl24V);

    applyVisibility(info.visibility);
    if (!info.turnListEnabled) {
        view.setCurrentIndex(Control::TurnList, 0);
        b.state().updateSettings([](InterfaceSettings& s) { s.turnMode = 0; });
    }

    if (readFromControls())
        refreshFieldLayout();
}

void InterfaceSettingsOps::applyVisibility(VisibilityGroup group)
{
    BenchView& view = bench_.view();
    auto show = [&](std::initializer_list<Control> cs, bool on) {
        for (Control c : cs)
            view.setVisible(c, on);
    };
    const std::initializer_list<Control> eeprom{Control::WriteEeprom, Control::EepromValue, Control::EepromLamp};
    auto tests = [&](bool on) {
        view.setEnabled(Control::Resolution, on);
        view.setEnabled(Control::AbsTest, on);
    };
    switch (group) {
    case VisibilityGroup::SyncLike:
        show({Control::ReadData}, true);
        show({Control::ResetAngle, Control::ResetMultiTurn, Control::SincosTest}, false);
        show(eeprom, false);
        tests(true);
        break;
    case VisibilityGroup::Rs485:
        show({Control::ResetAngle, Control::ResetMultiTurn, Control::ReadData}, true);
        show(eeprom, true);
        show({Control::SincosTest}, false);
        tests(true);
        break;
    case VisibilityGroup::Incremental:
        show({Control::ReadData}, true);
        show({Control::ResetAngle, Control::ResetMultiTurn, Control::SincosTest}, false);
        show(eeprom, false);
        tests(false);
        break;
    case VisibilityGroup::Analog:
        show({Control::SincosTest}, true);
        show({Control::ReadData, Control::ResetAngle, Control::ResetMultiTurn}, false);
        show(eeprom, false);
        tests(false);
        break;
    case VisibilityGroup::RxOnly:
        show({Control::ReadData}, true);
        show({Control::ResetAngle, Control::ResetMultiTurn, Control::SincosTest}, false);
        show(eeprom, false);
        break;
    case VisibilityGroup::Unchanged:
        break;
    }
}

void InterfaceSettingsOps::refreshFieldLayout()
{
    BenchView& view = bench_.view();
    writeToControls();
    readWidthEdits();

    const InterfaceSettings& s = bench_.state().settings();
    const unsigned n = s.fieldCount;
    if (n >= 1 && n <= 10) {
        int frameBits = 0;
        for (unsigned k = 1; k <= 10; ++k) {
            const bool used = k <= n;
            view.setEnabled(fieldWidthControl(k), used);
            view.setEnabled(fieldLabelControl(k), used);
            if (used) {
                frameBits += s.fieldWidth[k - 1];
            } else {
                view.setText(fieldWidthControl(k), "0");
                view.setText(fieldValueControl(k), "");
            }
        }
        bench_.state().updateSettings([&](InterfaceSettings& st) { st.frameBits = frameBits; });
    } else if (n == 0) {
        for (int k = 1; k <= 10; ++k) {
            view.setEnabled(fieldWidthControl(k), false);
            view.setEnabled(fieldLabelControl(k), false);
            if (k >= 2)
                view.setText(fieldWidthControl(k), "0");
            view.setText(fieldValueControl(k), "0");
        }
        bench_.state().updateSettings([](InterfaceSettings& st) { st.frameBits = 0; });
    }

    bool allFilled = true;
    for (int k = 1; k <= 10; ++k)
        allFilled = allFilled && !view.text(fieldWidthControl(k)).isEmpty();
    if (allFilled) {
        view.setButtonColours(Control::ClickingSetting, kColourPressed, kColourNotApplied);
        view.setText(Control::ClickingSetting, "Clicking setting");
        readFromControls();
    } else {
        view.showMessage(kMsgPositiveInteger);
    }
}

void InterfaceSettingsOps::onProtocolChanged()
{
    bench_.stopAll();
    applyProtocol();
    bench_.view().setText(Control::Angle, "");
}

void InterfaceSettingsOps::onClockItem(ClockItem item)
{
    bench_.stopAll();
    const ClockItemInfo& info = clockInfo(item);
    if (bench_.state().settings().clockMark == item) {
        bench_.view().setChecked(clockControl(item), false);
        bench_.state().updateSettings([](InterfaceSettings& s) {
            s.clockMark = ClockItem::None;
            s.frequencyText.clear();
        });
    } else {
        markClockItem(item);
        bench_.state().updateSettings([&](InterfaceSettings& s) {
            s.clockCode = info.code;
            s.frequencyText = info.caption;
        });
    }
    bench_.view().setText(Control::FrequencyText, bench_.state().settings().frequencyText);
}

void InterfaceSettingsOps::onCodeModeItem(int codeMode)
{
    bench_.stopAll();
    showCodeMode(codeMode == 128 ? 128 : 0);
}

void InterfaceSettingsOps::onTurnChanged()
{
    bench_.stopAll();
    const int turn = bench_.view().currentIndex(Control::TurnList) == 1 ? 1 : 0;
    bench_.state().updateSettings([&](InterfaceSettings& s) { s.turnMode = turn; });
    bench_.view().setText(Control::Angle, "");
}

void InterfaceSettingsOps::onCrcChanged()
{
    const bool inverted = bench_.view().currentIndex(Control::CrcList) != 1;
    bench_.state().updateSettings([&](InterfaceSettings& s) {
        s.crcInverted = inverted;
        s.crcInvertBits = inverted ? kCrcInverted : 0;
        s.crcConfig = s.protocolCode == 0 ? (inverted ? 0xA1 : 0x21) : 0;
    });
    bench_.view().setText(Control::Angle, "");
}

void InterfaceSettingsOps::onWidthEdited(int field)
{
    if (field < 1 || field > 7)
        return;  // width edits 8..10 have no change handler
    if (!readFromControls())
        return;
    const int typed = bench_.view().text(fieldWidthControl(field)).trimmed().toInt();
    if (typed != bench_.state().settings().fieldWidth[field - 1])
        bench_.stopAll();
}

void InterfaceSettingsOps::onCountSpin(int direction)
{
    benchSleep(10);
    readFromControls();
    bench_.flags().lower(Flag::ConfigCmd);
    bench_.state().updateSettings([&](InterfaceSettings& s) { s.fieldCount += direction < 0 ? -1u : 1u; });
    bench_.stopAll();
    refreshFieldLayout();
}

void InterfaceSettingsOps::onTruncateSpin(int direction)
{
    if (!readFromControls())
        return;
    bench_.state().updateSettings([&](InterfaceSettings& s) {
        if (direction < 0 && s.truncateBits > 0)
            --s.truncateBits;
        else if (direction > 0 && s.truncateBits < 64)
            ++s.truncateBits;
    });
    bench_.state().resolutionTruncateBits = bench_.state().settings().truncateBits;
    writeToControls();
}
