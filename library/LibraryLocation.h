#pragma once
// Where the cell library's file lives: beside the ini file for a portable copy
// or when --settings names the ini file; where Linux desktops keep data for an
// installed program; --library names any other file, or a PostgreSQL server.
#include "core/SettingsLocation.h"

#include <QString>

namespace library {

struct LibraryPlaceInputs {
    settings::IniPlaceInputs ini; // where the ini file is chosen from
    QString explicitPath; // --library FILE, or empty
    QString xdgDataHome; // $XDG_DATA_HOME as set, or empty
};

// The library file for these inputs:
//  - the explicit file when one is given (made absolute), or the server it
//    names as it is given;
//  - library.sqlite beside the ini file when the ini file is named with
//    --settings or lives beside the program;
//  - otherwise $XDG_DATA_HOME/voltrak/library.sqlite, or
//    ~/.local/share/voltrak/library.sqlite when the variable is unset, empty or
//    not an absolute path.
QString ChooseLibraryPath(const LibraryPlaceInputs &in);

// The path for the running program (needs the application object); explicitPath
// is the --library option's value or empty.
QString CurrentLibraryPath(const QString &explicitPath);

} // namespace library
