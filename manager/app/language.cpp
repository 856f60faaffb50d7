#include "language.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTranslator>

namespace
{

// The first line of the file without its line end; empty when it cannot be read.
QByteArray firstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

bool isCzech(const QLocale &locale)
{
    return locale.language() == QLocale::Czech;
}

bool writeAll(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    bool ok = file.write(text) == text.size() && file.flush();
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

Catalogue loadQtCzech(QTranslator &translator, const QString &qtTranslationsDir)
{
    if (translator.load(QStringLiteral("qt_cs"), qtTranslationsDir))
        return Catalogue::QtCzech;
    if (translator.load(QStringLiteral(":/translations/cz")))
        return Catalogue::QtCzechCopy;
    return Catalogue::None;
}

Catalogue loadEnglish(QTranslator &translator)
{
    return translator.load(QStringLiteral(":/translations/en")) ? Catalogue::English
                                                                : Catalogue::None;
}

} // namespace

QString languageConfigPath()
{
    return QDir::homePath() + QStringLiteral("/.config/vtorix/cmvokral/config.cfg");
}

LanguageSetting readLanguageSetting(const QString &path)
{
    QByteArray line = firstLine(path);
    if (line.endsWith('1'))
        return LanguageSetting::English;
    if (line.endsWith('0'))
        return LanguageSetting::Czech;
    return LanguageSetting::Unset;
}

Catalogue loadCatalogue(QTranslator &translator, LanguageSetting setting, const QLocale &locale,
                        const QString &qtTranslationsDir)
{
    Catalogue loaded = Catalogue::None;
    if (setting == LanguageSetting::English)
        loaded = loadEnglish(translator);
    else if (setting == LanguageSetting::Czech)
        loaded = loadQtCzech(translator, qtTranslationsDir);
    if (loaded != Catalogue::None)
        return loaded;
    return isCzech(locale) ? loadQtCzech(translator, qtTranslationsDir) : loadEnglish(translator);
}

bool toggleLanguageSetting(const QString &path, const QLocale &locale)
{
    if (QFileInfo::exists(path)) {
        QByteArray line = firstLine(path);
        QByteArray flipped;
        if (line.endsWith('1'))
            flipped = "LANG: 0";
        else if (line.endsWith('0'))
            flipped = "LANG: 1";
        return writeAll(path, flipped);
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    return writeAll(path, isCzech(locale) ? "LANG: 1" : "LANG: 0");
}
