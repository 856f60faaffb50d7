// Writing the files the user chose: only a file that holds every byte counts as
// written; a full disk fails at the flush, after the open and write went well.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "client/file_write.h"

namespace
{

TEST(FileWrite, OnlyAWholeFileCountsAsWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString kept = dir.filePath("kept.txt");
    {
        QFile old(kept);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an older and longer content");
    }
    struct Row {
        const char *what;
        QString path;
        bool opened, written;
    };
    const Row rows[] = {
        {"a new file", dir.filePath("new.txt"), true, true},
        {"an existing file, replaced", kept, true, true},
        {"a missing directory", dir.filePath("missing/new.txt"), false, false},
        {"a full disk", "/dev/full", true, false},
    };
    const QByteArray content("report\nlines\n");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        FileWriteResult result = ReplaceFile(row.path, content);
        EXPECT_EQ(result.opened, row.opened);
        EXPECT_EQ(result.written, row.written);
        if (row.written) {
            QFile back(row.path);
            ASSERT_TRUE(back.open(QIODevice::ReadOnly));
            EXPECT_EQ(back.readAll(), content);
        }
    }
}

} // namespace
