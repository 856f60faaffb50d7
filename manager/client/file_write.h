// Writing a file the user chose: the report and the exported keys and certificates.
//
// A file counts as written only when every byte reached it: a write, flush or
// close that fails (a full disk) is a failure, whatever the open said.
#pragma once

#include <QByteArray>
#include <QString>

// The open's outcome, then the whole write's.
struct FileWriteResult {
    bool opened;
    bool written;
};

// Replaces the file's content with the bytes (creating the file).
FileWriteResult ReplaceFile(QString const &path, QByteArray const &content);
