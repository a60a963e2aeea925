#include "library/Grade.h"

#include <cmath>
#include <utility>

namespace library {

bool LimitsAreValid(const GradeLimits &limits)
{
    const auto inRange = [](double v) { return std::isfinite(v) && v >= 0.0 && v <= 1000.0; };
    const auto figure = [](const std::optional<double> &v) { return !v || (std::isfinite(*v) && *v > 0.0); };
    const auto ordered = [](const std::optional<double> &good, const std::optional<double> &fair) {
        return !good || !fair || *good <= *fair;
    };
    return inRange(limits.good) && inRange(limits.fair) && limits.fair <= limits.good && figure(limits.goodResistance)
        && figure(limits.fairResistance) && figure(limits.goodSelfDischarge) && figure(limits.fairSelfDischarge)
        && ordered(limits.goodResistance, limits.fairResistance)
        && ordered(limits.goodSelfDischarge, limits.fairSelfDischarge);
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

Grade GradeWithFigures(
    Grade byHealth, std::optional<double> resistance, std::optional<double> selfDischarge, const GradeLimits &limits)
{
    if (byHealth == Grade::None)
        return Grade::None;
    Grade g = byHealth;
    const auto lower = [&g](const std::optional<double> &value, const std::optional<double> &good,
                           const std::optional<double> &fair) {
        if (!value)
            return;
        if (fair && *value > *fair)
            g = Grade::Poor;
        else if (good && *value > *good && g == Grade::Good)
            g = Grade::Fair;
    };
    lower(resistance, limits.goodResistance, limits.fairResistance);
    lower(selfDischarge, limits.goodSelfDischarge, limits.fairSelfDischarge);
    return g;
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
