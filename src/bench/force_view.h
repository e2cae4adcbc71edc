#pragma once
// The force dialog as the force test sees it, and the dialog's input. The
// window implements the view with its ForceDialog (calls from any thread are
// applied on the GUI thread, and dropped while no dialog is open); tests
// implement it with a recorder.
#include "force/force_core.h"

#include <QString>
#include <array>

// What the dialog hands the bench.
enum class ForceInput {
    Enter,       // "ENTER": confirm the name
    NameEdited,  // the name field's text as typed
    StartStop,   // "START" / "STOP"
    LiveTick,    // the dialog's 100 ms timer during an attempt
    Close,       // "Back to home" or the window's close box
};

class ForceView {
public:
    virtual ~ForceView() = default;

    // The gauge's value (newtons), then a redraw.
    virtual void setGaugeValue(double newtons) = 0;
    // The live field below the gauge and the record field, "%.3f".
    virtual void setLiveText(const QString& text) = 0;
    virtual void setRecordText(const QString& text) = 0;
    // "ENTER" shows 127, 255, 0 while the name is confirmed, else 210, 105, 30.
    virtual void setNameConfirmed(bool confirmed) = 0;
    // During an attempt: caption "STOP"; "ENTER", the name field and "Back to
    // home" disabled; the live timer ticking every 100 ms. Otherwise
    // "START", all enabled, the live timer stopped.
    virtual void setAttemptRunning(bool running) = 0;
    virtual void setTopList(const std::array<ForceTopRow, ForceTopList::kRows>& rows) = 0;
};
