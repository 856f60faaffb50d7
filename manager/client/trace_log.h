// The card manager's trace log: one per-user file in /tmp, one line per event.
//
// The file's name is predictable, so it is opened only as a regular file that
// the user owns, never through a symbolic link, and kept readable by the user
// alone. A file that cannot be opened that way is not written at all.
#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

#include <memory>

// "/tmp/vokrallog_" and the user's name: $USER, else $LOGNAME, else the name
// of the password entry; a name with a slash in it does not count.
QString TraceLogPath();

// Opens the log for appending and empties it; null when the path is a
// symbolic link, not a regular file, owned by someone else or has other
// links, or cannot be opened.
std::unique_ptr<QFile> OpenTraceLog(QString const &path);

// One line without its line end: the local time in ISO form, ": ", who
// (indented by five blanks for "Pkcs11Manipulator" and by ten for ">>"),
// ": ", what, then " entered" for status 1000, " finished" for 1001, else
// " returned: 0x" and the status in lower-case hexadecimal; then
// " (More info: " info ");" or, without info, ";".
QString TraceLine(QDateTime const &when, QString const &who, QString const &what,
                  unsigned long status, QString const &info);
