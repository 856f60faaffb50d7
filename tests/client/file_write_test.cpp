// Writing the files the user chose: only a file that holds every byte counts as
// written; a full disk fails at the flush, after the open and write went well,
// and a flush or a close that fails alone fails the write as well.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>

#include "client/file_write.h"

namespace
{

// A file whose write fails at one step alone. At the flush: from the write on
// its descriptor points at /dev/full, and at the file again when the close
// begins, so the close's own flush goes well. At the close: the descriptor is
// gone when the close releases it, after every byte reached the file.
class FileFailingAt : public QFile
{
  public:
    enum Step { NONE, FLUSH, CLOSE };

    FileFailingAt(QString const &path, Step step) : QFile(path), m_step(step) {}
    ~FileFailingAt() override { restore(); }

    void close() override
    {
        restore();
        if (m_step == CLOSE && isOpen())
            ::close(handle());
        QFile::close();
    }

  protected:
    qint64 writeData(char const *data, qint64 length) override
    {
        if (m_step == FLUSH && m_saved < 0) {
            m_saved = dup(handle());
            int const full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
            EXPECT_GE(full, 0);
            dup2(full, handle());
            ::close(full);
        }
        return QFile::writeData(data, length);
    }

  private:
    void restore()
    {
        if (m_saved < 0)
            return;
        if (isOpen())
            dup2(m_saved, handle());
        ::close(m_saved);
        m_saved = -1;
    }

    Step m_step;
    int m_saved = -1; // the file's own descriptor while /dev/full stands in
};

TEST(FileWrite, AFlushOrACloseThatFailsAloneFailsTheWrite)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Row {
        const char *what;
        FileFailingAt::Step step;
        bool written;
    };
    const Row rows[] = {
        {"every step goes well", FileFailingAt::NONE, true},
        {"the flush alone fails", FileFailingAt::FLUSH, false},
        {"the close alone fails", FileFailingAt::CLOSE, false},
    };
    const QByteArray content("report\nlines\n");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        FileFailingAt file(dir.filePath(row.what), row.step);
        FileWriteResult result = ReplaceFile(file, content);
        EXPECT_TRUE(result.opened);
        EXPECT_EQ(result.written, row.written);
        EXPECT_FALSE(file.isOpen());
        // the other steps went well: the close after the failed flush, and the
        // flush before the failed close
        EXPECT_EQ(file.error() == QFileDevice::NoError, row.step != FileFailingAt::CLOSE);
        QFile back(file.fileName());
        ASSERT_TRUE(back.open(QIODevice::ReadOnly));
        EXPECT_EQ(back.readAll(), content);
    }
}

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
