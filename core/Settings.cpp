#include "core/Settings.h"
#include "core/IniFile.h"

namespace settings {

qint32 Vstop = 100, Vref = 250, Txcyc = 0, Beep = 1, Tstop = 0, Tsel = 0;
qint32 Gtmax = 120, Gvmax = 150, Gwide = 600, Gheit = 300, Comch = 1, Wmain = 277, Hmain = 400;
qint32 Hteiko = 100, Hvds = 5, Htime = 0, Hdisp = 0;

const QString SectionName = QStringLiteral("VOLTRAK");

const SettingSlot SettingsTable[] = {
    {"Vstop", &Vstop, 100},
    {"Vref", &Vref, 250},
    {"Txcyc", &Txcyc, 0},
    {"Beep", &Beep, 1},
    {"Tstop", &Tstop, 0},
    {"Tsel", &Tsel, 0},
    {"Gtmax", &Gtmax, 120},
    {"Gvmax", &Gvmax, 150},
    {"Gwide", &Gwide, 600},
    {"Gheit", &Gheit, 300},
    {"Comch", &Comch, 1},
    {"Wmain", &Wmain, 277},
    {"Hmain", &Hmain, 400},
    {"Hteiko", &Hteiko, 100},
    {"Hvds", &Hvds, 5},
    {"Htime", &Htime, 0},
    {"Hdisp", &Hdisp, 0},
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
