#pragma once
// The main window's controls as the bench set them: one thread-safe model,
// written by the operations (any thread), mirrored onto the widgets by the
// window on the GUI thread, read by quillmark-tool and asserted by tests.
// Writes never wait for the screen: the window is told that something
// changed and takes the changes when its event loop comes to them.
#include "bench/control.h"

#include <QColor>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

struct ControlState {
    QString text;          // caption, edit text, label, or a list's current entry
    bool enabled = true;
    bool visible = true;
    bool checked = false;  // check boxes and menu check marks
    int index = -1;        // a list's current entry (-1: none)
    LampImage lamp = LampImage::Unlit;
    int progress = 0;
    QColor pressed, normal;    // owner-drawn buttons
    double value = 0;          // the gauge's value
    bool highlighted = false;  // the width edit marked as the gauge's field
};

// Which parts of a control changed.
enum ControlField : std::uint32_t {
    kFieldText = 1u << 0,
    kFieldEnabled = 1u << 1,
    kFieldVisible = 1u << 2,
    kFieldChecked = 1u << 3,
    kFieldIndex = 1u << 4,
    kFieldLamp = 1u << 5,
    kFieldProgress = 1u << 6,
    kFieldColours = 1u << 7,
    kFieldValue = 1u << 8,
    kFieldHighlight = 1u << 9,
};

struct ControlChange {
    Control control;
    std::uint32_t fields;  // ControlField bits
};

class ControlStates {
public:
    // Every list holds its entries with the first one current; every other
    // control is empty, enabled and visible.
    ControlStates();
    ControlStates(const ControlStates&) = delete;
    ControlStates& operator=(const ControlStates&) = delete;

    // --- Written by the bench ---
    void setText(Control c, const QString& text);  // a list: the entry of that text (none when absent)
    void setEnabled(Control c, bool on);
    void setVisible(Control c, bool on);
    void setChecked(Control c, bool on);
    void setCurrentIndex(Control c, int index);    // a list: its text follows
    void setLamp(Control c, LampImage image);
    void setProgress(Control c, int value);
    void setButtonColours(Control c, QColor pressed, QColor normal);
    // Marks width edit `field` (0: none) as the gauge's field.
    void setGaugeHighlight(int field);
    // The gauge's value; each call is a redraw, even of the same value.
    void setGaugeValue(double value);

    // --- Read by anyone ---
    ControlState state(Control c) const;
    QString text(Control c) const { return state(c).text; }
    bool isEnabled(Control c) const { return state(c).enabled; }
    bool isVisible(Control c) const { return state(c).visible; }
    bool isChecked(Control c) const { return state(c).checked; }
    int currentIndex(Control c) const { return state(c).index; }
    LampImage lamp(Control c) const { return state(c).lamp; }
    int progress(Control c) const { return state(c).progress; }
    QColor pressedColour(Control c) const { return state(c).pressed; }
    QColor normalColour(Control c) const { return state(c).normal; }
    double gaugeValue() const { return state(Control::Gauge).value; }
    int gaugeHighlight() const;
    std::uint64_t gaugeRedraws() const;
    // A list's entries (empty for other controls).
    QStringList items(Control list) const;

    // --- The window's mirror ---
    // Called (on the writer's thread, outside the lock) when a change comes
    // while none is waiting to be taken: the window posts one update.
    void setChangeNotice(std::function<void()> notice);
    // The changes since the last take, each control once, in the order of
    // its first change.
    std::vector<ControlChange> takeChanges();

    // Every write, on the writer's thread, outside the lock (the tool's
    // echo of new values).
    using Observer = std::function<void(Control, const ControlState&)>;
    void setObserver(Observer observer);

private:
    template <typename Change>
    void write(Control c, std::uint32_t fields, Change&& change);

    mutable std::mutex mutex_;
    std::array<ControlState, kControlCount> states_;
    std::array<QStringList, kControlCount> items_;
    std::array<std::uint32_t, kControlCount> pending_{};
    std::vector<Control> order_;
    std::uint64_t gaugeRedraws_ = 0;
    std::function<void()> notice_;
    Observer observer_;
};
