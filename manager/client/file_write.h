// Writing a file the user chose: the report and the exported keys and certificates.
//
// A file counts as written only when every byte reached it: a write, flush or
// close that fails (a full disk) is a failure, whatever the open said.
#pragma once

#include <QByteArray>
#include <QString>

class QFile;

// The open's outcome, then the whole write's.
struct FileWriteResult {
    bool opened;
    bool written;
};

// Replaces the file's content with the bytes (creating the file).
FileWriteResult ReplaceFile(QString const &path, QByteArray const &content);
// The same through a file object not yet open that names the file; it is
// closed on return.
FileWriteResult ReplaceFile(QFile &file, QByteArray const &content);
