#pragma once
// The calibration dialog's access code and the parameter byte its three
// combos choose.
#include <QString>
#include <cstdint>
#include <span>

// The code that unlocks the calibration steps. It keeps a service step from
// being started by accident; it is not a secret.
inline constexpr char kCalAccessCode[] = "482";

struct CalAccessCheck {
    bool granted = false;
    QString message;  // shown when not granted
};

// Compares the typed code exactly (no trimming, case-sensitive): "482"
// grants; an empty code gives "密码不能为空", anything else "密码输入错误".
CalAccessCheck checkCalibrationAccessCode(const QString& typed);

// One combo item: its text as listed and the code it stands for.
struct CalComboItem {
    const char* text;  // UTF-8
    int code;
};

std::span<const CalComboItem> calDirectionItems();  // "CCW/CW:"
std::span<const CalComboItem> calPolePairItems();   // "极对数:"
std::span<const CalComboItem> calCarrierItems();    // "载波频率:"

// carrier × 4 + direction × 128 + pole pairs × 8.
constexpr std::uint8_t calibParamOfCodes(int direction, int polePairs, int carrier)
{
    return static_cast<std::uint8_t>(carrier * 4 + direction * 128 + polePairs * 8);
}

// The parameter of the three combos' selected items (list indices); an
// index outside a list counts as its first item.
std::uint8_t calibParamOfSelection(int directionIndex, int polePairIndex, int carrierIndex);

// With the first item of each combo selected: "    O", "  无UVW信号", "    25K".
inline constexpr std::uint8_t kInitialCalibParam = 4;
