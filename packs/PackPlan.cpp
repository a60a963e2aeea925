#include "packs/PackPlan.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <numeric>
#include <queue>
#include <random>
#include <vector>

namespace packs {

bool ShapeIsValid(const PackShape &shape)
{
    return shape.series >= 1 && shape.series <= MaxSeries && shape.parallel >= 1 && shape.parallel <= MaxParallel
        && shape.packs >= 1 && shape.packs <= MaxPacks;
}

std::optional<PackShape> ParseShape(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,3})S(?:(\\d{1,2})P)?$"), QRegularExpression::CaseInsensitiveOption);
    // What a Japanese input method types in full width reads as the plain text.
    const auto m = form.match(text.normalized(QString::NormalizationForm_KC).trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    PackShape shape;
    shape.series = m.captured(1).toInt();
    shape.parallel = m.hasCaptured(2) ? m.captured(2).toInt() : 1;
    if (!ShapeIsValid(shape))
        return std::nullopt;
    return shape;
}

QString ShapeText(const PackShape &shape)
{
    return QStringLiteral("%1S%2P").arg(shape.series).arg(shape.parallel);
}

QString CriterionText(Criterion criterion)
{
    return criterion == Criterion::Capacity ? QStringLiteral("容量") : QStringLiteral("容量＋曲線");
}

QString AimText(Aim aim)
{
    return aim == Aim::Capacity ? QStringLiteral("容量優先") : QStringLiteral("揃い優先");
}

std::optional<Aim> ParseAim(const QString &text)
{
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed();
    for (const auto &[aim, word] : {std::pair<Aim, const char *>{Aim::Capacity, "capacity"}, {Aim::Even, "even"}}) {
        if (t == AimText(aim) || t.compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
            return aim;
    }
    return std::nullopt;
}

QString NotEnoughCellsText(int needed, int candidates)
{
    return QStringLiteral("セルが足りません（必要 %1、候補 %2）").arg(needed).arg(candidates);
}

namespace {

// Curve distances between pool cells, worked out once each when the pool is
// small enough to keep them all. NaN: the two share too few levels.
class Distances
{
public:
    explicit Distances(const QList<PoolCell> &pool)
        : m_pool(pool)
    {
        const size_t n = size_t(pool.size());
        if (n <= 3000)
            m_cache.assign(n * n, Unknown);
    }

    double operator()(int a, int b) const
    {
        if (a == b)
            return 0.0;
        if (m_cache.empty())
            return compute(a, b);
        float &slot = m_cache[size_t(a) * size_t(m_pool.size()) + size_t(b)];
        if (slot == Unknown) {
            slot = float(compute(a, b));
            m_cache[size_t(b) * size_t(m_pool.size()) + size_t(a)] = slot;
        }
        return slot;
    }

private:
    static constexpr float Unknown = -1.0f;
    double compute(int a, int b) const
    {
        const auto d = CurveDistance(m_pool.at(a).curve, m_pool.at(b).curve);
        return d ? *d : std::numeric_limits<double>::quiet_NaN();
    }
    const QList<PoolCell> &m_pool;
    mutable std::vector<float> m_cache;
};

// Largest known distance between two of the cells; 0 when no pair has one.
double largestDistance(const std::vector<int> &cells, const Distances &d, int skip = -1)
{
    double largest = 0.0;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (cells[i] == skip)
            continue;
        for (size_t j = i + 1; j < cells.size(); ++j) {
            if (cells[j] == skip)
                continue;
            const double v = d(cells[i], cells[j]);
            if (v > largest)
                largest = v;
        }
    }
    return largest;
}

// Cells swapped between bins to lower the largest curve distance inside a
// scored bin, then the sum of those, while allowed() keeps the capacity side
// as good as required; swapped() hears of each swap made. Bins from scored on
// are not scored (the unused cells).
template <typename Allowed, typename Swapped>
void lowerCurveDistances(
    std::vector<std::vector<int>> &bins, size_t scored, const Distances &d, Allowed allowed, Swapped swapped)
{
    const size_t n = bins.size();
    std::vector<double> metric(n, 0.0);
    for (size_t b = 0; b < scored; ++b)
        metric[b] = largestDistance(bins[b], d);
    // The work a plan may take, so that large pools still answer at once.
    long long budget = 40000000;
    for (int round = 0; round < 5000 && budget > 0; ++round) {
        size_t worst = 0;
        for (size_t b = 1; b < scored; ++b) {
            if (metric[b] > metric[worst])
                worst = b;
        }
        if (metric[worst] <= 0.0)
            return;
        const double oldSum = std::accumulate(metric.begin(), metric.begin() + long(scored), 0.0);
        // Without a pair of the worst bin, its largest distance is that of the
        // remaining cells.
        std::vector<double> without(bins[worst].size());
        for (size_t i = 0; i < bins[worst].size(); ++i)
            without[i] = largestDistance(bins[worst], d, bins[worst][i]);
        budget -= (long long)(bins[worst].size() * bins[worst].size() * bins[worst].size());

        double bestWorst = metric[worst], bestSum = oldSum;
        size_t bestI = 0, bestBin = 0, bestJ = 0;
        bool found = false;
        for (size_t other = 0; other < n; ++other) {
            if (other == worst)
                continue;
            // The largest metric of the bins this swap leaves alone.
            double rest = 0.0;
            for (size_t b = 0; b < scored; ++b) {
                if (b != worst && b != other)
                    rest = std::max(rest, metric[b]);
            }
            const bool otherScored = other < scored;
            std::vector<double> otherWithout;
            if (otherScored) {
                otherWithout.resize(bins[other].size());
                for (size_t j = 0; j < bins[other].size(); ++j)
                    otherWithout[j] = largestDistance(bins[other], d, bins[other][j]);
                budget -= (long long)(bins[other].size() * bins[other].size() * bins[other].size());
            }
            for (size_t i = 0; i < bins[worst].size(); ++i) {
                const int x = bins[worst][i];
                for (size_t j = 0; j < bins[other].size(); ++j) {
                    const int y = bins[other][j];
                    if (!allowed(worst, x, other, y))
                        continue;
                    double w = without[i];
                    for (int z : bins[worst]) {
                        if (z != x) {
                            const double v = d(y, z);
                            if (v > w)
                                w = v;
                        }
                    }
                    double o = 0.0;
                    if (otherScored) {
                        o = otherWithout[j];
                        for (int z : bins[other]) {
                            if (z != y) {
                                const double v = d(x, z);
                                if (v > o)
                                    o = v;
                            }
                        }
                    }
                    budget -= (long long)(bins[worst].size() + bins[other].size());
                    const double newWorst = std::max({rest, w, o});
                    const double newSum = oldSum - metric[worst] + w - (otherScored ? metric[other] - o : 0.0);
                    const bool better
                        = newWorst < bestWorst - 1e-9 || (newWorst <= bestWorst + 1e-9 && newSum < bestSum - 1e-9);
                    if (better) {
                        bestWorst = newWorst;
                        bestSum = newSum;
                        bestI = i;
                        bestBin = other;
                        bestJ = j;
                        found = true;
                    }
                }
            }
        }
        if (!found)
            return;
        swapped(worst, bins[worst][bestI], bestBin, bins[bestBin][bestJ]);
        std::swap(bins[worst][bestI], bins[bestBin][bestJ]);
        metric[worst] = largestDistance(bins[worst], d);
        if (bestBin < scored)
            metric[bestBin] = largestDistance(bins[bestBin], d);
    }
}

// ---- series strings (P = 1) ----

// Start of each window of `series` sorted capacities whose range is at most
// limit, taken from the left without overlap: as many as any choice can have.
std::vector<int> windowsWithin(const std::vector<double> &c, int series, double limit)
{
    std::vector<int> starts;
    const int m = int(c.size());
    for (int i = 0; i + series <= m;) {
        if (c[size_t(i + series - 1)] - c[size_t(i)] <= limit) {
            starts.push_back(i);
            i += series;
        } else {
            ++i;
        }
    }
    return starts;
}

// Two disjoint sets that interleave can always be made into a lower and an
// upper one without widening either range, so some best choice takes K
// windows of neighbours in capacity order; the smallest limit that leaves K
// windows is the best worst range.
std::vector<int> bestWindows(const std::vector<double> &c, int series, int packs)
{
    std::vector<double> ranges;
    for (size_t i = 0; i + size_t(series) <= c.size(); ++i)
        ranges.push_back(c[i + size_t(series) - 1] - c[i]);
    std::sort(ranges.begin(), ranges.end());
    ranges.erase(std::unique(ranges.begin(), ranges.end()), ranges.end());
    size_t lo = 0, hi = ranges.size() - 1;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (int(windowsWithin(c, series, ranges[mid]).size()) >= packs)
            hi = mid;
        else
            lo = mid + 1;
    }
    std::vector<int> starts = windowsWithin(c, series, ranges[lo]);
    // Of more windows than needed, the narrowest; capacity order among them.
    std::stable_sort(starts.begin(), starts.end(), [&](int a, int b) {
        return c[size_t(a + series - 1)] - c[size_t(a)] < c[size_t(b + series - 1)] - c[size_t(b)];
    });
    starts.resize(size_t(packs));
    std::sort(starts.begin(), starts.end());
    return starts;
}

