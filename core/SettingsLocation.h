#pragma once
// Where the ini file lives. A program run from a folder the user can write (the
// build folder, a portable copy) keeps it beside itself; an installed one keeps
// it where Linux desktops keep settings. Everything that lives beside the ini
// file (the [Ports] section, the journal folder) follows it.
#include <QString>
#include <functional>

namespace settings {

struct IniPlaceInputs {
    QString programPath; // the running program, absolute
    QString explicitPath; // --settings FILE, or empty
    QString xdgConfigHome; // $XDG_CONFIG_HOME as set, or empty
    QString home; // the user's home folder
    QString appData; // Windows: %APPDATA% (empty elsewhere)
    // Whether the user may create and replace files in a folder.
    std::function<bool(const QString &folder)> folderWritable;
};

// The ini path for these inputs:
//  - the explicit file when one is given (made absolute);
//  - beside the program, with its base name, when the program's folder is
//    writable and is not one of the system's program folders (/usr/bin and
//    the like: a package installed it there, even when root may write it);
//  - otherwise, on Windows (appData given), %APPDATA%\VOLTRAK\voltrak.ini: a copy
//    under Program Files cannot write beside itself;
//  - otherwise $XDG_CONFIG_HOME/voltrak/voltrak.ini, or
//    ~/.config/voltrak/voltrak.ini when the variable is unset, empty or not an
//    absolute path (as the XDG base directory rules say).
QString ChooseIniPath(const IniPlaceInputs &in);

// True for the folders programs are installed into (/usr/bin, /usr/local/bin, ...).
bool IsSystemProgramFolder(const QString &folder);

// The inputs of the running program (needs the application object).
IniPlaceInputs CurrentIniPlaceInputs();

} // namespace settings
