#pragma once
// The interface options of the box commands: checked before the box is
// touched, then put into the bench as the user would set them.
#include "bench/control.h"
#include "headless/options.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

class HeadlessBench;

extern const QSet<QString> kInterfaceOptions;

struct InterfaceChoice {
    std::optional<int> protocol;
    std::optional<QStringList> widths;
    std::optional<QStringList> labels;
    std::optional<int> turn;
    std::optional<Control> code;
    std::optional<int> crc;
    std::optional<Control> clock;
    std::optional<QString> gaugeField;
    std::optional<QString> config;
};

// Throws UsageError on a bad option.
InterfaceChoice interfaceChoice(const Options& o);
// List choices, menu items and typed edits, as the user makes them. False
// (message shown) when a configuration file could not be loaded.
bool applyInterface(HeadlessBench& hb, const InterfaceChoice& c);
