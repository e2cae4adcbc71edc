#include "interface/frame_display.h"

#include "app/bench.h"
#include "interface/frame_decoder.h"
#include "interface/settings_ops.h"

FrameLayout frameLayoutOf(const InterfaceSettings& s)
{
    FrameLayout l;
    l.fieldCount = static_cast<int>(s.fieldCount > 10 ? 11 : s.fieldCount);
    l.fieldWidth = s.fieldWidth;
    l.fieldMask = s.fieldMask;
    l.turnMode = s.turnMode;
    l.modes = s.modes;
    l.gaugeField = s.gaugeField;
    return l;
}

void FrameDisplay::decodeFrame(std::int64_t v)
{
    BenchState& st = bench_.state();
    const FrameLayout layout = frameLayoutOf(st.settingsSnapshot());
    std::array<std::int64_t, kMaxFields> previous{};
    for (int k = 0; k < kMaxFields; ++k)
        previous[k] = st.fieldValue[k].load();
    const DecodedFrame d = decodeFields(v, layout, previous);

    for (int k = 0; k < d.fieldsDecoded; ++k) {
        st.fieldValue[k] = d.fieldValue[k];
        bench_.view().setText(fieldValueControl(k + 1), fieldValueText(d.fieldValue[k]));
    }
    if (d.spiCrcField)
        st.spiCrcField = *d.spiCrcField;
    if (d.gaugeAngle) {
        st.gaugeAngle = *d.gaugeAngle;
        bench_.view().setText(Control::Angle, angleText(*d.gaugeAngle));
    }
}

void FrameDisplay::showRawFrame(std::int64_t v)
{
    const auto base = static_cast<DisplayBase>(bench_.state().displayBase.load());
    bench_.view().setText(Control::RawFrame, rawFrameText(v, base));
}

void FrameDisplay::onGaugeFieldSpin(int direction)
{
    InterfaceSettingsOps& ops = bench_.settingsOps();
    if (!ops.readFromControls())
        return;
    const InterfaceSettings& s = bench_.state().settings();
    int g = s.gaugeField;
    const int n = static_cast<int>(s.fieldCount);
    if (direction < 0) {
        if (g == 0)
            return;
        --g;
    } else if (g <= n) {
        if (g == n || g == 10)
            return;
        ++g;
    }
    bench_.state().updateSettings([&](InterfaceSettings& st) { st.gaugeField = g; });
    decodeFrame(bench_.state().lastRawFrame.load());
    bench_.view().setGaugeValue(bench_.state().gaugeAngle.load());
    ops.writeToControls();
    bench_.view().repaintWindow();
}

void FrameDisplay::onDisplayBaseChanged()
{
    const QString t = bench_.view().text(Control::DisplayBase);
    if (t == "Hex")
        bench_.state().displayBase = static_cast<int>(DisplayBase::Hex);
    else if (t == "Decimal")
        bench_.state().displayBase = static_cast<int>(DisplayBase::Decimal);
    else if (t == "Binary")
        bench_.state().displayBase = static_cast<int>(DisplayBase::Binary);
    showRawFrame(bench_.state().lastRawFrame.load());
}
