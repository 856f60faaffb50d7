#include "client/trace_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace
{

bool usableName(QString const &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/'));
}

QString passwordEntryName()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_name == nullptr)
        return QString();
    return QFile::decodeName(found->pw_name);
}

} // namespace

QString TraceLogPath()
{
    QString user = QString::fromLatin1(qgetenv("USER"));
    if (!usableName(user))
        user = QString::fromLatin1(qgetenv("LOGNAME"));
    if (!usableName(user))
        user = passwordEntryName();
    if (!usableName(user))
        user.clear();
    return QStringLiteral("/tmp/vokrallog_") + user;
}

std::unique_ptr<QFile> OpenTraceLog(QString const &path)
{
    // Non-blocking, so that a FIFO put in the file's place cannot stall the open.
    int fd = ::open(QFile::encodeName(path).constData(),
                    O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    struct stat st {
    };
    bool ours =
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1;
    if (!ours || ((st.st_mode & 077) != 0 && fchmod(fd, 0600) != 0) || ftruncate(fd, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

QString TraceLine(QDateTime const &when, QString const &who, QString const &what,
                  unsigned long status, QString const &info)
{
    QString line = when.toString(Qt::ISODate) + QStringLiteral(": ");
    if (who == QLatin1String("Pkcs11Manipulator"))
        line += QString(5, QLatin1Char(' '));
    else if (who == QLatin1String(">>"))
        line += QString(10, QLatin1Char(' '));
    line += who + QStringLiteral(": ") + what;
    if (status == 1000)
        line += QStringLiteral(" entered");
    else if (status == 1001)
        line += QStringLiteral(" finished");
    else
        line += QStringLiteral(" returned: 0x") + QString::number(status, 16);
    if (info.isEmpty())
        line += QLatin1Char(';');
    else
        line += QStringLiteral(" (More info: ") + info + QStringLiteral(");");
    return line;
}
