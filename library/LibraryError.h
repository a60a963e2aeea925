#pragma once
// The one error the cell library throws, with a text for the user.
#include <QString>

#include <stdexcept>

namespace library {

class LibraryError : public std::runtime_error
{
public:
    explicit LibraryError(const QString &text)
        : std::runtime_error(text.toStdString())
    { }
    QString text() const { return QString::fromUtf8(what()); }
};

// The library's server cannot be reached, or went away under a statement:
// what was to be written may be sent again later.
class UnreachableError : public LibraryError
{
public:
    using LibraryError::LibraryError;
};

// The warning's title when the library cannot be opened (the reason goes below it).
QString CannotOpenTitle(); // "セル台帳を開けません"

} // namespace library
