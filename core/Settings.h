#pragma once
// The seventeen persistent settings: process-wide integers read and written
// directly by the windows, loaded once at start-up and saved once at close.
#include <QString>
#include <QtGlobal>

class IniFile;

namespace settings {

extern qint32 Vstop, Vref, Txcyc, Beep, Tstop, Tsel;
extern qint32 Gtmax, Gvmax, Gwide, Gheit, Comch, Wmain, Hmain;
extern qint32 Hteiko, Hvds, Htime, Hdisp;

// The ini section all keys live in.
extern const QString SectionName;

struct SettingSlot {
    const char *key; // nullptr ends the table
    qint32 *variable;
    qint32 defaultValue;
};

// In the order the keys are read and written.
extern const SettingSlot SettingsTable[];

// Path of the ini file: beside the running program, with its extension replaced
// by ".ini", when run from a folder the user can write; see SettingsLocation.h
// for the installed program and the --settings option.
QString IniFilePath();
// Uses another ini file from now on (--settings, tests); an empty path goes
// back to the chosen place.
void SetIniFilePath(const QString &path);

// Resets every setting to its default (used by tests and at start-up before loading).
void ResetToDefaults();

// Reads every setting from the ini file (defaults for missing or unreadable keys).
void LoadSettingsFrom(const IniFile &ini);
// Writes all seventeen keys and saves the file; throws IniWriteError.
void SaveSettingsTo(IniFile &ini);

} // namespace settings
