#include "calibration/cal_access.h"

#include <iterator>

namespace {

constexpr CalComboItem kDirection[] = {{"    O", 0}, {"    N", 1}};
constexpr CalComboItem kPolePairs[] = {
    {"  无UVW信号", 0}, {"  一对极", 1}, {"  二对极", 2}, {"  三对极", 3}, {"  四对极", 4},
    {"  五对极", 5},    {"  六对极", 6}, {"  八对极", 8}, {"  十对极", 9}, {"  十六对极", 10},
};
constexpr CalComboItem kCarrier[] = {{"    25K", 1}, {"    31.25k", 0}};

int codeAt(std::span<const CalComboItem> items, int index)
{
    if (index < 0 || index >= static_cast<int>(items.size()))
        index = 0;
    return items[static_cast<std::size_t>(index)].code;
}

}  // namespace

CalAccessCheck checkCalibrationAccessCode(const QString& typed)
{
    CalAccessCheck check;
    if (typed == QLatin1String(kCalAccessCode)) {
        check.granted = true;
    } else {
        check.message = typed.isEmpty() ? QStringLiteral("密码不能为空") : QStringLiteral("密码输入错误");
    }
    return check;
}

std::span<const CalComboItem> calDirectionItems()
{
    return kDirection;
}

std::span<const CalComboItem> calPolePairItems()
{
    return kPolePairs;
}

std::span<const CalComboItem> calCarrierItems()
{
    return kCarrier;
}

std::uint8_t calibParamOfSelection(int directionIndex, int polePairIndex, int carrierIndex)
{
    return calibParamOfCodes(codeAt(kDirection, directionIndex), codeAt(kPolePairs, polePairIndex),
                             codeAt(kCarrier, carrierIndex));
}