double rangeOf(const std::vector<int> &cells, const QList<PoolCell> &pool, int skip = -1, int add = -1)
{
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    const auto take = [&](int k) {
        lo = std::min(lo, pool.at(k).capacity);
        hi = std::max(hi, pool.at(k).capacity);
    };
    for (int k : cells) {
        if (k != skip)
            take(k);
    }
    if (add >= 0)
        take(add);
    return hi - lo;
}

std::vector<std::vector<int>> planStrings(const QList<PoolCell> &pool, const std::vector<int> &sorted,
    const PackShape &shape, Criterion criterion, std::vector<int> &unused)
{
    std::vector<double> c;
    for (int k : sorted)
        c.push_back(pool.at(k).capacity);
    const std::vector<int> starts = bestWindows(c, shape.series, shape.packs);
    std::vector<std::vector<int>> bins;
    std::vector<char> taken(sorted.size(), 0);
    double worst = 0.0;
    for (int s : starts) {
        std::vector<int> cells;
        for (int i = s; i < s + shape.series; ++i) {
            cells.push_back(sorted[size_t(i)]);
            taken[size_t(i)] = 1;
        }
        worst = std::max(worst, c[size_t(s + shape.series - 1)] - c[size_t(s)]);
        bins.push_back(std::move(cells));
    }
    std::vector<int> rest;
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (!taken[i])
            rest.push_back(sorted[i]);
    }
    if (criterion == Criterion::CapacityAndCurve && shape.series > 1) {
        const double limit = worst * 1.01;
        const Distances d(pool);
        // Single swaps cannot leave one run of neighbours for a far one, so
        // start from the runs within the limit whose curves lie closest, when
        // enough of them are disjoint and they beat the first choice.
        std::vector<std::pair<double, int>> runs;
        for (int i = 0; i + shape.series <= int(c.size()); ++i) {
            if (c[size_t(i + shape.series - 1)] - c[size_t(i)] <= limit) {
                const std::vector<int> cells(sorted.begin() + i, sorted.begin() + i + shape.series);
                runs.push_back({largestDistance(cells, d), i});
            }
        }
        std::stable_sort(runs.begin(), runs.end(),
            [](const std::pair<double, int> &a, const std::pair<double, int> &b) { return a.first < b.first; });
        std::vector<char> inRun(sorted.size(), 0);
        std::vector<int> closest;
        double closestWorst = 0.0;
        for (const auto &[distance, i] : runs) {
            if (int(closest.size()) == shape.packs)
                break;
            if (std::any_of(inRun.begin() + i, inRun.begin() + i + shape.series, [](char t) { return t != 0; }))
                continue;
            std::fill(inRun.begin() + i, inRun.begin() + i + shape.series, char(1));
            closest.push_back(i);
            closestWorst = std::max(closestWorst, distance);
        }
        double firstWorst = 0.0;
        for (const std::vector<int> &cells : bins)
            firstWorst = std::max(firstWorst, largestDistance(cells, d));
        if (int(closest.size()) == shape.packs && closestWorst < firstWorst) {
            std::sort(closest.begin(), closest.end());
            bins.clear();
            rest.clear();
            for (int i : closest)
                bins.emplace_back(sorted.begin() + i, sorted.begin() + i + shape.series);
            for (size_t i = 0; i < sorted.size(); ++i) {
                if (!inRun[i])
                    rest.push_back(sorted[i]);
            }
        }
        bins.push_back(std::move(rest));
        const size_t scored = bins.size() - 1;
        lowerCurveDistances(
            bins, scored, d,
            [&](size_t w, int x, size_t other, int y) {
                if (rangeOf(bins[w], pool, x, y) > limit)
                    return false;
                return other >= scored || rangeOf(bins[other], pool, y, x) <= limit;
            },
            [](size_t, int, size_t, int) {});
        rest = std::move(bins.back());
        bins.pop_back();
    }
    unused = std::move(rest);
    return bins;
}

// ---- parallel groups (P > 1) ----

struct Partial {
    std::vector<double> totals; // largest first
    std::vector<std::vector<int>> members; // positions in the chosen values
    double difference() const { return totals.front() - totals.back(); }
};

void sortPartial(Partial &p)
{
    std::vector<size_t> order(p.totals.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return p.totals[a] > p.totals[b]; });
    Partial q;
    for (size_t i : order) {
        q.totals.push_back(p.totals[i]);
        q.members.push_back(std::move(p.members[i]));
    }
    p = std::move(q);
}

// Differencing for groups of one size: the values, largest first, in slices of
// one value per group; the two partial groupings furthest apart are joined,
// the largest groups of one to the smallest of the other, until one is left.
std::vector<std::vector<int>> differencing(const std::vector<double> &v, int groups, int perGroup)
{
    std::vector<int> order(v.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return v[size_t(a)] > v[size_t(b)]; });
    std::vector<Partial> partials;
    for (int t = 0; t < perGroup; ++t) {
        Partial p;
        for (int g = 0; g < groups; ++g) {
            const int k = order[size_t(t * groups + g)];
            p.totals.push_back(v[size_t(k)]);
            p.members.push_back({k});
        }
        partials.push_back(std::move(p));
    }
    // Larger difference first; the earlier slice on a tie, for one answer.
    using Entry = std::pair<double, int>;
    const auto lower = [](const Entry &a, const Entry &b) {
        return a.first < b.first || (a.first == b.first && a.second > b.second);
    };
    std::priority_queue<Entry, std::vector<Entry>, decltype(lower)> queue(lower);
    for (size_t i = 0; i < partials.size(); ++i)
        queue.push({partials[i].difference(), int(i)});
    while (queue.size() > 1) {
        Partial &a = partials[size_t(queue.top().second)];
        queue.pop();
        const int bi = queue.top().second;
        queue.pop();
        Partial &b = partials[size_t(bi)];
        for (int g = 0; g < groups; ++g) {
            const size_t from = size_t(groups - 1 - g);
            b.totals[from] += a.totals[size_t(g)];
            b.members[from].insert(b.members[from].end(), a.members[size_t(g)].begin(), a.members[size_t(g)].end());
        }
        sortPartial(b);
        queue.push({b.difference(), bi});
    }
    return partials[size_t(queue.top().second)].members;
}

double spreadOf(const std::vector<double> &totals)
{
    const auto [lo, hi] = std::minmax_element(totals.begin(), totals.end());
    return *hi - *lo;
}

