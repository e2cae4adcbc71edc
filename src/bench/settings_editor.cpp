#include "bench/settings_editor.h"

#include "bench/number_input.h"
#include "common/clock.h"
#include "measure/config_record.h"

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

int labelIndex(Control c)
{
    const int k = static_cast<int>(c) - static_cast<int>(Control::FieldLabel1);
    return k >= 0 && k < kFieldCount ? k : -1;
}

int widthField(Control c)
{
    const int k = static_cast<int>(c) - static_cast<int>(Control::FieldWidth1) + 1;
    return k >= 1 && k <= kFieldCount ? k : 0;
}

}  // namespace

void SettingsEditor::initialiseControls()
{
    BenchView& view = ctx_.view;
    const InterfaceSettings& s = ctx_.settings();
    writeToControls();
    for (int k = 1; k <= kFieldCount; ++k) {
        ctx_.showEditText(fieldWidthControl(k), QString::number(s.fieldWidth[k - 1]));
        ctx_.showEditText(fieldLabelControl(k), s.fieldLabel[k - 1]);
        const bool used = k <= 3;
        view.setEnabled(fieldWidthControl(k), used);
        view.setEnabled(fieldLabelControl(k), used);
    }
    view.setCurrentIndex(Control::DisplayBase, 2);  // "Hex"
    ctx_.showEditText(Control::CaptureSeconds, QString::number(ctx_.state.captureSeconds.load()));
    view.setEnabled(Control::CaptureSeconds, false);
    // The EEPROM value edit and lamp go with their button, as every protocol
    // but RS485 shows them.
    for (Control c : {Control::ResetAngle, Control::ResetMultiTurn, Control::SincosTest, Control::WriteEeprom,
                      Control::EepromValue, Control::EepromLamp})
        view.setVisible(c, false);
}

bool SettingsEditor::takeEdits()
{
    return takeEdits(true);
}

bool SettingsEditor::takeEdits(bool checkWidths)
{
    const TypedTexts& typed = ctx_.state.typed;
    const auto count = parseBoundedInteger(typed.text(Control::ContentCount), 0, 10);
    const auto truncate = parseBoundedInteger(typed.text(Control::TruncateBits), 0, 64);
    const auto gauge = parseBoundedInteger(typed.text(Control::GaugeField), 0, 10);
    const auto seconds = parseBoundedInteger(typed.text(Control::CaptureSeconds), 0, 1000000);
    editError_.clear();
    for (const ParsedNumber* p : {&count, &truncate, &gauge, &seconds}) {
        if (!p->value) {
            editError_ = p->error;
            ctx_.view.showMessage(p->error);
            return false;
        }
    }
    // A width the box cannot clock would also overflow the frame's sums.
    for (int k = 1; checkWidths && k <= kFieldCount; ++k) {
        const QString t = typed.text(fieldWidthControl(k)).trimmed();
        if (t.isEmpty())
            continue;
        const auto width = parseBoundedInteger(t, 0, kMaxFieldWidth);
        if (!width.value) {
            editError_ = width.error;
            ctx_.view.showMessage(width.error);
            return false;
        }
    }
    ctx_.state.captureSeconds = static_cast<int>(*seconds.value);
    ctx_.state.updateSettings([&](InterfaceSettings& s) {
        s.fieldCount = static_cast<unsigned>(*count.value);
        s.truncateBits = static_cast<int>(*truncate.value);
        s.gaugeField = static_cast<int>(*gauge.value);
    });
    return true;
}

void SettingsEditor::writeToControls()
{
    BenchView& view = ctx_.view;
    const InterfaceSettings& s = ctx_.settings();
    view.setCurrentIndex(Control::Protocols, s.protocol);
    ctx_.showEditText(Control::ContentCount, QString::number(s.fieldCount));
    ctx_.showEditText(Control::TruncateBits, QString::number(s.truncateBits));
    ctx_.showEditText(Control::GaugeField, QString::number(s.gaugeField));
    view.setText(Control::FrequencyText, s.frequencyText);
    view.setText(Control::GrayBinaryText, s.codeMode == 128 ? "Gray" : "Binary");
    view.setCurrentIndex(Control::TurnList, s.turnMode == 1 ? 1 : 0);
    view.setCurrentIndex(Control::CrcList, s.crcInverted ? 0 : 1);
    const bool highlighted = s.gaugeField >= 1 && s.gaugeField <= 10 &&
                             static_cast<unsigned>(s.gaugeField) <= s.fieldCount;
    view.setGaugeHighlight(highlighted ? s.gaugeField : 0);
}

