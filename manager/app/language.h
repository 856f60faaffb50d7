// The card manager's language. One line in a file under the user's home directory
// chooses it for the next start: "LANG: 0" Czech, "LANG: 1" English. Czech is the
// language of the program's own texts; English comes from the program's catalogue.
// Qt's dialogs speak Czech from Qt's Czech catalogue in Czech mode and stay English
// in English mode. Without a usable setting the system locale decides.
#pragma once

#include <QLocale>
#include <QString>

class QTranslator;

// The language file of the user running the program (under QDir::homePath()).
QString languageConfigPath();

enum class LanguageSetting { Unset, Czech, English };

// The setting in the file's first line, by its last character: '0' Czech, '1'
// English; anything else, an empty or unreadable file, or none at all: Unset.
LanguageSetting readLanguageSetting(const QString &path);

// Which catalogue a translator holds.
enum class Catalogue {
    None,        // nothing could be loaded: the program's Czech texts and Qt's English ones
    English,     // the program's English catalogue, ":/translations/en"
    QtCzech,     // Qt's Czech catalogue as installed ("qt_cs" in qtTranslationsDir)
    QtCzechCopy, // the copy of Qt's Czech catalogue built in, ":/translations/cz"
};

// Loads the one catalogue of the setting into the translator: English, or Qt's Czech
// (the installed one preferred over the built-in copy). Unset, or a catalogue that
// does not load, falls back to the locale: Czech for a Czech locale, else English.
Catalogue loadCatalogue(QTranslator &translator, LanguageSetting setting, const QLocale &locale,
                        const QString &qtTranslationsDir);

// Switches the file to the other language for the next start and reports whether it
// was written. A file that exists is flipped ("LANG: 0" <-> "LANG: 1"; a line ending
// in neither leaves the file empty, which counts as unset). A missing file (and its
// directories) is created with the language the locale does not choose.
bool toggleLanguageSetting(const QString &path, const QLocale &locale);
