#pragma once
// Message texts that several places show, each written once.
#include <QString>

namespace messages {

// The log holds no discharge table (draw command, --render, --cells).
QString NoValidData();
// "ファイル <path> は開けません": a file that cannot be read.
QString CannotOpenFile(const QString &path);
// A picture or other file that could not be written.
QString FileWriteFailed();
// The ini file could not be written.
QString IniWriteFailed();
// The open dialogs' filter for logs.
QString LogFileFilter();
// The graph windows' pop-up item that saves the picture.
QString SaveGraphAs();

} // namespace messages
