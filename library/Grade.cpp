#include "library/Grade.h"

#include <cmath>
#include <utility>

namespace library {

bool LimitsAreValid(const GradeLimits &limits)
{
    const auto inRange = [](double v) { return std::isfinite(v) && v >= 0.0 && v <= 1000.0; };
    return inRange(limits.good) && inRange(limits.fair) && limits.fair <= limits.good;
}

std::optional<double> HealthPercent(double latest, std::optional<double> nominal)
{
    if (!nominal || !std::isfinite(*nominal) || *nominal <= 0.0 || !std::isfinite(latest))
        return std::nullopt;
    return latest / *nominal * 100.0;
}

namespace {

// 2250 mAh of 2500 is 90 % to the user even when the division gives a hair less.
bool reaches(double value, double limit)
{
    return value >= limit - 1e-9 * std::max(1.0, std::fabs(limit));
}

} // namespace

Grade GradeOf(std::optional<double> health, const GradeLimits &limits)
{
    if (!health || !std::isfinite(*health))
        return Grade::None;
    if (reaches(*health, limits.good))
        return Grade::Good;
    if (reaches(*health, limits.fair))
        return Grade::Fair;
    return Grade::Poor;
}

QString GradeText(Grade grade)
{
    switch (grade) {
    case Grade::Good: return QStringLiteral("良");
    case Grade::Fair: return QStringLiteral("可");
    case Grade::Poor: return QStringLiteral("不良");
    case Grade::None: break;
    }
    return QStringLiteral("―");
}

std::optional<Grade> GradeFromText(const QString &text)
{
    // Full-width letters typed with a Japanese input method read as the plain ones.
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed();
    const std::pair<Grade, const char *> words[]
        = {{Grade::Good, "good"}, {Grade::Fair, "fair"}, {Grade::Poor, "poor"}, {Grade::None, "none"}};
    for (const auto &[g, word] : words) {
        if (t == GradeText(g) || t.compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
            return g;
    }
    return std::nullopt;
}

} // namespace library
