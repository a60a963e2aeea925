#pragma once
// Whether a file's first bytes look like a text log, before its whole content
// is poured into the pane.
#include <QByteArray>
#include <QString>

namespace textsniff {

// How much of a file is looked at.
constexpr int HeadBytes = 4096;

// False for a zero byte anywhere in head, or for more than half its bytes
// being control characters other than tab, line feed, form feed and carriage
// return. Empty is text.
bool LooksLikeText(const QByteArray &head);

// The first HeadBytes of path; empty when it cannot be read (the open itself
// then reports why).
QByteArray ReadHead(const QString &path);

} // namespace textsniff
