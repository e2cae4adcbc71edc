#include "bench/frame_display.h"

#include "bench/settings_editor.h"
#include "interface/frame_decoder.h"

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
    BenchState& st = ctx_.state;
    const FrameLayout layout = frameLayoutOf(st.settingsSnapshot());
    std::array<std::int64_t, kMaxFields> previous{};
    for (int k = 0; k < kMaxFields; ++k)
        previous[k] = st.fieldValue[k].load();
    const DecodedFrame d = decodeFields(v, layout, previous);

    for (int k = 0; k < d.fieldsDecoded; ++k) {
        st.fieldValue[k] = d.fieldValue[k];
        setValueText(k + 1, fieldValueText(d.fieldValue[k]));
    }
    if (d.spiCrcField)
        st.spiCrcField = *d.spiCrcField;
    if (d.gaugeAngle) {
        st.gaugeAngle = *d.gaugeAngle;
        ctx_.view.setText(Control::Angle, angleText(*d.gaugeAngle));
    }
}

QString FrameDisplay::valueText(int k) const
{
    std::lock_guard lock(mutex_);
    return k >= 1 && k <= 10 ? valueTexts_[static_cast<std::size_t>(k - 1)] : QString();
}

void FrameDisplay::setValueText(int k, const QString& text)
{
    if (k < 1 || k > 10)
        return;
    {
        std::lock_guard lock(mutex_);
        valueTexts_[static_cast<std::size_t>(k - 1)] = text;
    }
    ctx_.view.setText(fieldValueControl(k), text);
}

void FrameDisplay::showRawFrame(std::int64_t v)
{
    const auto base = static_cast<DisplayBase>(ctx_.state.displayBase.load());
    ctx_.view.setText(Control::RawFrame, rawFrameText(v, base));
}

void FrameDisplay::onGaugeFieldSpin(int direction)
{
    if (!editor_.takeEdits())
        return;
    const InterfaceSettings& s = ctx_.settings();
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
    ctx_.state.updateSettings([&](InterfaceSettings& st) { st.gaugeField = g; });
    decodeFrame(ctx_.state.lastRawFrame.load());
    ctx_.view.setGaugeValue(ctx_.state.gaugeAngle.load());
    editor_.writeToControls();
    ctx_.view.repaintWindow();
}

void FrameDisplay::onDisplayBaseChosen(int index)
{
    // The list holds "Binary", "Decimal", "Hex" in that order.
    switch (index) {
    case 0: ctx_.state.displayBase = static_cast<int>(DisplayBase::Binary); break;
    case 1: ctx_.state.displayBase = static_cast<int>(DisplayBase::Decimal); break;
    case 2: ctx_.state.displayBase = static_cast<int>(DisplayBase::Hex); break;
    default: break;
    }
    showRawFrame(ctx_.state.lastRawFrame.load());
}
