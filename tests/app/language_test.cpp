// The language file: what a first line means, which catalogue each setting loads,
// and what toggling writes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QTranslator>

#include "language.h"
#include "qt_print.h"

namespace
{

struct LanguageFile : ::testing::Test {
    QTemporaryDir home;
    QString path = home.path() + "/.config/vtorix/cmvokral/config.cfg";

    void write(const QByteArray &content)
    {
        ASSERT_TRUE(QDir().mkpath(home.path() + "/.config/vtorix/cmvokral"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray read()
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};

QString qtTranslations()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

} // namespace

TEST(LanguageConfigPath, IsUnderTheHomeDirectory)
{
    EXPECT_EQ(languageConfigPath(), QDir::homePath() + "/.config/vtorix/cmvokral/config.cfg");
}

TEST_F(LanguageFile, FirstLineDecidesByItsLastCharacter)
{
    struct Row {
        const char *content;
        LanguageSetting expected;
    };
    const Row rows[] = {
        {"LANG: 1", LanguageSetting::English},
        {"LANG: 0", LanguageSetting::Czech},
        {"1", LanguageSetting::English},
        {"LANG: 1\r\n", LanguageSetting::English},
        {"LANG: 0\nLANG: 1", LanguageSetting::Czech},
        {"LANG: 2", LanguageSetting::Unset},
        {"LANG: 1 ", LanguageSetting::Unset},
        {"", LanguageSetting::Unset},
        {"\nLANG: 1", LanguageSetting::Unset},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.content);
        write(row.content);
        EXPECT_EQ(readLanguageSetting(path), row.expected);
    }
}

TEST_F(LanguageFile, MissingFileIsUnset)
{
    EXPECT_EQ(readLanguageSetting(path), LanguageSetting::Unset);
}

TEST(LanguageCatalogue, SettingThenLocaleChooseOneCatalogue)
{
    QTemporaryDir noQtTranslations;
    struct Row {
        const char *name;
        LanguageSetting setting;
        QLocale::Language locale;
        bool qtCzechInstalled;
        Catalogue expected;
    };
    const Row rows[] = {
        {"English file", LanguageSetting::English, QLocale::Czech, true, Catalogue::English},
        {"Czech file", LanguageSetting::Czech, QLocale::English, true, Catalogue::QtCzech},
        {"Czech file, no Qt catalogue", LanguageSetting::Czech, QLocale::English, false,
         Catalogue::QtCzechCopy},
        {"unset, Czech locale", LanguageSetting::Unset, QLocale::Czech, true, Catalogue::QtCzech},
        {"unset, Czech locale, no Qt catalogue", LanguageSetting::Unset, QLocale::Czech, false,
         Catalogue::QtCzechCopy},
        {"unset, English locale", LanguageSetting::Unset, QLocale::English, true,
         Catalogue::English},
        {"unset, German locale", LanguageSetting::Unset, QLocale::German, true, Catalogue::English},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QTranslator translator;
        QString dir = row.qtCzechInstalled ? qtTranslations() : noQtTranslations.path();
        EXPECT_EQ(loadCatalogue(translator, row.setting, QLocale(row.locale), dir), row.expected);
        bool english = row.expected == Catalogue::English;
        // the program's texts translate only in English; Qt's own only in Czech
        EXPECT_EQ(translator.translate("CardManager", "Konec"), english ? "Exit" : "");
        EXPECT_EQ(translator.translate("QPlatformTheme", "Cancel").isEmpty(), english);
    }
}

TEST_F(LanguageFile, TogglingFlipsTheLineAndTwiceRestoresIt)
{
    struct Row {
        const char *before, *once, *twice;
    };
    const Row rows[] = {
        {"LANG: 0", "LANG: 1", "LANG: 0"},
        {"LANG: 1", "LANG: 0", "LANG: 1"},
        {"1", "LANG: 0", "LANG: 1"},
        {"LANG: 7", "", ""}, // neither: the file is left empty, and stays so
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.before);
        write(row.before);
        ASSERT_TRUE(toggleLanguageSetting(path, QLocale(QLocale::English)));
        EXPECT_EQ(read(), row.once);
        ASSERT_TRUE(toggleLanguageSetting(path, QLocale(QLocale::English)));
        EXPECT_EQ(read(), row.twice);
    }
}

TEST_F(LanguageFile, FirstToggleCreatesTheFileAwayFromTheLocalesLanguage)
{
    struct Row {
        QLocale::Language locale;
        const char *written;
    };
    for (const Row &row : {Row{QLocale::English, "LANG: 0"}, Row{QLocale::Czech, "LANG: 1"}}) {
        SCOPED_TRACE(row.written);
        QDir(home.path() + "/.config").removeRecursively();
        ASSERT_TRUE(toggleLanguageSetting(path, QLocale(row.locale)));
        EXPECT_EQ(read(), row.written);
    }
}

TEST_F(LanguageFile, UnwritableFileIsReported)
{
    // a directory where the file should be, and a file where a directory should be
    ASSERT_TRUE(QDir().mkpath(path));
    EXPECT_FALSE(toggleLanguageSetting(path, QLocale(QLocale::English)));
    QString blocked = home.path() + "/plain";
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_FALSE(toggleLanguageSetting(blocked + "/cmvokral/config.cfg", QLocale()));
}
