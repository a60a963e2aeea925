// zeph4-sim: a ZEPH4 four-cell discharger on a pseudo-terminal (on Windows, on
// the COM port named with --port, one end of a null-modem pair).
//
// Prints the device path of the pseudo-terminal (the COM port) on its first stdout line,
// then plays the discharger: progress lines during a discharge, the table
// dump, and the setting mode with its six prompts. Every byte received can
// be recorded; the values answered in setting mode are reported on stdout:
//   answer <name>=<value>          for each answer
//   values Vstop=.. Vref=.. ...    when setting mode ends (-1: not answered)
//   setting cancelled              when a lone CR ended it
// Commands on stdin (one per line): discharge, dump, setting, quit.
// SIGUSR1 enters setting mode, SIGUSR2 dumps the table (not on Windows).
#include "tools/zeph4-sim/DeviceLine.h"
#include "tools/zeph4-sim/Zeph4Model.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <sstream>
#include <string>

using Clock = std::chrono::steady_clock;
using namespace zeph4;

namespace {

volatile std::sig_atomic_t gSignalSetting = 0;
volatile std::sig_atomic_t gSignalDump = 0;
volatile std::sig_atomic_t gSignalQuit = 0;

void OnSignal([[maybe_unused]] int sig)
{
#ifdef SIGUSR1
    if (sig == SIGUSR1)
        gSignalSetting = 1;
    else if (sig == SIGUSR2)
        gSignalDump = 1;
    else
#endif
        gSignalQuit = 1;
}

void Usage()
{
    std::fputs("usage: zeph4-sim [options]\n"
               "  --scenario S     idle | discharge | dump | setting | demo (default demo: discharge,\n"
               "                   dump, setting mode, over and over)\n"
               "  --speed F        speed-up factor for the discharge clock (default 1; demo 300)\n"
               "  --seed N         seed of the cycle-to-cycle variation of the cells (default: from the clock)\n"
               "  --counts N       length of the longest-lasting cell in recording intervals\n"
               "                   (default 150; demo 110, so its graph fits the default time axis)\n"
               "  --per-second     progress lines every second instead of every minute\n"
               "  --step CV        voltage step of the table rows in 0.01 V (default 5)\n"
               "  --order LIST     prompt order, e.g. 5,4,3,2,1,0 (indices into Vstop,Vref,TXcyc,Beep,Tstop,Tsel)\n"
               "  --stuck          each prompt is asked twice (does not move on after an answer)\n"
               "  --stuck-at K     only the prompt at position K is asked twice\n"
               "  --leave-after K  leave setting mode after K answers\n"
               "  --prompt-delay MS  delay before the next prompt (default 100)\n"
               "  --setting-wait S  seconds the demo waits in setting mode for answers (default 30)\n"
               "  --record FILE    append every received byte to FILE\n"
               "  --link PATH      also make PATH a symbolic link to the device\n"
               "  --exit-after-setting  end the program when setting mode ends\n"
               "  --wait-for-open  start the discharge only once a program has set up the line\n"
               "  --port COMn      (Windows) the COM port to play on, one end of a null-modem pair\n",
        stderr);
}

struct Config {
    std::string scenario = "demo";
    double speed = 0; // 0: the scenario's default
    int counts = 0; // 0: the scenario's default
    bool seeded = false;
    std::uint32_t seed = 0;
    bool perSecond = false;
    int step = 5;
    SettingMode::Options setting;
    int promptDelayMs = 100;
    int settingWaitS = 30;
    std::string record;
    std::string link;
    std::string port;
    bool exitAfterSetting = false;
    bool waitForOpen = false;
};

bool ParseOrder(const std::string &text, std::vector<int> &order)
{
    order.clear();
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        char *end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end || v < 0 || v > 5)
            return false;
        order.push_back(static_cast<int>(v));
    }
    return !order.empty();
}

class Simulator
{
public:
    explicit Simulator(Config c)
        : cfg_(std::move(c))
    { }

    int Run()
    {
        if (!line_.open(cfg_.port, cfg_.link))
            return 1;
        if (!cfg_.record.empty()) {
            record_ = std::fopen(cfg_.record.c_str(), "ab");
            if (!record_) {
                std::perror(cfg_.record.c_str());
                return 1;
            }
        }
        std::printf("%s\n", line_.name().c_str());
        std::fflush(stdout);

        if (cfg_.speed <= 0)
            cfg_.speed = cfg_.scenario == "demo" ? 300 : 1;
        if (cfg_.counts <= 0)
            cfg_.counts = DefaultCounts(cfg_.scenario);
        lengths_ = CellLengths(cfg_.counts);
        if (!cfg_.seeded)
            cfg_.seed = static_cast<std::uint32_t>(std::chrono::system_clock::now().time_since_epoch().count());
        std::fprintf(stderr, "zeph4-sim: seed %u\n", static_cast<unsigned>(cfg_.seed));
        bool dischargeDue = false;
        if (cfg_.scenario == "discharge" || cfg_.scenario == "demo") {
            if (cfg_.waitForOpen)
                dischargeDue = true;
            else
                StartDischarge();
        } else if (cfg_.scenario == "dump")
            Send(TableDump(lengths_, settings_.value[0], cfg_.step));
        else if (cfg_.scenario == "setting")
            StartSetting();
        else if (cfg_.scenario != "idle") {
            Usage();
            return 2;
        }

        while (!gSignalQuit && !quit_) {
            if (gSignalSetting) {
                gSignalSetting = 0;
                StartSetting();
            }
            if (gSignalDump) {
                gSignalDump = 0;
                Send(TableDump(lengths_, settings_.value[0], cfg_.step));
            }
            if (dischargeDue && LineSetUp()) {
                dischargeDue = false;
                StartDischarge();
            }
            Tick();
            const DeviceLine::Ready r
                = line_.wait(dischargeDue ? std::min(NextWaitMs(), 50) : NextWaitMs(), !out_.empty());
            if (r.failed)
                break;
            if (r.line)
                ReadLine();
            if (r.room)
                Flush();
            if (r.commands)
                ReadCommand();
        }
        if (record_)
            std::fclose(record_);
        return 0;
    }

private:
    bool LineSetUp() const { return line_.programSetUp(); }

