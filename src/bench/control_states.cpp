#include "bench/control_states.h"

#include "interface/protocol_table.h"

ControlStates::ControlStates()
{
    QStringList protocols;
    for (const auto& p : protocolTable())
        protocols << QString::fromUtf8(p.name.data(), static_cast<int>(p.name.size()));
    items_[static_cast<int>(Control::Protocols)] = protocols;
    items_[static_cast<int>(Control::TurnList)] = {QStringLiteral("Single turn"), QStringLiteral("Multiturn")};
    items_[static_cast<int>(Control::CrcList)] = {QStringLiteral("inverted"), QStringLiteral("notinverted")};
    items_[static_cast<int>(Control::DisplayBase)] = {QStringLiteral("Binary"), QStringLiteral("Decimal"),
                                                      QStringLiteral("Hex")};
    for (int c = 0; c < kControlCount; ++c) {
        if (items_[c].isEmpty())
            continue;
        states_[c].index = 0;
        states_[c].text = items_[c].front();
    }
}

template <typename Change>
void ControlStates::write(Control c, std::uint32_t fields, Change&& change)
{
    const int i = static_cast<int>(c);
    std::function<void()> notice;
    Observer observer;
    ControlState after;
    {
        std::lock_guard lock(mutex_);
        change(states_[i], items_[i]);
        if (order_.empty())
            notice = notice_;
        if (pending_[i] == 0)
            order_.push_back(c);
        pending_[i] |= fields;
        observer = observer_;
        if (observer)
            after = states_[i];
    }
    if (notice)
        notice();
    if (observer)
        observer(c, after);
}

void ControlStates::setText(Control c, const QString& text)
{
    write(c, kFieldText | kFieldIndex, [&](ControlState& s, const QStringList& items) {
        s.text = text;
        if (!items.isEmpty()) {
            s.index = static_cast<int>(items.indexOf(text));
            if (s.index < 0)
                s.text.clear();
        }
    });
}

void ControlStates::setEnabled(Control c, bool on)
{
    write(c, kFieldEnabled, [&](ControlState& s, const QStringList&) { s.enabled = on; });
}

void ControlStates::setVisible(Control c, bool on)
{
    write(c, kFieldVisible, [&](ControlState& s, const QStringList&) { s.visible = on; });
}

void ControlStates::setChecked(Control c, bool on)
{
    write(c, kFieldChecked, [&](ControlState& s, const QStringList&) { s.checked = on; });
}

void ControlStates::setCurrentIndex(Control c, int index)
{
    write(c, kFieldIndex | kFieldText, [&](ControlState& s, const QStringList& items) {
        s.index = index;
        if (!items.isEmpty())
            s.text = index >= 0 && index < items.size() ? items[index] : QString();
    });
}

void ControlStates::setLamp(Control c, LampImage image)
{
    write(c, kFieldLamp, [&](ControlState& s, const QStringList&) { s.lamp = image; });
}

void ControlStates::setProgress(Control c, int value)
{
    write(c, kFieldProgress, [&](ControlState& s, const QStringList&) { s.progress = value; });
}

void ControlStates::setButtonColours(Control c, QColor pressed, QColor normal)
{
    write(c, kFieldColours, [&](ControlState& s, const QStringList&) {
        s.pressed = pressed;
        s.normal = normal;
    });
}

void ControlStates::setGaugeHighlight(int field)
{
    for (int k = 1; k <= kFieldColumns; ++k)
        write(fieldWidthControl(k), kFieldHighlight, [&](ControlState& s, const QStringList&) { s.highlighted = k == field; });
}

void ControlStates::setGaugeValue(double value)
{
    write(Control::Gauge, kFieldValue, [&](ControlState& s, const QStringList&) {
        s.value = value;
        ++gaugeRedraws_;
    });
}

ControlState ControlStates::state(Control c) const
{
    std::lock_guard lock(mutex_);
    return states_[static_cast<int>(c)];
}

int ControlStates::gaugeHighlight() const
{
    std::lock_guard lock(mutex_);
    for (int k = 1; k <= kFieldColumns; ++k)
        if (states_[static_cast<int>(fieldWidthControl(k))].highlighted)
            return k;
    return 0;
}

std::uint64_t ControlStates::gaugeRedraws() const
{
    std::lock_guard lock(mutex_);
    return gaugeRedraws_;
}

QStringList ControlStates::items(Control list) const
{
    std::lock_guard lock(mutex_);
    return items_[static_cast<int>(list)];
}

void ControlStates::setChangeNotice(std::function<void()> notice)
{
    std::lock_guard lock(mutex_);
    notice_ = std::move(notice);
}

std::vector<ControlChange> ControlStates::takeChanges()
{
    std::lock_guard lock(mutex_);
    std::vector<ControlChange> changes;
    changes.reserve(order_.size());
    for (Control c : order_) {
        changes.push_back({c, pending_[static_cast<int>(c)]});
        pending_[static_cast<int>(c)] = 0;
    }
    order_.clear();
    return changes;
}

void ControlStates::setObserver(Observer observer)
{
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}
