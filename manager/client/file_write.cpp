#include "client/file_write.h"

#include <QFile>

FileWriteResult ReplaceFile(QString const &path, QByteArray const &content)
{
    QFile file(path);
    return ReplaceFile(file, content);
}

FileWriteResult ReplaceFile(QFile &file, QByteArray const &content)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {false, false};
    bool written = file.write(content) == content.size() && file.flush();
    file.close();
    return {true, written && file.error() == QFileDevice::NoError};
}