    void Send(const std::string &s)
    {
        // Nobody may be reading: keep a bounded backlog, as a device's UART
        // would just talk into the void.
        out_ += s;
        if (out_.size() > (1u << 20))
            out_.erase(0, out_.size() - (1u << 20));
        Flush();
    }

    void Flush()
    {
        while (!out_.empty()) {
            const long n = line_.write(out_.data(), static_cast<long>(out_.size()));
            if (n <= 0)
                return;
            out_.erase(0, static_cast<size_t>(n));
        }
    }

    void Report(const std::string &line)
    {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    // ---- discharge
    void StartDischarge()
    {
        setting_.reset();
        discharging_ = true;
        count_ = 0;
        // Each cycle discharges a slightly different set; the dumps until the
        // next cycle repeat its table, as the device's one stored table.
        lengths_ = CycleLengths(cfg_.counts, cfg_.seed, cycle_++, lengths_);
        const bool perSecond = cfg_.perSecond || settings_.value[2] == 1;
        perSecond_ = perSecond;
        Send("\r\nDischarge start\r\n");
        next_ = Clock::now();
    }

    std::chrono::microseconds IntervalLength() const
    {
        // One recording interval: a minute (or a second), sped up.
        const double seconds = (perSecond_ ? 1.0 : 60.0) / cfg_.speed;
        return std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    }

    void Tick()
    {
        const auto now = Clock::now();
        if (discharging_ && now >= next_) {
            const auto volts = VoltagesAt(count_, lengths_);
            Send(ProgressLine(count_, volts, perSecond_));
            const double stop = settings_.value[0] / 100.0;
            const bool allDone = std::all_of(volts.begin(), volts.end(), [&](double v) { return v <= stop; });
            const int longest = *std::max_element(lengths_.begin(), lengths_.end());
            if (allDone || count_ >= longest) {
                discharging_ = false;
                Send("Discharge end\r\n");
                if (cfg_.scenario == "demo")
                    Schedule(Phase::Dump, 3000);
            } else {
                ++count_;
                next_ += IntervalLength();
            }
        }
        if (phase_ != Phase::None && now >= phaseAt_) {
            const Phase p = phase_;
            phase_ = Phase::None;
            if (p == Phase::Dump) {
                Send(TableDump(lengths_, settings_.value[0], cfg_.step));
                Schedule(Phase::Setting, 8000);
            } else if (p == Phase::Setting) {
                StartSetting();
                Schedule(Phase::SettingTimeout, cfg_.settingWaitS * 1000);
            } else if (p == Phase::SettingTimeout) {
                if (setting_)
                    EndSetting(true);
                Schedule(Phase::Discharge, 3000);
            } else if (p == Phase::Discharge) {
                StartDischarge();
            }
        }
        if (promptPending_ && now >= promptAt_) {
            promptPending_ = false;
            if (setting_) {
                Send(setting_->Next());
                if (setting_->Finished())
                    EndSetting(false);
            }
        }
    }

    int NextWaitMs() const
    {
        auto wait = std::chrono::milliseconds(200);
        const auto now = Clock::now();
        auto until = [&](Clock::time_point t) {
            const auto d = std::chrono::duration_cast<std::chrono::milliseconds>(t - now);
            wait = std::min(wait, std::max(d, std::chrono::milliseconds(0)));
        };
        if (discharging_)
            until(next_);
        if (phase_ != Phase::None)
            until(phaseAt_);
        if (promptPending_)
            until(promptAt_);
        return static_cast<int>(wait.count());
    }

    enum class Phase { None, Dump, Setting, SettingTimeout, Discharge };
    void Schedule(Phase p, int ms)
    {
        phase_ = p;
        phaseAt_ = Clock::now() + std::chrono::milliseconds(ms);
    }

    // ---- setting mode
    void StartSetting()
    {
        discharging_ = false;
        setting_ = std::make_unique<SettingMode>(cfg_.setting);
        Send(setting_->Start());
    }

    void EndSetting(bool timedOut)
    {
        std::string line = "values";
        const auto &r = setting_->Received();
        for (int i = 0; i < 6; ++i) {
            line += " ";
            line += kNames[i];
            line += "=" + std::to_string(r[i]);
            if (r[i] >= 0)
                settings_.value[i] = r[i];
        }
        if (setting_->Cancelled())
            Report("setting cancelled");
        if (timedOut)
            Send("\r\nSetting mode end\r\n");
        if (setting_->Answers() > 0 && !setting_->Cancelled()) {
            // Shown on the line too, so the user sees in the log what arrived.
            std::string shown;
            for (int i = 0; i < 6; ++i)
                shown += std::string(i ? " " : "") + kNames[i] + "=" + (r[i] >= 0 ? std::to_string(r[i]) : "-");
            Send(shown + "\r\n");
        }
        Report(line);
        setting_.reset();
        promptPending_ = false;
        if (cfg_.scenario == "demo")
            Schedule(Phase::Discharge, 3000);
        if (cfg_.exitAfterSetting)
            quit_ = true;
    }

    void ReadLine()
    {
        char buf[4096];
        const long n = line_.read(buf, sizeof buf);
        if (n <= 0)
            return;
        if (record_) {
            std::fwrite(buf, 1, static_cast<size_t>(n), record_);
            std::fflush(record_);
        }
        for (long i = 0; i < n; ++i) {
            if (!setting_)
                continue; // outside setting mode the device ignores input
            bool answered = false;
            Send(setting_->Feed(buf[i], answered));
            if (answered) {
                Report(std::string("answer ") + kNames[setting_->LastIndex()] + "=" + setting_->LastText());
                promptPending_ = true;
                promptAt_ = Clock::now() + std::chrono::milliseconds(cfg_.promptDelayMs);
            } else if (setting_->Finished()) {
                Send(setting_->Next());
                EndSetting(false);
            }
        }
    }

    void ReadCommand()
    {
        if (!line_.readCommands(command_))
            return; // no more commands; keep running
        size_t at;
        while ((at = command_.find('\n')) != std::string::npos) {
            const std::string cmd = command_.substr(0, at);
            command_.erase(0, at + 1);
            if (cmd == "setting")
                StartSetting();
            else if (cmd == "dump")
                Send(TableDump(lengths_, settings_.value[0], cfg_.step));
            else if (cmd == "discharge")
                StartDischarge();
            else if (cmd == "quit")
                quit_ = true;
        }
    }

    Config cfg_;
    DeviceLine line_;
    std::FILE *record_ = nullptr;
    std::string out_;
    std::string command_;
    bool quit_ = false;
    Settings settings_;
    std::array<int, 4> lengths_{};
    bool discharging_ = false;
    bool perSecond_ = false;
    int count_ = 0;
    int cycle_ = 0;
    Clock::time_point next_;
    Phase phase_ = Phase::None;
    Clock::time_point phaseAt_;
    bool promptPending_ = false;
    Clock::time_point promptAt_;
    std::unique_ptr<SettingMode> setting_;
};

} // namespace

