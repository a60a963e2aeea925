#pragma once
// Health grades of a cell from its latest capacity over its nominal one.
#include <QString>

#include <optional>

namespace library {

// The two limits in percent of the nominal capacity: "良" from good up, "可"
// from fair up, "不良" below. And, when set, the largest internal resistance
// (mΩ) and the largest self-discharge (mV per day) a "良" and a "可" cell may
// have: a cell above the "良" one is "可" at the best, above the "可" one "不良".
struct GradeLimits {
    GradeLimits() = default;
    GradeLimits(double good, double fair, std::optional<double> goodResistance = std::nullopt,
        std::optional<double> fairResistance = std::nullopt, std::optional<double> goodSelfDischarge = std::nullopt,
        std::optional<double> fairSelfDischarge = std::nullopt)
        : good(good)
        , fair(fair)
        , goodResistance(goodResistance)
        , fairResistance(fairResistance)
        , goodSelfDischarge(goodSelfDischarge)
        , fairSelfDischarge(fairSelfDischarge)
    { }

    double good = 90.0;
    double fair = 80.0;
    std::optional<double> goodResistance; // none: no limit
    std::optional<double> fairResistance;
    std::optional<double> goodSelfDischarge;
    std::optional<double> fairSelfDischarge;
};

enum class Grade { Good, Fair, Poor, None };

// Limits fit to grade with: both finite and from 0 up to 1000, fair not above
// good; each figure's limit set finite and above 0, the "良" one not above the "可" one.
bool LimitsAreValid(const GradeLimits &limits);

// The health in percent: latest over nominal; none without a nominal above 0
// or with a latest that is not a number.
std::optional<double> HealthPercent(double latest, std::optional<double> nominal);

// The grade of a health; none gives Grade::None. A health that shows as the
// limit (89.99999999 from rounding) counts as reaching it.
Grade GradeOf(std::optional<double> health, const GradeLimits &limits);

// The grade of a cell by its health (byHealth) and its latest figures, where
// known: a figure above a limit lowers the grade as GradeLimits says. A cell
// without a grade by health has none (the figures alone judge no cell).
Grade GradeWithFigures(
    Grade byHealth, std::optional<double> resistance, std::optional<double> selfDischarge, const GradeLimits &limits);

// "良", "可", "不良", "―".
QString GradeText(Grade grade);
// The grade a text names (trimmed): its GradeText or the word good, fair, poor
// or none in any case; none for any other text.
std::optional<Grade> GradeFromText(const QString &text);

} // namespace library
