#include "start.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "card_manager.h"
#include "language.h"

int runCardManager(const QString &modulePath)
{
    QTranslator translator;
    loadCatalogue(translator, readLanguageSetting(languageConfigPath()), QLocale(),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    QCoreApplication::installTranslator(&translator);
    int code = 0;
    {
        CardManager manager(nullptr, modulePath);
        if (manager.isLoaded()) {
            manager.visibleWindow().show();
            QApplication::exec();
        } else {
            manager.showLoadFailure();
            code = 1;
        }
    }
    QCoreApplication::removeTranslator(&translator);
    return code;
}
