#pragma once
// Loading and saving the settings at start-up and close, with the program's warning.
#include <QString>

namespace settings {

// From the ini file beside the program.
void LoadSettings();
// To the ini file beside the program; a failure shows "iniファイル書き込み失敗".
void SaveSettings();

// The same against a given file (tests).
void LoadSettings(const QString &iniPath);
void SaveSettings(const QString &iniPath);

} // namespace settings