void SettingsEditor::takeWidths()
{
    std::array<int, kFieldCount> widths{};
    for (int k = 1; k <= kFieldCount; ++k) {
        const auto w = parseBoundedInteger(ctx_.state.typed.text(fieldWidthControl(k)), 0, kMaxFieldWidth);
        widths[k - 1] = w.value ? static_cast<int>(*w.value) : 0;
    }
    ctx_.state.updateSettings([&](InterfaceSettings& s) { s.fieldWidth = widths; });
}

void SettingsEditor::markClockItem(ClockItem item)
{
    for (const auto& c : kClockItems)
        ctx_.view.setChecked(clockControl(c.item), c.item == item);
    ctx_.state.updateSettings([&](InterfaceSettings& s) { s.clockMark = item; });
}

void SettingsEditor::showCodeMode(int codeMode)
{
    BenchView& view = ctx_.view;
    ctx_.state.updateSettings([&](InterfaceSettings& s) { s.codeMode = codeMode; });
    view.setChecked(Control::MenuGray, codeMode == 128);
    view.setChecked(Control::MenuBinary, codeMode != 128);
    view.setText(Control::GrayBinaryText, codeMode == 128 ? "Gray" : "Binary");
}

void SettingsEditor::applyProtocol()
{
    BenchView& view = ctx_.view;
    ctx_.haltStream(30);

    const int index = ctx_.settings().protocol;
    if (index < 0 || index >= kProtocolCount)
        return;
    const auto protocol = static_cast<Protocol>(index);
    const ProtocolInfo& info = protocolInfo(protocol);
    for (const auto& c : kClockItems)
        view.setEnabled(clockControl(c.item), true);

    ClockItem mark = ClockItem::None;
    ctx_.state.updateSettings([&](InterfaceSettings& s) {
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
        ctx_.state.updateSettings([](InterfaceSettings& s) { s.turnMode = 0; });
    }

    if (takeEdits())
        refreshFieldLayout();
}

void SettingsEditor::applyVisibility(VisibilityGroup group)
{
    BenchView& view = ctx_.view;
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

void SettingsEditor::refreshFieldLayout()
{
    BenchView& view = ctx_.view;
    writeToControls();
    takeWidths();

    const InterfaceSettings& s = ctx_.settings();
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
                ctx_.showEditText(fieldWidthControl(k), "0");
                view.setText(fieldValueControl(k), "");
            }
        }
        ctx_.state.updateSettings([&](InterfaceSettings& st) { st.frameBits = frameBits; });
    } else if (n == 0) {
        for (int k = 1; k <= 10; ++k) {
            view.setEnabled(fieldWidthControl(k), false);
            view.setEnabled(fieldLabelControl(k), false);
            if (k >= 2)
                ctx_.showEditText(fieldWidthControl(k), "0");
            view.setText(fieldValueControl(k), "0");
        }
        ctx_.state.updateSettings([](InterfaceSettings& st) { st.frameBits = 0; });
    }

    bool allFilled = true;
    for (int k = 1; k <= 10; ++k)
        allFilled = allFilled && !ctx_.state.typed.text(fieldWidthControl(k)).isEmpty();
    if (allFilled) {
        view.setButtonColours(Control::ClickingSetting, kColourPressed, kColourNotApplied);
        view.setText(Control::ClickingSetting, "Clicking setting");
        takeEdits();
    } else {
        view.showMessage(kMsgPositiveInteger);
    }
}

// ------------------------------------------------------------ user input

bool SettingsEditor::fitsRecord(Control c, const QString& text) const
{
    ConfigRecordValues v = configRecordValuesOf(ctx_.settings());
    if (c == Control::Description)
        v.description = text;
    else if (const int k = labelIndex(c); k >= 0)
        v.fieldLabel[k] = text;
    ConfigRecordBytes bytes{};
    return !encodeConfigRecord(v, bytes).has_value();
}