// Swaps of two values between a group holding the largest or the smallest
// total and any other group, the best at each step, while the spread of the
// totals (then their squared deviations) falls.
void improveBySwaps(const std::vector<double> &v, std::vector<std::vector<int>> &groups)
{
    const size_t n = groups.size();
    std::vector<double> totals(n, 0.0);
    for (size_t g = 0; g < n; ++g) {
        for (int k : groups[g])
            totals[g] += v[size_t(k)];
    }
    const double mean = std::accumulate(totals.begin(), totals.end(), 0.0) / double(n);
    const auto square = [mean](double t) { return (t - mean) * (t - mean); };
    long long budget = 200000000;
    for (int round = 0; round < 20000 && budget > 0; ++round) {
        std::vector<size_t> order(n);
        std::iota(order.begin(), order.end(), size_t(0));
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return totals[a] > totals[b]; });
        const double spread = totals[order.front()] - totals[order.back()];
        // The largest and smallest totals other than those of groups a and b.
        const auto extremes = [&](size_t a, size_t b, double &hi, double &lo) {
            hi = -std::numeric_limits<double>::infinity();
            lo = std::numeric_limits<double>::infinity();
            for (size_t i = 0, seen = 0; i < n && seen < 1; ++i) {
                if (order[i] != a && order[i] != b) {
                    hi = totals[order[i]];
                    ++seen;
                }
            }
            for (size_t i = n, seen = 0; i > 0 && seen < 1; --i) {
                if (order[i - 1] != a && order[i - 1] != b) {
                    lo = totals[order[i - 1]];
                    ++seen;
                }
            }
        };
        double bestSpread = spread, bestSquares = 0.0;
        for (double t : totals)
            bestSquares += square(t);
        const double oldSquares = bestSquares;
        size_t bg = 0, bh = 0, bi = 0, bj = 0;
        bool found = false;
        for (size_t g : {order.front(), order.back()}) {
            for (size_t h = 0; h < n; ++h) {
                if (h == g)
                    continue;
                double hi, lo;
                extremes(g, h, hi, lo);
                for (size_t i = 0; i < groups[g].size(); ++i) {
                    const double a = v[size_t(groups[g][i])];
                    for (size_t j = 0; j < groups[h].size(); ++j) {
                        const double delta = a - v[size_t(groups[h][j])];
                        if (delta == 0.0)
                            continue;
                        const double tg = totals[g] - delta, th = totals[h] + delta;
                        const double newSpread = std::max({hi, tg, th}) - std::min({lo, tg, th});
                        const double squares
                            = oldSquares - square(totals[g]) - square(totals[h]) + square(tg) + square(th);
                        if (newSpread < bestSpread - 1e-9
                            || (newSpread <= bestSpread + 1e-9 && squares < bestSquares - 1e-9)) {
                            bestSpread = newSpread;
                            bestSquares = squares;
                            bg = g;
                            bh = h;
                            bi = i;
                            bj = j;
                            found = true;
                        }
                    }
                }
                budget -= (long long)(groups[g].size() * groups[h].size());
            }
        }
        if (!found)
            return;
        const double delta = v[size_t(groups[bg][bi])] - v[size_t(groups[bh][bj])];
        totals[bg] -= delta;
        totals[bh] += delta;
        std::swap(groups[bg][bi], groups[bh][bj]);
    }
}

// Number of ways to part count values into groups of perGroup, or more than
// limit.
double groupingCount(int groups, int perGroup)
{
    // count! / (perGroup!^groups groups!)
    double ways = 1.0;
    int left = groups * perGroup;
    for (int g = 0; g < groups; ++g) {
        // The first free value picks its perGroup - 1 partners among the rest.
        double choose = 1.0;
        for (int i = 0; i < perGroup - 1; ++i)
            choose = choose * double(left - 1 - i) / double(i + 1);
        ways *= choose;
        left -= perGroup;
    }
    return ways;
}

// Every grouping, the first free value always opening the next group so that
// no grouping is seen twice; the one with the smallest spread of totals.
void exactSearch(const std::vector<double> &v, int perGroup, std::vector<int> &groupOf, std::vector<double> &totals,
    std::vector<int> &sizes, double &best, std::vector<int> &bestGroupOf, size_t next)
{
    if (next == v.size()) {
        const double s = spreadOf(totals);
        if (s < best) {
            best = s;
            bestGroupOf = groupOf;
        }
        return;
    }
    bool openedEmpty = false;
    for (size_t g = 0; g < totals.size(); ++g) {
        if (sizes[g] == perGroup)
            continue;
        if (sizes[g] == 0) {
            if (openedEmpty)
                continue;
            openedEmpty = true;
        }
        groupOf[next] = int(g);
        // Put back, not subtracted: a million additions and subtractions
        // would leave the totals off by more than the differences looked for.
        const double before = totals[g];
        totals[g] += v[next];
        ++sizes[g];
        // Full groups are final: when two of them are already as far apart as
        // the best, nothing below can do better.
        bool hopeless = false;
        if (sizes[g] == perGroup) {
            for (size_t h = 0; h < totals.size() && !hopeless; ++h)
                hopeless = sizes[h] == perGroup && std::fabs(totals[h] - totals[g]) >= best;
        }
        if (!hopeless)
            exactSearch(v, perGroup, groupOf, totals, sizes, best, bestGroupOf, next + 1);
        --sizes[g];
        totals[g] = before;
    }
}

std::vector<std::vector<int>> groupValues(const std::vector<double> &v, int groups, int perGroup)
{
    if (groupingCount(groups, perGroup) <= 300000) {
        std::vector<int> groupOf(v.size(), 0), bestGroupOf(v.size(), 0);
        std::vector<double> totals(size_t(groups), 0.0);
        std::vector<int> sizes(size_t(groups), 0);
        double best = std::numeric_limits<double>::infinity();
        exactSearch(v, perGroup, groupOf, totals, sizes, best, bestGroupOf, 0);
        std::vector<std::vector<int>> out(static_cast<size_t>(groups));
        for (size_t k = 0; k < v.size(); ++k)
            out[size_t(bestGroupOf[k])].push_back(int(k));
        return out;
    }
    std::vector<std::vector<int>> out = differencing(v, groups, perGroup);
    improveBySwaps(v, out);
    return out;
}

std::vector<std::vector<int>> planGroups(const QList<PoolCell> &pool, const std::vector<int> &sorted,
    const PackShape &shape, Criterion criterion, std::vector<int> &unused)
{
    const int needed = shape.cellsNeeded();
    // The narrowest run of needed neighbours in capacity order.
    size_t first = 0;
    double narrowest = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i + size_t(needed) <= sorted.size(); ++i) {
        const double r = pool.at(sorted[i + size_t(needed) - 1]).capacity - pool.at(sorted[i]).capacity;
        if (r < narrowest) {
            narrowest = r;
            first = i;
        }
    }
    std::vector<int> chosen(sorted.begin() + long(first), sorted.begin() + long(first) + needed);
    unused.assign(sorted.begin(), sorted.begin() + long(first));
    unused.insert(unused.end(), sorted.begin() + long(first) + needed, sorted.end());

    std::vector<double> v;
    for (int k : chosen)
        v.push_back(pool.at(k).capacity);
    const int groupCount = shape.series * shape.packs;
    std::vector<std::vector<int>> groups = groupValues(v, groupCount, shape.parallel);
    for (auto &g : groups) {
        for (int &k : g)
            k = chosen[size_t(k)];
    }
    if (criterion == Criterion::CapacityAndCurve) {
        std::vector<double> totals(groups.size(), 0.0);
        for (size_t g = 0; g < groups.size(); ++g) {
            for (int k : groups[g])
                totals[g] += pool.at(k).capacity;
        }
        const double mean = std::accumulate(totals.begin(), totals.end(), 0.0) / double(totals.size());
        // A spread of a thousandth of a group's capacity is as good as none at
        // the bench; within it the curves may decide.
        const double limit = std::max(spreadOf(totals), mean * 0.001);
        const Distances d(pool);
        lowerCurveDistances(
            groups, groups.size(), d,
            [&](size_t w, int x, size_t other, int y) {
                const double delta = pool.at(x).capacity - pool.at(y).capacity;
                const double tw = totals[w] - delta, to = totals[other] + delta;
                double hi = std::max(tw, to), lo = std::min(tw, to);
                for (size_t g = 0; g < totals.size(); ++g) {
                    if (g != w && g != other) {
                        hi = std::max(hi, totals[g]);
                        lo = std::min(lo, totals[g]);
                    }
                }
                return hi - lo <= limit;
            },
            [&](size_t w, int x, size_t other, int y) {
                const double delta = pool.at(x).capacity - pool.at(y).capacity;
                totals[w] -= delta;
                totals[other] += delta;
            });
    }
    return groups;
}

// ---- the capacity aim ----

