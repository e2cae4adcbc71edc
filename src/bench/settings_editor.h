#pragma once
// The interface settings as the user edits them: the protocol list, the
// clock and code menus, the turn and CRC lists, the field layout and the
// numeric edits. Edits arrive as they are typed and go into the settings;
// a value that does not parse is kept as a pending error and shown (with the
// standard messages of the number input) when a command takes the settings.
#include "bench/bench_context.h"
#include "interface/interface_settings.h"

#include <QString>

inline const QString kMsgHtl24V = QStringLiteral("Please confirm whether the encoder supports 24V power !!!! ");

// The widest field the box can clock: its frame-length byte carries 64 bits.
inline constexpr int kMaxFieldWidth = 64;

class SettingsEditor {
public:
    explicit SettingsEditor(BenchContext& ctx) : ctx_(ctx) {}

    // Start-up texts, list selections, enable and visibility states.
    void initialiseControls();

    // Takes the numeric edits into the settings. On a value that does not
    // parse or is out of range it shows the message and changes nothing.
    bool takeEdits();
    // The message of the last takeEdits() that refused.
    const QString& editError() const { return editError_; }
    // Shows the settings in their controls.
    void writeToControls();

    // Applies the protocol in settings().protocol: presets, menus, visibility.
    void applyProtocol();
    void refreshFieldLayout();

    // --- The user's input ---
    void onEdited(Control c, const QString& text);
    void onProtocolChosen(int index);
    void onClockItem(ClockItem item);
    void onCodeModeItem(int codeMode);
    void onTurnChosen(int index);
    void onCrcChosen(int index);
    void onCountSpin(int direction);
    void onTruncateSpin(int direction);

    // Marks `item` (None: no mark) on the clock menu.
    void markClockItem(ClockItem item);
    void showCodeMode(int codeMode);
    // Reads the ten width texts (an empty or non-numeric one reads as 0).
    void takeWidths();

private:
    void applyVisibility(VisibilityGroup group);
    void onWidthEdited(int field);
    bool takeEdits(bool checkWidths);
    // A label or description that would no longer fit the configuration
    // record is refused: the edit goes back to its previous text.
    bool fitsRecord(Control c, const QString& text) const;

    BenchContext& ctx_;
    QString editError_;
};