int main(int argc, char **argv)
{
    Config cfg;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char *what) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs %s\n", a.c_str(), what);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--scenario")
            cfg.scenario = value("a scenario");
        else if (a == "--speed")
            cfg.speed = std::atof(value("a factor").c_str());
        else if (a == "--seed") {
            cfg.seed = static_cast<std::uint32_t>(std::strtoul(value("a number").c_str(), nullptr, 10));
            cfg.seeded = true;
        } else if (a == "--counts")
            cfg.counts = std::atoi(value("a count").c_str());
        else if (a == "--per-second")
            cfg.perSecond = true;
        else if (a == "--step")
            cfg.step = std::atoi(value("a step").c_str());
        else if (a == "--order") {
            if (!ParseOrder(value("a list"), cfg.setting.order)) {
                std::fputs("--order: indices 0 to 5, separated by commas\n", stderr);
                return 2;
            }
        } else if (a == "--stuck")
            cfg.setting.stuckAt = -1;
        else if (a == "--stuck-at")
            cfg.setting.stuckAt = std::atoi(value("a position").c_str());
        else if (a == "--leave-after")
            cfg.setting.leaveAfter = std::atoi(value("a count").c_str());
        else if (a == "--prompt-delay")
            cfg.promptDelayMs = std::atoi(value("milliseconds").c_str());
        else if (a == "--setting-wait")
            cfg.settingWaitS = std::atoi(value("seconds").c_str());
        else if (a == "--record")
            cfg.record = value("a file");
        else if (a == "--link")
            cfg.link = value("a path");
        else if (a == "--port")
            cfg.port = value("a COM port");
        else if (a == "--wait-for-open")
            cfg.waitForOpen = true;
        else if (a == "--exit-after-setting")
            cfg.exitAfterSetting = true;
        else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            Usage();
            return 2;
        }
    }
#ifdef SIGUSR1
    struct sigaction sa { };
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGUSR1, &sa, nullptr);
    ::sigaction(SIGUSR2, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
#else
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
#endif
    return Simulator(std::move(cfg)).Run();
}