// Plans whose capacity lies within this share of the best one count as strong as it, so that one a hair weaker but
// far more even wins.
constexpr double CapacityTolerance = 0.0005;

// The lowest capacity that still counts as strong as best; a rounding error below it counts too.
double admissibleFloor(double best)
{
    return best * (1.0 - CapacityTolerance) - 1e-9 * std::fabs(best);
}

// Totals that differ by less than this differ by rounding only.
double slackOf(double scale)
{
    return 1e-10 * std::max(1.0, std::fabs(scale));
}

constexpr double CurveSlack = 1e-9; // minutes

// A thousandth of a group's capacity is as good as no spread at the bench (as with the Even aim): within it the
// curves may decide. Of the best capacity rather than of a plan's mean, so that the allowance is one for all plans.
double curveAllowance(double spread, double bestCapacity)
{
    return std::max(spread, bestCapacity * 0.001);
}

double choose(int n, int k)
{
    double ways = 1.0;
    for (int i = 0; i < k; ++i)
        ways = ways * double(n - i) / double(i + 1);
    return ways;
}

// Plans the exact search may have to look at: the choices of cells times the ways to bin them.
double planCount(int candidates, int binSize, int binCount)
{
    return choose(candidates, binSize * binCount) * groupingCount(binCount, binSize);
}

// Up to this many plans, and candidates, the search answers within a blink (3S3P from 14 cells are 560,560 plans).
bool searchable(int candidates, int binSize, int binCount)
{
    return candidates <= 24 && planCount(candidates, binSize, binCount) <= 3e6;
}

// Every plan of a small pool: each candidate, strongest first, goes into a bin or stays out. Bins are groups of P,
// judged by their totals, or with P = 1 packs of S single cells, judged by the range inside each. Bins are not told
// apart (a cell opens at most one empty bin), nor are two open groups of one size and total where only the totals
// count, so that the search does not see one plan many times over.
class ExactSearch
{
public:
    enum class Goal {
        Capacity, // the largest weakest group total, every value in a group
        Spread, // the smallest spread with the weakest group from floor up; then the larger capacity
        Curve, // the smallest largest curve distance inside a bin, then the smallest sum of those, then as Spread,
        // with the weakest group from floor up and the spread within allowance
    };
    struct Outcome {
        std::vector<int> binOf; // per value; -1 for none
        double capacity = -std::numeric_limits<double>::infinity();
        double spread = std::numeric_limits<double>::infinity();
        double curveMax = std::numeric_limits<double>::infinity();
        double curveSum = std::numeric_limits<double>::infinity();
    };

    // values strongest first; distance between two values' cells (NaN: unknown, which does not count).
    ExactSearch(
        std::vector<double> values, int binSize, int binCount, bool strings, std::function<double(int, int)> distance)
        : m_values(std::move(values))
        , m_binSize(binSize)
        , m_binCount(size_t(binCount))
        , m_strings(strings)
        , m_distance(std::move(distance))
    {
        m_prefix.assign(m_values.size() + 1, 0.0);
        for (size_t i = 0; i < m_values.size(); ++i)
            m_prefix[i + 1] = m_prefix[i] + m_values[i];
        m_slack = slackOf(m_values.empty() ? 1.0 : m_values.front() * binSize);
    }

    // Betters best for the goal, the first count values being the candidates.
    void search(Goal goal, size_t count, double floor, double allowance, Outcome &best)
    {
        m_goal = goal;
        m_count = std::min(count, m_values.size());
        m_floor = floor;
        m_allowance = allowance;
        m_best = &best;
        m_binOf.assign(m_count, -1);
        m_totals.assign(m_binCount, 0.0);
        m_firsts.assign(m_binCount, 0.0);
        m_lasts.assign(m_binCount, 0.0);
        m_curve.assign(m_binCount, 0.0);
        m_members.assign(m_binCount, {});
        m_sizes.assign(m_binCount, 0);
        m_open = int(m_binCount) * m_binSize;
        m_skips = int(m_count) - m_open;
        if (m_skips >= 0)
            visit(0);
    }

private:
    void visit(size_t next)
    {
        if (m_open == 0) {
            leaf();
            return;
        }
        if (hopeless(next))
            return;
        const double v = m_values[next];
        bool openedEmpty = false;
        for (size_t b = 0; b < m_binCount; ++b) {
            if (m_sizes[b] == m_binSize)
                continue;
            if (m_sizes[b] == 0) {
                if (openedEmpty)
                    continue;
                openedEmpty = true;
            } else if (twinBefore(b)) {
                continue;
            }
            // Put back, not subtracted, so that the totals do not drift over a million steps.
            const double total = m_totals[b], first = m_firsts[b], last = m_lasts[b], curve = m_curve[b];
            if (m_goal == Goal::Curve) {
                for (int other : m_members[b]) {
                    const double d = m_distance(int(next), other);
                    if (d > m_curve[b])
                        m_curve[b] = d;
                }
            }
            if (m_sizes[b] == 0)
                m_firsts[b] = v;
            m_lasts[b] = v;
            m_totals[b] += v;
            m_members[b].push_back(int(next));
            ++m_sizes[b];
            --m_open;
            m_binOf[next] = int(b);
            visit(next + 1);
            m_binOf[next] = -1;
            ++m_open;
            --m_sizes[b];
            m_members[b].pop_back();
            m_totals[b] = total;
            m_firsts[b] = first;
            m_lasts[b] = last;
            m_curve[b] = curve;
        }
        if (m_skips > 0) {
            --m_skips;
            visit(next + 1);
            ++m_skips;
        }
    }

    // An earlier open group in the same state has been tried already (only totals count there).
    bool twinBefore(size_t b) const
    {
        if (m_strings || m_goal == Goal::Curve)
            return false;
        for (size_t a = 0; a < b; ++a) {
            if (m_sizes[a] == m_sizes[b] && m_totals[a] == m_totals[b])
                return true;
        }
        return false;
    }

    // No completion of the bins beats the best: each bin can at most take the strongest values still to come.
    bool hopeless(size_t next) const
    {
        if (m_count - next < size_t(m_open))
            return true;
        const Outcome &best = *m_best;
        double lowestHigh = std::numeric_limits<double>::infinity(), highestLow = m_floor, spreadLow = 0.0;
        for (size_t b = 0; b < m_binCount; ++b) {
            const size_t need = size_t(m_binSize - m_sizes[b]);
            if (m_strings) {
                if (m_sizes[b] > 0)
                    spreadLow = std::max(spreadLow, m_firsts[b] - (need > 0 ? m_values[next] : m_lasts[b]));
                continue;
            }
            lowestHigh = std::min(lowestHigh, m_totals[b] + m_prefix[next + need] - m_prefix[next]);
            if (m_sizes[b] > 0)
                highestLow = std::max(highestLow, m_totals[b]);
        }
        if (!m_strings) {
            if (m_goal == Goal::Capacity)
                return lowestHigh <= best.capacity + m_slack;
            if (lowestHigh < m_floor)
                return true;
            spreadLow = highestLow - lowestHigh;
        }
        // With P = 1 the capacity is settled: every candidate is strong enough.
        const double capacityHigh = m_strings ? best.capacity : lowestHigh;
        if (m_goal == Goal::Spread)
            return !better({spreadLow, -capacityHigh}, {best.spread, -best.capacity});
        if (spreadLow > m_allowance + m_slack)
            return true;
        double curveMax = 0.0, curveSum = 0.0;
        for (double c : m_curve) {
            curveMax = std::max(curveMax, c);
            curveSum += c;
        }
        return !better({curveMax, curveSum, spreadLow, -capacityHigh},
            {best.curveMax, best.curveSum, best.spread, -best.capacity});
    }

