#include "packs/PackPlan.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <queue>
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
            for (qsizetype j = i + 1; j < cells.size(); ++j) {
                const auto v = CurveDistance(pool.at(cells.at(i)).curve, pool.at(cells.at(j)).curve);
                if (v) {
                    anyDistance = true;
                    largest = std::max(largest, *v);
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
    return f;
}

PlanResult MakePlan(const QList<PoolCell> &pool, const PackShape &shape, Criterion criterion)
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
    const auto byCapacity = [&](int a, int b) { return pool.at(a).capacity > pool.at(b).capacity; };
    if (shape.parallel == 1) {
        for (std::vector<int> &cells : planStrings(pool, sorted, shape, criterion, unused)) {
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
        for (std::vector<int> &cells : planGroups(pool, sorted, shape, criterion, unused)) {
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
