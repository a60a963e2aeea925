#pragma once
// What the simulated discharger says, kept apart from the pseudo-terminal
// plumbing: the cell curves, the progress lines, the table dump and the
// setting-mode dialogue.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zeph4 {

// The six settings in prompt order, with the device's defaults.
struct Settings {
    std::array<int, 6> value{{100, 250, 0, 1, 0, 0}};
};

extern const std::array<const char *, 6> kPrompts; // "Vstop:", " Vref:", ...
extern const std::array<const char *, 6> kNames; // "Vstop", "Vref", "TXcyc", ...

// Cell voltage at fraction x (0..1) of that cell's discharge time: a quick
// fall from 1.45 V to the plateau, a slow decline, then the knee.
double CellVoltage(double x);

// Discharge lengths of the four cells in recording intervals; the
// longest-lasting cell lasts baseCounts (the table caps what it shows at
// 255, as the device's counters do).
std::array<int, 4> CellLengths(int baseCounts);

// The lengths of the next discharge cycle: each cell of CellLengths varied by
// a few per cent (-4 % to +3 %, so the demo still fits its time axis), drawn
// from the seed and the cycle number; never the same four as `previous`.
std::array<int, 4> CycleLengths(int baseCounts, std::uint32_t seed, int cycle, const std::array<int, 4> &previous);

// The longest cell's length a scenario runs with unless --counts says
// otherwise. The demo's discharge ends inside the program's default time
// axis (0 to 120), so a new user's first graph is whole.
int DefaultCounts(const std::string &scenario);

// Voltages of the four cells after `count` intervals.
std::array<double, 4> VoltagesAt(int count, const std::array<int, 4> &lengths);

// The table: header line and one row per level from 1.45 V down to the stop
// voltage (hundredths) in steps of stepCentivolts; every line ends in CR LF.
std::string TableDump(const std::array<int, 4> &lengths, int stopCentivolts, int stepCentivolts);

// One progress line (CR LF ended) for interval `count`.
std::string ProgressLine(int count, const std::array<double, 4> &volts, bool perSecond);

// The setting-mode dialogue. Feed it received bytes; it tells what to print.
class SettingMode
{
public:
    struct Options {
        std::vector<int> order{0, 1, 2, 3, 4, 5};
        int stuckAt = -2; // does not move on: the prompt at this position is
            // asked twice (-1: every prompt; -2: none)
        int leaveAfter = -1; // leave after this many answers (-1: never)
    };
    explicit SettingMode(Options o);

    // The text that starts the mode: a line break and the first prompt.
    std::string Start();
    // One received byte. Returns what the device prints at once (echo);
    // `answered` is set when a CR completed an answer.
    std::string Feed(char c, bool &answered);
    // After an answer: the next prompt (with its line break), or the closing text.
    std::string Next();
    bool Finished() const { return finished_; }
    bool Cancelled() const { return cancelled_; }
    // Values received so far, by prompt index; -1 where none.
    const std::array<int, 6> &Received() const { return received_; }
    int Answers() const { return answers_; }
    // The prompt index the last answer went to.
    int LastIndex() const { return lastIndex_; }
    const std::string &LastText() const { return lastText_; }

private:
    Options o_;
    size_t step_ = 0; // position in the asking order
    bool askedTwice_ = false;
    std::string typed_;
    std::array<int, 6> received_{{-1, -1, -1, -1, -1, -1}};
    int answers_ = 0;
    int lastIndex_ = -1;
    std::string lastText_;
    bool finished_ = false;
    bool cancelled_ = false;
};

} // namespace zeph4