    // Figures a ahead of figures b, the first deciding unless equal: curve distances, spreads, capacities
    // (negated, so that the smaller is ahead everywhere).
    bool better(std::initializer_list<double> a, std::initializer_list<double> b) const
    {
        const size_t curves = m_goal == Goal::Curve ? 2 : 0;
        size_t i = 0;
        for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y, ++i) {
            const double slack = i < curves ? CurveSlack : m_slack;
            if (*x < *y - slack)
                return true;
            if (*x > *y + slack)
                return false;
        }
        return false;
    }

    void leaf()
    {
        Outcome o;
        double high = -std::numeric_limits<double>::infinity();
        o.spread = 0.0;
        o.curveMax = 0.0;
        o.curveSum = 0.0;
        for (size_t b = 0; b < m_binCount; ++b) {
            if (m_strings) {
                o.capacity = b == 0 ? m_lasts[b] : std::min(o.capacity, m_lasts[b]);
                o.spread = std::max(o.spread, m_firsts[b] - m_lasts[b]);
            } else {
                o.capacity = b == 0 ? m_totals[b] : std::min(o.capacity, m_totals[b]);
                high = std::max(high, m_totals[b]);
            }
            o.curveMax = std::max(o.curveMax, m_curve[b]);
            o.curveSum += m_curve[b];
        }
        if (!m_strings)
            o.spread = high - o.capacity;
        Outcome &best = *m_best;
        bool ahead = false;
        switch (m_goal) {
        case Goal::Capacity: ahead = o.capacity > best.capacity + m_slack; break;
        case Goal::Spread:
            ahead = o.capacity >= m_floor && better({o.spread, -o.capacity}, {best.spread, -best.capacity});
            break;
        case Goal::Curve:
            ahead = o.capacity >= m_floor && o.spread <= m_allowance + m_slack
                && better({o.curveMax, o.curveSum, o.spread, -o.capacity},
                    {best.curveMax, best.curveSum, best.spread, -best.capacity});
            break;
        }
        if (ahead) {
            o.binOf = m_binOf;
            best = std::move(o);
        }
    }

    const std::vector<double> m_values;
    const int m_binSize;
    const size_t m_binCount;
    const bool m_strings;
    const std::function<double(int, int)> m_distance;
    std::vector<double> m_prefix; // sums of the strongest values: m_prefix[i] of the first i
    double m_slack = 0.0;

    Goal m_goal = Goal::Capacity;
    size_t m_count = 0;
    double m_floor = 0.0;
    double m_allowance = 0.0;
    Outcome *m_best = nullptr;
    std::vector<int> m_binOf;
    std::vector<double> m_totals, m_firsts, m_lasts, m_curve;
    std::vector<std::vector<int>> m_members;
    std::vector<int> m_sizes;
    int m_open = 0; // places left in the bins
    int m_skips = 0; // values that may still stay out
};

// The curve distance between two of a few cells (given by their place in cells), each worked out once.
std::function<double(int, int)> distancesAmong(const QList<PoolCell> &pool, const std::vector<int> &cells)
{
    const size_t n = cells.size();
    auto table = std::make_shared<std::vector<double>>(n * n, 0.0);
    for (size_t a = 0; a < n; ++a) {
        for (size_t b = a + 1; b < n; ++b) {
            const auto d = CurveDistance(pool.at(cells[a]).curve, pool.at(cells[b]).curve);
            (*table)[a * n + b] = (*table)[b * n + a] = d ? *d : std::numeric_limits<double>::quiet_NaN();
        }
    }
    return [table, n](int a, int b) { return (*table)[size_t(a) * n + size_t(b)]; };
}

// The bins of an outcome, as indices of the cells behind the values.
std::vector<std::vector<int>> binsOf(
    const ExactSearch::Outcome &o, const std::vector<int> &cells, int binCount, std::vector<int> &unused)
{
    std::vector<std::vector<int>> bins(static_cast<size_t>(binCount));
    unused.clear();
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i < o.binOf.size() && o.binOf[i] >= 0)
            bins[size_t(o.binOf[i])].push_back(cells[i]);
        else
            unused.push_back(cells[i]);
    }
    return bins;
}

// Groups of P cells and the spare candidates beside them, bettered one exchange at a time: a cell of the weakest or
// the strongest group for one of another group or a spare cell, the best such exchange each time; when none helps,
// two cells for two where groups are small. Until nothing helps, or the work allowed is done, so that large pools
// still answer at once.
class Balancer
{
public:
    Balancer(const QList<PoolCell> &pool, std::vector<std::vector<int>> groups, std::vector<int> spare)
        : m_pool(&pool)
        , m_groups(std::move(groups))
        , m_spare(std::move(spare))
    {
        const auto weaker = [this](int a, int b) { return weakerCell(a, b); };
        for (auto &g : m_groups)
            std::sort(g.begin(), g.end(), weaker);
        std::sort(m_spare.begin(), m_spare.end(), weaker);
        m_totals.resize(m_groups.size());
        for (size_t g = 0; g < m_groups.size(); ++g)
            m_totals[g] = totalOf(g);
        m_reference = std::accumulate(m_totals.begin(), m_totals.end(), 0.0) / double(m_totals.size());
        m_slack = slackOf(m_reference);
    }

    // The weakest group as strong as exchanges between groups make it, then the spread as narrow. The spares stay
    // out: with the strongest cells in the groups none of them could help.
    void raiseCapacity() { search(false, -std::numeric_limits<double>::infinity()); }
    // The spread as narrow as exchanges make it, spares too, while no group falls below floor; then the weakest
    // group as strong.
    void narrowSpread(double floor) { search(true, floor); }

    double capacity() const { return *std::min_element(m_totals.begin(), m_totals.end()); }
    double spread() const { return spreadOf(m_totals); }
    const std::vector<std::vector<int>> &groups() const { return m_groups; }
    const std::vector<int> &spare() const { return m_spare; }

private:
    // What a plan is judged by, the first figure first; the smaller the better.
    struct Key {
        double first, second, third;
    };

    // One or two cells with their capacities' sum.
    struct Pick {
        double sum;
        int a, b; // b -1 for one cell
    };

    struct Move {
        size_t group = 0;
        size_t other = 0; // a group, or m_groups.size() for the spares
        Pick out{0.0, -1, -1}; // the cells leaving group
        Pick in{0.0, -1, -1}; // the cells it takes
        Key key{0.0, 0.0, 0.0};
    };

    // Pairs only in small groups: their number grows with the square of the size, and large groups are even
    // enough with single exchanges.
    static constexpr size_t PairsUpTo = 16;
    static constexpr size_t SparePairsUpTo = 64;
    // Steps of the work allowed: shaking stops beyond the first, exchanges beyond the second.
    static constexpr long long ShakeWork = 4000000;
    static constexpr long long AllWork = 100000000;

    double cap(int k) const { return m_pool->at(k).capacity; }
    bool weakerCell(int a, int b) const { return cap(a) < cap(b) || (cap(a) == cap(b) && a < b); }

    double totalOf(size_t g) const
    {
        double t = 0.0;
        for (int k : m_groups[g])
            t += cap(k);
        return t;
    }

    // The cells of a group (the spares for m_groups.size()) one at a time or two at a time, by ascending sum;
    // kept until an exchange changes them.
    const std::vector<Pick> &picksOf(size_t bin, int size)
    {
        if (m_picks.empty()) {
            m_picks.assign(2 * (m_groups.size() + 1), {});
            m_picksValid.assign(m_picks.size(), 0);
        }
        const size_t slot = bin * 2 + size_t(size - 1);
        std::vector<Pick> &out = m_picks[slot];
        if (m_picksValid[slot])
            return out;
        m_picksValid[slot] = 1;
        const std::vector<int> &cells = bin < m_groups.size() ? m_groups[bin] : m_spare;
        out.clear();
        if (size == 1) {
            for (int k : cells)
                out.push_back({cap(k), k, -1}); // the cells ascend already
            return out;
        }
        for (size_t i = 0; i < cells.size(); ++i) {
            for (size_t j = i + 1; j < cells.size(); ++j)
                out.push_back({cap(cells[i]) + cap(cells[j]), cells[i], cells[j]});
        }
        std::sort(out.begin(), out.end(), [](const Pick &x, const Pick &y) {
            return x.sum < y.sum || (x.sum == y.sum && (x.a < y.a || (x.a == y.a && x.b < y.b)));
        });
        m_work += static_cast<long long>(out.size()) * 4;
        return out;
    }

    bool less(const Key &a, const Key &b) const
    {
        if (a.first < b.first - m_slack)
            return true;
        if (a.first > b.first + m_slack)
            return false;
        if (a.second < b.second - m_slack)
            return true;
        if (a.second > b.second + m_slack)
            return false;
        return a.third < b.third - m_slack * m_slack * double(m_totals.size());
    }

