#pragma once
// Where the cell library's file lives: beside the ini file for a portable copy
// or when --settings names the ini file; where Linux desktops keep data for an
// installed program; --library names any other file, or a PostgreSQL server.
#include "core/SettingsLocation.h"

class IniFile;

#include <QString>

namespace library {

struct LibraryPlaceInputs {
    settings::IniPlaceInputs ini; // where the ini file is chosen from
    QString explicitPath; // --library FILE, or empty
    QString storedLocation; // the ini file's choice (セル台帳の場所), or empty
    QString xdgDataHome; // $XDG_DATA_HOME as set, or empty
};

// The library file for these inputs:
//  - the explicit file when one is given (made absolute), or the server it
//    names as it is given;
//  - else the location kept in the ini file, as for the explicit one;
//  - library.sqlite beside the ini file when the ini file is named with
//    --settings or lives beside the program;
//  - otherwise $XDG_DATA_HOME/voltrak/library.sqlite, or
//    ~/.local/share/voltrak/library.sqlite when the variable is unset, empty or
//    not an absolute path.
QString ChooseLibraryPath(const LibraryPlaceInputs &in);

// The location kept in the ini file ([Library] Location), empty for the default.
QString StoredLocation(const IniFile &ini);
void StoreLocation(IniFile &ini, const QString &location);

// What opening location would give, for the user trying it: a text when it
// may be used (a file or a server library to be made, the cells it holds,
// read-only), LibraryError with the reason when not. Makes nothing.
// Any thread.
QString DescribeLocation(const QString &location);

// The outbox of a server library's captures waiting to be sent: beside the ini file.
QString OutboxPathBeside(const QString &iniPath);

// The path for the running program (needs the application object); explicitPath
// is the --library option's value or empty.
QString CurrentLibraryPath(const QString &explicitPath);

} // namespace library