void SettingsEditor::onEdited(Control c, const QString& text)
{
    if (c == Control::Description || labelIndex(c) >= 0) {
        if (!fitsRecord(c, text)) {
            // The record has no room for more: keep what fits.
            ctx_.showEditText(c, c == Control::Description ? ctx_.settings().description
                                                            : ctx_.settings().fieldLabel[labelIndex(c)]);
            return;
        }
        ctx_.state.typed.set(c, text);
        ctx_.state.updateSettings([&](InterfaceSettings& s) {
            if (c == Control::Description)
                s.description = text;
            else
                s.fieldLabel[labelIndex(c)] = text;
        });
        return;
    }
    ctx_.state.typed.set(c, text);
    // A value that parses goes into the settings at once; one that does not
    // waits in the typed texts until a command takes the edits and says so.
    auto take = [&](long long min, long long max, auto apply) {
        if (const auto v = parseBoundedInteger(text, min, max); v.value)
            apply(*v.value);
    };
    switch (c) {
    case Control::ContentCount:
        take(0, 10, [&](long long v) { ctx_.state.updateSettings([&](InterfaceSettings& s) { s.fieldCount = static_cast<unsigned>(v); }); });
        break;
    case Control::TruncateBits:
        take(0, 64, [&](long long v) { ctx_.state.updateSettings([&](InterfaceSettings& s) { s.truncateBits = static_cast<int>(v); }); });
        break;
    case Control::GaugeField:
        take(0, 10, [&](long long v) { ctx_.state.updateSettings([&](InterfaceSettings& s) { s.gaugeField = static_cast<int>(v); }); });
        break;
    case Control::CaptureSeconds:
        take(0, 1000000, [&](long long v) { ctx_.state.captureSeconds = static_cast<int>(v); });
        break;
    default:
        if (const int k = widthField(c))
            onWidthEdited(k);
        break;
    }
}

void SettingsEditor::onProtocolChosen(int index)
{
    if (index < 0 || index >= kProtocolCount)
        return;
    ctx_.stopAll();
    ctx_.state.updateSettings([&](InterfaceSettings& s) { s.protocol = index; });
    applyProtocol();
    ctx_.view.setText(Control::Angle, "");
}

void SettingsEditor::onClockItem(ClockItem item)
{
    ctx_.stopAll();
    const ClockItemInfo& info = clockInfo(item);
    if (ctx_.settings().clockMark == item) {
        ctx_.view.setChecked(clockControl(item), false);
        ctx_.state.updateSettings([](InterfaceSettings& s) {
            s.clockMark = ClockItem::None;
            s.frequencyText.clear();
        });
    } else {
        markClockItem(item);
        ctx_.state.updateSettings([&](InterfaceSettings& s) {
            s.clockCode = info.code;
            s.frequencyText = info.caption;
        });
    }
    ctx_.view.setText(Control::FrequencyText, ctx_.settings().frequencyText);
}

void SettingsEditor::onCodeModeItem(int codeMode)
{
    ctx_.stopAll();
    showCodeMode(codeMode == 128 ? 128 : 0);
}

void SettingsEditor::onTurnChosen(int index)
{
    ctx_.stopAll();
    const int turn = index == 1 ? 1 : 0;
    ctx_.state.updateSettings([&](InterfaceSettings& s) { s.turnMode = turn; });
    ctx_.view.setText(Control::Angle, "");
}

void SettingsEditor::onCrcChosen(int index)
{
    const bool inverted = index != 1;
    ctx_.state.updateSettings([&](InterfaceSettings& s) {
        s.crcInverted = inverted;
        s.crcInvertBits = inverted ? kCrcInverted : 0;
        s.crcConfig = s.protocolCode == 0 ? (inverted ? 0xA1 : 0x21) : 0;
    });
    ctx_.view.setText(Control::Angle, "");
}

void SettingsEditor::onWidthEdited(int field)
{
    if (field < 1 || field > 7)
        return;  // width edits 8..10 have no change handler
    if (!takeEdits(false))
        return;
    const int typed = ctx_.state.typed.text(fieldWidthControl(field)).trimmed().toInt();
    if (typed != ctx_.settings().fieldWidth[field - 1])
        ctx_.stopAll();
}

void SettingsEditor::onCountSpin(int direction)
{
    benchSleep(10);
    takeEdits();
    ctx_.flags().lower(Flag::ConfigCmd);
    ctx_.state.updateSettings([&](InterfaceSettings& s) { s.fieldCount += direction < 0 ? -1u : 1u; });
    ctx_.stopAll();
    refreshFieldLayout();
}

void SettingsEditor::onTruncateSpin(int direction)
{
    if (!takeEdits())
        return;
    ctx_.state.updateSettings([&](InterfaceSettings& s) {
        if (direction < 0 && s.truncateBits > 0)
            --s.truncateBits;
        else if (direction > 0 && s.truncateBits < 64)
            ++s.truncateBits;
    });
    writeToControls();
}