    Key keyNow(bool narrow) const
    {
        const double low = capacity(), high = low + spread();
        const double mean = std::accumulate(m_totals.begin(), m_totals.end(), 0.0) / double(m_totals.size());
        double deviation = 0.0;
        for (double t : m_totals)
            deviation += (t - mean) * (t - mean);
        return narrow ? Key{high - low, -low, deviation} : Key{-low, high - low, deviation};
    }

    // Exchanges until none helps; then, while the work allows, the best plan so far shaken by a few exchanges at
    // random and improved again, the better plan kept (the random draws are the same every time).
    void search(bool narrow, double floor)
    {
        m_work = 0;
        improve(narrow, floor);
        // Large groups come within a hair of even by exchanges alone.
        if (m_groups.size() < 2 || m_groups.front().size() > PairsUpTo)
            return;
        std::mt19937 random(2026);
        State best = state();
        Key bestKey = keyNow(narrow);
        for (int kick = 0; kick < 400 && m_work < ShakeWork; ++kick) {
            for (int i = 0; i < 3; ++i) {
                const size_t g = random() % m_groups.size();
                const size_t h = (g + 1 + random() % (m_groups.size() - 1)) % m_groups.size();
                const int x = m_groups[g][random() % m_groups[g].size()];
                const int y = m_groups[h][random() % m_groups[h].size()];
                apply(Move{g, h, {cap(x), x, -1}, {cap(y), y, -1}, {}});
            }
            improve(narrow, floor);
            const Key key = keyNow(narrow);
            if (capacity() >= floor && less(key, bestKey)) {
                best = state();
                bestKey = key;
            } else {
                restore(best);
            }
        }
        restore(best);
    }

    struct State {
        std::vector<std::vector<int>> groups;
        std::vector<int> spare;
        std::vector<double> totals;
    };
    State state() const { return {m_groups, m_spare, m_totals}; }
    void restore(const State &s)
    {
        m_groups = s.groups;
        m_spare = s.spare;
        m_totals = s.totals;
        std::fill(m_picksValid.begin(), m_picksValid.end(), char(0));
    }

    void improve(bool narrow, double floor)
    {
        const size_t n = m_groups.size();
        const size_t spares = n;
        long long &work = m_work;
        int size = 1;
        while (work < AllWork) {
            std::vector<size_t> order(n);
            std::iota(order.begin(), order.end(), size_t(0));
            std::sort(order.begin(), order.end(),
                [&](size_t a, size_t b) { return m_totals[a] < m_totals[b] || (m_totals[a] == m_totals[b] && a < b); });
            // The weakest and strongest totals of the groups other than a and b.
            const auto restLow = [&](size_t a, size_t b) {
                for (size_t g : order) {
                    if (g != a && g != b)
                        return m_totals[g];
                }
                return std::numeric_limits<double>::infinity();
            };
            const auto restHigh = [&](size_t a, size_t b) {
                for (auto it = order.rbegin(); it != order.rend(); ++it) {
                    if (*it != a && *it != b)
                        return m_totals[*it];
                }
                return -std::numeric_limits<double>::infinity();
            };
            // Squares about a fixed reference near the totals, so that they keep their digits.
            double d1 = 0.0, d2 = 0.0;
            for (double t : m_totals) {
                d1 += t - m_reference;
                d2 += (t - m_reference) * (t - m_reference);
            }
            const auto square = [&](double t) { return (t - m_reference) * (t - m_reference); };
            const auto keyOf = [&](double low, double high, double sum1, double sum2) {
                const double deviation = sum2 - sum1 * sum1 / double(n);
                return narrow ? Key{high - low, -low, deviation} : Key{-low, high - low, deviation};
            };
            Move best;
            best.key = keyOf(m_totals[order.front()], m_totals[order.back()], d1, d2);
            bool found = false;
            // The picks of other whose sums lie nearest to each of group's plus want: both ascend, so one pass
            // finds them.
            const auto nearest
                = [&](const std::vector<Pick> &mine, const std::vector<Pick> &theirs, double want, auto &&judge) {
                      size_t j = 0;
                      for (const Pick &x : mine) {
                          const double at = x.sum + want;
                          while (j + 1 < theirs.size() && theirs[j + 1].sum <= at)
                              ++j;
                          for (size_t c = j; c < std::min(j + 2, theirs.size()); ++c) {
                              if (theirs[c].sum != x.sum)
                                  judge(x, theirs[c]);
                          }
                      }
                      work += static_cast<long long>(mine.size() + theirs.size());
                  };
            std::vector<size_t> ends{order.front()};
            if (n > 1)
                ends.push_back(order.back());
            for (size_t g : ends) {
                const std::vector<Pick> &mine = picksOf(g, size);
                const double tg = m_totals[g];
                for (size_t h = 0; h < n; ++h) {
                    if (h == g)
                        continue;
                    // Every figure betters as the amount moved nears half the difference of the two totals.
                    const double th = m_totals[h];
                    nearest(mine, picksOf(h, size), (th - tg) / 2.0, [&](const Pick &x, const Pick &y) {
                        const double delta = y.sum - x.sum, ng = tg + delta, nh = th - delta;
                        const double low = std::min({restLow(g, h), ng, nh}), high = std::max({restHigh(g, h), ng, nh});
                        if (low < floor)
                            return;
                        const Key key = keyOf(low, high, d1, d2 - square(tg) - square(th) + square(ng) + square(nh));
                        if (less(key, best.key)) {
                            best = Move{g, h, x, y, key};
                            found = true;
                        }
                    });
                }
                if (!narrow || m_spare.empty() || (size == 2 && m_spare.size() > SparePairsUpTo))
                    continue;
                // Spare cells for the group's: its total best near the others' mean (or as high as it goes when it
                // is the only group).
                const double aim = n > 1 ? (d1 + double(n) * m_reference - tg) / double(n - 1)
                                         : std::numeric_limits<double>::infinity();
                nearest(mine, picksOf(spares, size), aim - tg, [&](const Pick &x, const Pick &y) {
                    const double delta = y.sum - x.sum, ng = tg + delta;
                    const double low = std::min(restLow(g, g), ng), high = std::max(restHigh(g, g), ng);
                    if (low < floor)
                        return;
                    const Key key = keyOf(low, high, d1 + delta, d2 - square(tg) + square(ng));
                    if (less(key, best.key)) {
                        best = Move{g, spares, x, y, key};
                        found = true;
                    }
                });
            }
            if (found) {
                apply(best);
                size = 1;
            } else if (size == 1 && m_groups.front().size() >= 2 && m_groups.front().size() <= PairsUpTo) {
                size = 2;
            } else {
                return;
            }
        }
    }

    void apply(const Move &m)
    {
        const auto weaker = [this](int a, int b) { return weakerCell(a, b); };
        const auto swapIn = [&](std::vector<int> &cells, const Pick &out, const Pick &in) {
            for (int k : {out.a, out.b}) {
                if (k >= 0)
                    cells.erase(std::find(cells.begin(), cells.end(), k));
            }
            for (int k : {in.a, in.b}) {
                if (k >= 0)
                    cells.insert(std::lower_bound(cells.begin(), cells.end(), k, weaker), k);
            }
        };
        swapIn(m_groups[m.group], m.out, m.in);
        swapIn(m.other < m_groups.size() ? m_groups[m.other] : m_spare, m.in, m.out);
        if (!m_picksValid.empty()) {
            for (size_t bin : {m.group, m.other})
                m_picksValid[bin * 2] = m_picksValid[bin * 2 + 1] = 0;
        }
        m_totals[m.group] = totalOf(m.group);
        if (m.other < m_groups.size())
            m_totals[m.other] = totalOf(m.other);
    }

    const QList<PoolCell> *m_pool;
    std::vector<std::vector<int>> m_groups; // each weakest first
    std::vector<int> m_spare; // weakest first
    std::vector<double> m_totals;
    double m_reference = 0.0;
    double m_slack = 0.0;
    long long m_work = 0; // steps taken so far
    std::vector<std::vector<Pick>> m_picks; // by bin, then one or two cells
    std::vector<char> m_picksValid;
};

