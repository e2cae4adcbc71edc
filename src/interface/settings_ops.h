#pragma once
// Handlers of the interface settings controls, the protocol selection and
// the field layout refresh.
#include "interface/interface_settings.h"

#include <QString>
#include <optional>

class Bench;

inline const QString kMsgNotInteger = QStringLiteral("请输入一个整数。");
inline const QString kMsgRangeTemplate = QStringLiteral("请输入一个 %1 至 %2 之间的整数。");
inline const QString kMsgPositiveInteger = QStringLiteral("Please enter a positive integer");
inline const QString kMsgHtl24V = QStringLiteral("Please confirm whether the encoder supports 24V power !!!! ");

// Parses a numeric edit the way the window validates it; on failure returns
// the message to show.
struct ParsedNumber {
    std::optional<long long> value;
    QString error;
};
ParsedNumber parseBoundedInteger(const QString& text, long long min, long long max);

class InterfaceSettingsOps {
public:
    explicit InterfaceSettingsOps(Bench& bench) : bench_(bench) {}

    // Start-up texts, list selections, enable and visibility states.
    void initialiseControls();

    // Moves the settings between the record and their controls. Reading
    // validates the numeric edits; on a refused value it shows the message
    // and changes nothing.
    bool readFromControls();
    void writeToControls();

    void applyProtocol();
    void refreshFieldLayout();

    void onProtocolChanged();
    void onClockItem(ClockItem item);
    void onCodeModeItem(int codeMode);
    void onTurnChanged();
    void onCrcChanged();
    void onWidthEdited(int field);
    void onCountSpin(int direction);
    void onTruncateSpin(int direction);

    // Reads the ten width edits (an empty or non-numeric edit reads as 0).
    void readWidthEdits();
    // Marks `item` (None: no mark) on the clock menu.
    void markClockItem(ClockItem item);
    void showCodeMode(int codeMode);

private:
    void applyVisibility(VisibilityGroup group);
    Bench& bench_;
};
