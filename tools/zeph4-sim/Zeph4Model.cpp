#include "tools/zeph4-sim/Zeph4Model.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace zeph4 {

const std::array<const char *, 6> kPrompts{{"Vstop:", " Vref:", "TXcyc:", " Beep:", "Tstop:", " Tsel:"}};
const std::array<const char *, 6> kNames{{"Vstop", "Vref", "TXcyc", "Beep", "Tstop", "Tsel"}};

double CellVoltage(double x)
{
    x = std::clamp(x, 0.0, 1.0);
    const double settle = 0.13 * (1.0 - std::exp(-x / 0.04)); // off-load 1.45 V to the plateau
    const double slope = 0.12 * x; // the plateau's slow decline
    const double knee = x > 0.82 ? 0.25 * std::pow((x - 0.82) / 0.18, 2.2) : 0.0;
    return 1.45 - settle - slope - knee;
}

std::array<int, 4> CellLengths(int baseCounts)
{
    // Four cells of slightly different capacity.
    static const double scale[4] = {0.95, 0.90, 1.00, 0.85};
    std::array<int, 4> out{};
    for (int i = 0; i < 4; ++i)
        out[i] = std::max(2, static_cast<int>(std::lround(baseCounts * scale[i])));
    return out;
}

std::array<int, 4> CycleLengths(int baseCounts, std::uint32_t seed, int cycle, const std::array<int, 4> &previous)
{
    const std::array<int, 4> plain = CellLengths(baseCounts);
    std::seed_seq seq{seed, static_cast<std::uint32_t>(cycle)};
    std::mt19937 rng(seq);
    std::uniform_real_distribution<double> factor(0.96, 1.03);
    std::array<int, 4> out{};
    for (int attempt = 0; attempt < 16; ++attempt) {
        for (int i = 0; i < 4; ++i)
            out[i] = std::max(2, static_cast<int>(std::lround(plain[i] * factor(rng))));
        if (out != previous)
            return out;
    }
    // Too short a discharge to vary by chance: one count more or less.
    out[0] += out[0] > 2 ? -1 : 1;
    return out;
}

int DefaultCounts(const std::string &scenario)
{
    return scenario == "demo" ? 110 : 150;
}

std::array<double, 4> VoltagesAt(int count, const std::array<int, 4> &lengths)
{
    std::array<double, 4> v{};
    for (int i = 0; i < 4; ++i)
        v[i] = CellVoltage(static_cast<double>(count) / lengths[i]);
    return v;
}

namespace {
// First count at which the cell is at or below the level.
int CountAtLevel(double level, int length)
{
    for (int c = 0; c <= length; ++c)
        if (CellVoltage(static_cast<double>(c) / length) <= level + 1e-9)
            return c;
    return length;
}
} // namespace

std::string TableDump(const std::array<int, 4> &lengths, int stopCentivolts, int stepCentivolts)
{
    std::string out = "Bat-V Bat1 Bat2 Bat3 Bat4\r\n";
    if (stepCentivolts < 1)
        stepCentivolts = 5;
    for (int cv = 145; cv >= stopCentivolts; cv -= stepCentivolts) {
        char line[64];
        int t[4];
        for (int i = 0; i < 4; ++i)
            t[i] = cv == 145 ? 0 : std::min(255, CountAtLevel(cv / 100.0, lengths[i]));
        std::snprintf(line, sizeof line, "%d.%02dV %3d  %3d  %3d  %3d\r\n", cv / 100, cv % 100, t[0], t[1], t[2], t[3]);
        out += line;
    }
    return out;
}

std::string ProgressLine(int count, const std::array<double, 4> &volts, bool perSecond)
{
    char line[96];
    std::snprintf(line, sizeof line, "T=%4d%s  %.3f  %.3f  %.3f  %.3f\r\n", count, perSecond ? "s" : "m", volts[0],
        volts[1], volts[2], volts[3]);
    return line;
}

SettingMode::SettingMode(Options o)
    : o_(std::move(o))
{
    if (o_.order.empty())
        o_.order = {0, 1, 2, 3, 4, 5};
}

std::string SettingMode::Start()
{
    return std::string("\r\nSetting mode\r\n") + kPrompts[o_.order[0]];
}

std::string SettingMode::Feed(char c, bool &answered)
{
    answered = false;
    if (finished_)
        return {};
    if (c == '\r') {
        const int index = o_.order[step_];
        lastText_ = typed_;
        typed_.clear();
        if (lastText_.empty()) {
            // A lone CR: the program gave up; so does the device.
            finished_ = cancelled_ = true;
            return {};
        }
        received_[index] = std::atoi(lastText_.c_str());
        lastIndex_ = index;
        ++answers_;
        answered = true;
        return {};
    }
    if (c == '\n')
        return {};
    typed_ += c;
    return std::string(1, c); // echo
}

std::string SettingMode::Next()
{
    if (finished_)
        return cancelled_ ? "\r\nCanceled\r\n" : std::string();
    if (o_.leaveAfter >= 0 && answers_ >= o_.leaveAfter) {
        finished_ = true;
        return "\r\nSetting mode end\r\n";
    }
    const bool stuckHere = o_.stuckAt == -1 || o_.stuckAt == static_cast<int>(step_);
    if (stuckHere && !askedTwice_) {
        askedTwice_ = true; // the same prompt again
    } else {
        askedTwice_ = false;
        ++step_;
    }
    if (step_ >= o_.order.size()) {
        finished_ = true;
        return "\r\nSetting mode end\r\n";
    }
    return std::string("\r\n") + kPrompts[o_.order[step_]];
}

} // namespace zeph4
