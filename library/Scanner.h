#pragma once
// What a barcode scanner types into a bay field: some scanners put a fixed
// prefix before the code ("VT:") and a Tab or Enter after it. The prefix is
// one of the library's settings, so every bench on one library reads the
// same labels.
#include <QString>

namespace library {

// The key of the prefix among the library's settings.
inline const char *const ScannerPrefixKey = "scanner.prefix";

// The label in typed: blanks around it (a Tab, CR or LF the scanner ended with) and then the prefix, when it
// starts with it, taken away; text without the prefix is a label typed by hand and stays as it is.
QString ScannedLabel(const QString &typed, const QString &prefix);

} // namespace library
