#pragma once
// Drawing a log's last discharge table into a picture file from the command
// line: the draw command's work on a graph window that is never shown.
#include <QString>

class QTextStream;

namespace render {

// Reads the log as "開く" would, fills a hidden graph window with the current
// graph settings and writes the picture in the format the extension names.
// Returns the exit status: 0 written; 1 the log has no table ("有効なデータがありません"),
// cannot be read or the picture cannot be written; 2 an extension no format has.
// Messages go to err, one line each.
int RenderLogToPicture(const QString &logPath, const QString &picturePath, QTextStream &err);

} // namespace render
