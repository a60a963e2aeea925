#pragma once
// Health grades of a cell from its latest capacity over its nominal one.
#include <QString>

#include <optional>

namespace library {

// The two limits in percent of the nominal capacity: "良" from good up, "可"
// from fair up, "不良" below.
struct GradeLimits {
    double good = 90.0;
    double fair = 80.0;
};

enum class Grade { Good, Fair, Poor, None };

// Limits fit to grade with: both finite and from 0 up to 1000, fair not above good.
bool LimitsAreValid(const GradeLimits &limits);

// The health in percent: latest over nominal; none without a nominal above 0
// or with a latest that is not a number.
std::optional<double> HealthPercent(double latest, std::optional<double> nominal);

// The grade of a health; none gives Grade::None. A health that shows as the
// limit (89.99999999 from rounding) counts as reaching it.
Grade GradeOf(std::optional<double> health, const GradeLimits &limits);

// "良", "可", "不良", "―".
QString GradeText(Grade grade);
// The grade a text names (trimmed): its GradeText or the word good, fair, poor
// or none in any case; none for any other text.
std::optional<Grade> GradeFromText(const QString &text);

} // namespace library
