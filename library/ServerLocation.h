#pragma once
// A library on a PostgreSQL server, named as every PostgreSQL client names
// one: a libpq connection URI (postgresql://[user@]host[:port]/database?...)
// or keywords (service=NAME, host=... dbname=...). The password never comes
// from here: libpq finds it in ~/.pgpass, PGPASSWORD or the service file.
#include <QString>

namespace library {

// Whether location names a server rather than a file.
bool IsServerLocation(const QString &location);

struct ServerLocation {
    bool ok = false;
    QString reason; // why not, for the user
    // For Qt's PostgreSQL driver: keyword='value' pairs separated by ';'.
    QString connectOptions;
    // What the user is shown: the URI or keywords as given, less anything secret.
    QString display;
};

// Reads location through libpq's own parser. A location holding a password is
// refused, so no password is ever written to the ini file or shown.
ServerLocation ParseServerLocation(const QString &location);

} // namespace library
