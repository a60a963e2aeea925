#include "core/Settings.h"
#include "core/IniFile.h"

namespace settings {

namespace defaults {
// Each setting's default, written once: the variables start with it and
// ResetToDefaults and a missing key go back to it.
constexpr qint32 Vstop = 100, Vref = 250, Txcyc = 0, Beep = 1, Tstop = 0, Tsel = 0;
constexpr qint32 Gtmax = 120, Gvmax = 150, Gwide = 600, Gheit = 300, Comch = 1, Wmain = 277, Hmain = 400;
constexpr qint32 Hteiko = 100, Hvds = 5, Htime = 0, Hdisp = 0;
} // namespace defaults

qint32 Vstop = defaults::Vstop, Vref = defaults::Vref, Txcyc = defaults::Txcyc, Beep = defaults::Beep,
       Tstop = defaults::Tstop, Tsel = defaults::Tsel;
qint32 Gtmax = defaults::Gtmax, Gvmax = defaults::Gvmax, Gwide = defaults::Gwide, Gheit = defaults::Gheit,
       Comch = defaults::Comch, Wmain = defaults::Wmain, Hmain = defaults::Hmain;
qint32 Hteiko = defaults::Hteiko, Hvds = defaults::Hvds, Htime = defaults::Htime, Hdisp = defaults::Hdisp;

const QString SectionName = QStringLiteral("VOLTRAK");

const SettingSlot SettingsTable[] = {
    {"Vstop", &Vstop, defaults::Vstop},
    {"Vref", &Vref, defaults::Vref},
    {"Txcyc", &Txcyc, defaults::Txcyc},
    {"Beep", &Beep, defaults::Beep},
    {"Tstop", &Tstop, defaults::Tstop},
    {"Tsel", &Tsel, defaults::Tsel},
    {"Gtmax", &Gtmax, defaults::Gtmax},
    {"Gvmax", &Gvmax, defaults::Gvmax},
    {"Gwide", &Gwide, defaults::Gwide},
    {"Gheit", &Gheit, defaults::Gheit},
    {"Comch", &Comch, defaults::Comch},
    {"Wmain", &Wmain, defaults::Wmain},
    {"Hmain", &Hmain, defaults::Hmain},
    {"Hteiko", &Hteiko, defaults::Hteiko},
    {"Hvds", &Hvds, defaults::Hvds},
    {"Htime", &Htime, defaults::Htime},
    {"Hdisp", &Hdisp, defaults::Hdisp},
    {nullptr, nullptr, 0},
};

void ResetToDefaults()
{
    for (const SettingSlot *s = SettingsTable; s->key; ++s)
        *s->variable = s->defaultValue;
}

void LoadSettingsFrom(const IniFile &ini)
{
    for (const SettingSlot *s = SettingsTable; s->key; ++s)
        *s->variable = ini.readInteger(SectionName, QLatin1String(s->key), s->defaultValue);
}

void SaveSettingsTo(IniFile &ini)
{
    for (const SettingSlot *s = SettingsTable; s->key; ++s)
        ini.writeInteger(SectionName, QLatin1String(s->key), *s->variable);
    ini.save();
}

} // namespace settings