// The cells, strongest first, dealt to the groups one round forth and the next back.
std::vector<std::vector<int>> snakeDeal(const std::vector<int> &cells, int groups)
{
    std::vector<std::vector<int>> out(static_cast<size_t>(groups));
    for (size_t i = 0; i < cells.size(); ++i) {
        const size_t round = i / size_t(groups), place = i % size_t(groups);
        out[round % 2 == 0 ? place : size_t(groups) - 1 - place].push_back(cells[i]);
    }
    return out;
}

// The totals of groups, with the weakest and strongest of those other than one or two, kept up to date as
// exchanges change them.
class TotalsWatch
{
public:
    explicit TotalsWatch(std::vector<double> totals)
        : m_totals(std::move(totals))
        , m_order(m_totals.size())
    {
        std::iota(m_order.begin(), m_order.end(), size_t(0));
        sortOrder();
    }

    double at(size_t g) const { return m_totals[g]; }
    void add(size_t g, double delta)
    {
        m_totals[g] += delta;
        sortOrder();
    }
    double restLow(size_t a, size_t b) const
    {
        for (size_t g : m_order) {
            if (g != a && g != b)
                return m_totals[g];
        }
        return std::numeric_limits<double>::infinity();
    }
    double restHigh(size_t a, size_t b) const
    {
        for (auto it = m_order.rbegin(); it != m_order.rend(); ++it) {
            if (*it != a && *it != b)
                return m_totals[*it];
        }
        return -std::numeric_limits<double>::infinity();
    }

private:
    void sortOrder()
    {
        std::sort(m_order.begin(), m_order.end(), [this](size_t a, size_t b) { return m_totals[a] < m_totals[b]; });
    }
    std::vector<double> m_totals;
    std::vector<size_t> m_order;
};

// The curves matched inside groups by exchanges between groups and with the spares, no group falling below floor
// and the spread staying within limit.
void matchCurves(const QList<PoolCell> &pool, std::vector<std::vector<int>> &groups, std::vector<int> &spare,
    double floor, double limit)
{
    std::vector<double> totals;
    for (const auto &g : groups) {
        double t = 0.0;
        for (int k : g)
            t += pool.at(k).capacity;
        totals.push_back(t);
    }
    TotalsWatch watch(totals);
    std::vector<std::vector<int>> bins = groups;
    bins.push_back(spare);
    const size_t scored = groups.size();
    const Distances d(pool);
    lowerCurveDistances(
        bins, scored, d,
        [&](size_t w, int x, size_t other, int y) {
            const double delta = pool.at(x).capacity - pool.at(y).capacity;
            const double tw = watch.at(w) - delta;
            double low = std::min(watch.restLow(w, other), tw), high = std::max(watch.restHigh(w, other), tw);
            if (other < scored) {
                const double to = watch.at(other) + delta;
                low = std::min(low, to);
                high = std::max(high, to);
            }
            return low >= floor && high - low <= limit;
        },
        [&](size_t w, int x, size_t other, int y) {
            const double delta = pool.at(x).capacity - pool.at(y).capacity;
            watch.add(w, -delta);
            if (other < scored)
                watch.add(other, delta);
        });
    spare = std::move(bins.back());
    bins.pop_back();
    groups = std::move(bins);
}

// Capacity first with P > 1: the largest weakest group total, then the smallest spread of all group totals among
// plans within the tolerance of it, then (with the curve criterion) the curves inside groups within the spread
// allowance; cells of any strength may serve.
std::vector<std::vector<int>> strongGroups(const QList<PoolCell> &pool, const std::vector<int> &sorted,
    const PackShape &shape, Criterion criterion, std::vector<int> &unused)
{
    const std::vector<int> strongest(sorted.rbegin(), sorted.rend());
    const int groupCount = shape.series * shape.packs;
    const int needed = shape.cellsNeeded();

    if (searchable(int(strongest.size()), shape.parallel, groupCount)) {
        std::vector<double> values;
        for (int k : strongest)
            values.push_back(pool.at(k).capacity);
        ExactSearch search(values, shape.parallel, groupCount, false,
            criterion == Criterion::CapacityAndCurve ? distancesAmong(pool, strongest) : nullptr);
        // Some strongest plan takes the needed strongest cells: a stronger spare in a weaker one's place does not
        // lower any total.
        ExactSearch::Outcome strongestPlan;
        search.search(ExactSearch::Goal::Capacity, size_t(needed), 0.0, 0.0, strongestPlan);
        const double floor = admissibleFloor(strongestPlan.capacity);
        ExactSearch::Outcome even;
        search.search(ExactSearch::Goal::Spread, strongest.size(), floor, 0.0, even);
        if (criterion == Criterion::CapacityAndCurve) {
            const double allowance = curveAllowance(even.spread, strongestPlan.capacity);
            ExactSearch::Outcome matched;
            search.search(ExactSearch::Goal::Curve, strongest.size(), floor, allowance, matched);
            if (!matched.binOf.empty())
                even = std::move(matched);
        }
        return binsOf(even, strongest, groupCount, unused);
    }

    const std::vector<int> top(strongest.begin(), strongest.begin() + needed);
    const std::vector<int> spare(strongest.begin() + needed, strongest.end());
    std::vector<double> v;
    for (int k : top)
        v.push_back(pool.at(k).capacity);
    std::vector<std::vector<int>> differenced = differencing(v, groupCount, shape.parallel);
    for (auto &g : differenced) {
        for (int &k : g)
            k = top[size_t(k)];
    }
    // Two deals of the strongest cells; the better one is improved.
    const Balancer snake(pool, snakeDeal(top, groupCount), spare);
    const Balancer balanced(pool, differenced, spare);
    const auto stronger = [](const Balancer &a, const Balancer &b) {
        return a.capacity() > b.capacity() || (a.capacity() == b.capacity() && a.spread() < b.spread());
    };
    Balancer strong = stronger(snake, balanced) ? snake : balanced;
    strong.raiseCapacity();
    const double floor = admissibleFloor(strong.capacity());
    // Narrowing starts from the most even of those strong enough.
    Balancer even = strong;
    for (const Balancer *start : {&snake, &balanced}) {
        if (start->capacity() >= floor && start->spread() < even.spread())
            even = *start;
    }
    even.narrowSpread(floor);
    std::vector<std::vector<int>> groups = even.groups();
    unused = even.spare();
    if (criterion == Criterion::CapacityAndCurve)
        matchCurves(pool, groups, unused, floor, curveAllowance(even.spread(), strong.capacity()));
    return groups;
}

// Capacity first with P = 1: a pack is as strong as its weakest cell, so the strongest cells serve, then the
// smallest worst range inside a pack among those within the tolerance of the weakest of them; then the curves.
std::vector<std::vector<int>> strongStrings(const QList<PoolCell> &pool, const std::vector<int> &sorted,
    const PackShape &shape, Criterion criterion, std::vector<int> &unused)
{
    const int needed = shape.cellsNeeded();
    const double floor = admissibleFloor(pool.at(sorted[sorted.size() - size_t(needed)]).capacity);
    std::vector<int> strong, weak;
    for (int k : sorted)
        (pool.at(k).capacity >= floor ? strong : weak).push_back(k);
    std::vector<std::vector<int>> bins;
    if (criterion == Criterion::CapacityAndCurve && shape.series > 1
        && searchable(int(strong.size()), shape.series, shape.packs)) {
        // The windows give the smallest worst range; the search then every plan within the allowance.
        std::vector<int> spare;
        const std::vector<std::vector<int>> windows = planStrings(pool, strong, shape, Criterion::Capacity, spare);
        double range = 0.0;
        for (const auto &w : windows)
            range = std::max(range, rangeOf(w, pool));
        const std::vector<int> strongest(strong.rbegin(), strong.rend());
        std::vector<double> values;
        for (int k : strongest)
            values.push_back(pool.at(k).capacity);
        ExactSearch search(values, shape.series, shape.packs, true, distancesAmong(pool, strongest));
        ExactSearch::Outcome matched;
        search.search(ExactSearch::Goal::Curve, strongest.size(), floor, range * 1.01, matched);
        bins = binsOf(matched, strongest, shape.packs, unused);
    } else {
        bins = planStrings(pool, strong, shape, criterion, unused);
    }
    unused.insert(unused.end(), weak.begin(), weak.end());
    return bins;
}

} // namespace

PlanFigures FiguresOf(const QList<PoolCell> &pool, const QList<Pack> &packs, int parallel)
{
    PlanFigures f;
    int used = 0;
    double worstSpread = -1.0;
    bool anyDistance = false;
    double largest = 0.0;
    const auto note = [&](const QList<int> &cells) {
        for (qsizetype i = 0; i < cells.size(); ++i) {
            const PoolCell &a = pool.at(cells.at(i));
            for (qsizetype j = i + 1; j < cells.size(); ++j) {
                const PoolCell &b = pool.at(cells.at(j));
                const auto v = CurveDistance(a.curve, b.curve);
                if (v) {
                    anyDistance = true;
                    largest = std::max(largest, *v);
                }
                if (a.resistanceMilliohm && b.resistanceMilliohm) {
                    const double r = std::fabs(*a.resistanceMilliohm - *b.resistanceMilliohm);
                    f.resistanceDifference = std::max(f.resistanceDifference.value_or(0.0), r);
                }
            }
        }
    };
    for (const Pack &pack : packs) {
        std::vector<double> totals;
        QList<int> packCells;
        for (const Group &g : pack.groups) {
            double total = 0.0, lo = std::numeric_limits<double>::infinity(), hi = -lo;
            for (int k : g.cells) {
                const double c = pool.at(k).capacity;
                total += c;
                lo = std::min(lo, c);
                hi = std::max(hi, c);
                packCells.append(k);
                ++used;
            }
            if (!g.cells.isEmpty())
                f.groupRange = std::max(f.groupRange, parallel > 1 ? hi - lo : 0.0);
            totals.push_back(total);
            if (parallel > 1)
                note(g.cells);
        }
        if (parallel <= 1)
            note(packCells);
        if (totals.empty())
            continue;
        const double weakest = *std::min_element(totals.begin(), totals.end());
        f.packCapacities.append(weakest);
        f.packCapacity = f.packCapacities.size() == 1 ? weakest : std::min(f.packCapacity, weakest);
        const double mean = std::accumulate(totals.begin(), totals.end(), 0.0) / double(totals.size());
        const double spread = spreadOf(totals);
        double squares = 0.0;
        for (double t : totals)
            squares += (t - mean) * (t - mean);
        const double deviation = std::sqrt(squares / double(totals.size()));
        if (spread > worstSpread) {
            worstSpread = spread;
            f.totalSpread = spread;
            f.totalSpreadPercent = mean != 0.0 ? spread / mean * 100.0 : 0.0;
        }
        if (mean != 0.0)
            f.totalDeviationPercent = std::max(f.totalDeviationPercent, deviation / mean * 100.0);
    }
    if (anyDistance)
        f.curveDistance = largest;
    f.leftOver = int(pool.size()) - used;
    // The S x P strongest candidates shared evenly over S groups: no pack's weakest group can hold more.
    if (!packs.isEmpty()) {
        std::vector<double> candidates;
        for (const PoolCell &c : pool) {
            if (std::isfinite(c.capacity) && c.capacity > 0.0)
                candidates.push_back(c.capacity);
        }
        const size_t series = size_t(packs.first().groups.size());
        const size_t take = std::min(candidates.size(), series * size_t(std::max(parallel, 1)));
        std::partial_sort(candidates.begin(), candidates.begin() + long(take), candidates.end(), std::greater<>());
        if (series > 0)
            f.capacityBound
                = std::accumulate(candidates.begin(), candidates.begin() + long(take), 0.0) / double(series);
        if (f.capacityBound > 0.0)
            f.boundGapPercent = (f.capacityBound - f.packCapacity) / f.capacityBound * 100.0;
    }
    return f;
}

PlanResult MakePlan(const QList<PoolCell> &pool, const PackShape &shape, Criterion criterion, Aim aim)
{
    PlanResult result;
    if (!ShapeIsValid(shape)) {
        result.error = QStringLiteral("組電池の形が正しくありません");
        return result;
    }
    std::vector<int> sorted;
    for (qsizetype k = 0; k < pool.size(); ++k) {
        const double c = pool.at(k).capacity;
        if (std::isfinite(c) && c > 0.0)
            sorted.push_back(int(k));
    }
    const int needed = shape.cellsNeeded();
    if (int(sorted.size()) < needed) {
        result.error = NotEnoughCellsText(needed, int(sorted.size()));
        return result;
    }
    std::stable_sort(sorted.begin(), sorted.end(), [&](int a, int b) {
        if (pool.at(a).capacity != pool.at(b).capacity)
            return pool.at(a).capacity < pool.at(b).capacity;
        return pool.at(a).label < pool.at(b).label;
    });

    std::vector<int> unused;
    Plan plan;
    plan.shape = shape;
    plan.criterion = criterion;
    plan.aim = aim;
    const auto byCapacity = [&](int a, int b) { return pool.at(a).capacity > pool.at(b).capacity; };
    if (shape.parallel == 1) {
        std::vector<std::vector<int>> strings = aim == Aim::Even
            ? planStrings(pool, sorted, shape, criterion, unused)
            : strongStrings(pool, sorted, shape, criterion, unused);
        for (std::vector<int> &cells : strings) {
            std::stable_sort(cells.begin(), cells.end(), byCapacity);
            Pack pack;
            for (int k : cells) {
                Group g;
                g.cells.append(k);
                g.total = pool.at(k).capacity;
                pack.groups.append(g);
            }
            plan.packs.append(pack);
        }
    } else {
        std::vector<Group> groups;
        std::vector<std::vector<int>> planned = aim == Aim::Even ? planGroups(pool, sorted, shape, criterion, unused)
                                                                 : strongGroups(pool, sorted, shape, criterion, unused);
        for (std::vector<int> &cells : planned) {
            std::stable_sort(cells.begin(), cells.end(), byCapacity);
            Group g;
            for (int k : cells) {
                g.cells.append(k);
                g.total += pool.at(k).capacity;
            }
            groups.push_back(g);
        }
        // Neighbouring totals go into one pack, so each pack is as even as it can be.
        std::stable_sort(
            groups.begin(), groups.end(), [](const Group &a, const Group &b) { return a.total > b.total; });
        for (int p = 0; p < shape.packs; ++p) {
            Pack pack;
            for (int s = 0; s < shape.series; ++s)
                pack.groups.append(groups[size_t(p * shape.series + s)]);
            plan.packs.append(pack);
        }
    }
    std::sort(unused.begin(), unused.end());
    for (qsizetype k = 0; k < pool.size(); ++k) {
        const double c = pool.at(k).capacity;
        if (!(std::isfinite(c) && c > 0.0))
            unused.push_back(int(k));
    }
    std::sort(unused.begin(), unused.end());
    plan.leftOver = QList<int>(unused.begin(), unused.end());
    plan.figures = FiguresOf(pool, plan.packs, shape.parallel);
    result.plan = std::move(plan);
    return result;
}

double OptimalWorstRange(QList<double> capacities, int series, int packs)
{
    std::sort(capacities.begin(), capacities.end());
    const int m = int(capacities.size());
    const double none = std::numeric_limits<double>::infinity();
    if (series < 1 || packs < 1 || series * packs > m)
        return none;
    // best[k][i]: the smallest worst range of k windows among the first i values.
    std::vector<std::vector<double>> best(size_t(packs) + 1, std::vector<double>(size_t(m) + 1, none));
    std::fill(best[0].begin(), best[0].end(), 0.0);
    for (int k = 1; k <= packs; ++k) {
        for (int i = 1; i <= m; ++i) {
            best[size_t(k)][size_t(i)] = best[size_t(k)][size_t(i - 1)];
            if (i >= series) {
                const double window = capacities.at(i - 1) - capacities.at(i - series);
                best[size_t(k)][size_t(i)]
                    = std::min(best[size_t(k)][size_t(i)], std::max(best[size_t(k - 1)][size_t(i - series)], window));
            }
        }
    }
    return best[size_t(packs)][size_t(m)];
}

} // namespace packs
