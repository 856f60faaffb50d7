// The diagnostic report: what the window knows of the computer, the program, the
// module and every reader with its card, for support staff. It makes no PKCS#11
// call: the reader and card lines are those gathered by the tree build, reload and
// the item pages. Every line ends in "<br>" (the last one excepted); the page shows
// the lines escaped, and the file and the clipboard get them as plain text.
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QSysInfo>
#include <QTreeWidget>

#include "card_manager.h"
#include "client/file_write.h"
#include "language.h"
#include "page_fill.h"
#include "slot_log.h"

namespace
{

const char kProgramVersion[] = "1.1";
const char kBreak[] = "<br>";

QString orUnknown(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("unknown") : value;
}

// The word size of the running system, from its processor architecture.
QString systemBitness()
{
    const QString arch = QSysInfo::currentCpuArchitecture();
    if (arch.isEmpty())
        return QStringLiteral("unknown");
    return arch.contains(QLatin1String("64")) || arch == QLatin1String("s390x")
               ? QStringLiteral("64")
               : QStringLiteral("32");
}

// The browser the desktop opens links with, as far as the environment names it.
QString browser()
{
    return orUnknown(qEnvironmentVariable("BROWSER"));
}

template <typename T> T entry(const QList<T> &list, int i)
{
    return i < list.size() ? list[i] : T();
}

} // namespace

QString CardManager::diagPlainText() const
{
    QString text = diagText;
    text.replace(QLatin1String(kBreak), QStringLiteral("\n"));
    text.remove(QStringLiteral("<font color=red>"));
    text.remove(QStringLiteral("</font>"));
    return text;
}

QString CardManager::diagnosticReport()
{
    auto line = [](const QString &text) { return text + QLatin1String(kBreak); };
    QString t =
        line(QStringLiteral("-------------------- GENERAL INFORMATION --------------------"));
    t += line(QStringLiteral("Date and time: ") +
              QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
    t += line(QStringLiteral("Computer: ") + orUnknown(QSysInfo::machineHostName()));
    t += line(QStringLiteral("OS: ") + orUnknown(QSysInfo::prettyProductName()));
    t += line(QStringLiteral("Browser: ") + browser());
    t += line(QStringLiteral("SystemBitness: ") + systemBitness());
    t += line(QStringLiteral("ProgramInfo: ") + QLatin1String(kProgramVersion) + QLatin1Char(' ') +
              QSysInfo::buildCpuArchitecture());
    const int readers = tree->topLevelItemCount();
    if (readers == 0) {
        t += line(QStringLiteral("No working PC/SC reader found!"));
    } else {
        t += line(QStringLiteral("Installed smart card readers (PC/SC):"));
        for (const QString &name : readerNames)
            t += line(QStringLiteral("-> ") + name);
    }
    if (!loadCompleted && !loadInterrupted)
        t += line(QStringLiteral("Update not called by the user"));

    t += line(
        QStringLiteral("-------------------- TECHNICAL DETAILS -----------------------------"));
    t += line(QStringLiteral("TechInfo: Current program path: ") +
              QCoreApplication::applicationFilePath());
    t += line(QStringLiteral("TechInfo: Current program version: ") +
              QLatin1String(kProgramVersion));
    t += line(QStringLiteral("TechInfo: pkcs#11 library path: ") +
              orUnknown(loaded ? pkcs11->fileName() : QString()));
    t += line(QStringLiteral("TechInfo: pkcs#11 library version: ") + orUnknown(libraryVersion));
    t += line(exitAct->text() == QStringLiteral("Konec")
                  ? QStringLiteral("TechInfo: Current language file: default (Czech)")
                  : QStringLiteral("TechInfo: Current language file: cardmanager_en.qm"));
    if (QFile::exists(languageConfigPath()))
        t += line(QStringLiteral("TechInfo: Language configuration path: ") + languageConfigPath());
    const QString logPath = pkcs11->traceLogPath();
    if (!logPath.isEmpty() && QFile::exists(logPath))
        t += line(QStringLiteral("TechInfo: Log file: ") + logPath);
    if (readers > 0) {
        t += line(
            QStringLiteral("-------------------- READER DETAILS -----------------------------"));
        for (int i = 0; i < readers; ++i)
            reportReader(t, i);
    }
    return t + QStringLiteral("Diagnostic info ended");
}

// A reader's lines; a list without an entry for the reader adds nothing of its own.
void CardManager::reportReader(QString &t, int i) const
{
    const QString br = QLatin1String(kBreak);
    bool usb = entry(readerIsUsb, i);
    t += QStringLiteral("ReaderInfo: Name: ") + entry(readerNames, i) + br;
    t += QStringLiteral("ReaderInfo: Vendor: ") + entry(readerManufacturers, i) + br;
    t += QStringLiteral("ReaderInfo: Type: ") +
         (usb ? QStringLiteral("USB Smart Card Reader") : QStringLiteral("unknown")) + br;
    t += QStringLiteral("ReaderInfo: Communication: PC/SC") + br;
    t += QStringLiteral("ReaderInfo: Connected: ") +
         (usb ? entry(readerUsbLocation, i) : QStringLiteral("unknown")) + br;
    if (!entry(tokenPresent, i))
        return;
    t += entry(cardInfoText, i);
    if (loadCompleted)
        t += entry(pinInfoText, i) + entry(itemInfoText, i);
    else
        t += QStringLiteral("CardInfo: Reload was not called by user") + br;
}

void CardManager::showDiag()
{
    SlotLog entry(*pkcs11, QStringLiteral("showDiag()"));
    menuAllows({});
    shownItem = nullptr;
    const QString page = readHtml(QStringLiteral("diag"));
    diagText = diagnosticReport();
    QStringList lines = diagText.split(QLatin1String(kBreak));
    for (QString &text : lines)
        text = text.toHtmlEscaped();
    showPage(fillPageHtml(page, {lines.join(QLatin1String(kBreak))}));
}

void CardManager::saveDiag()
{
    SlotLog entry(*pkcs11, QStringLiteral("saveDiag()"));
    showDiag();
    QFileDialog dialog(this, tr("Uložit diagnostiku"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setNameFilter(tr("Textové soubory (*.txt)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    // a full disk fails at the flush or close, not at the write
    if (ReplaceFile(dialog.selectedFiles().constFirst(), diagPlainText().toUtf8()).written)
        showMessage(tr("Úspěch"), tr("Diagnostické informace byly úspěšně uloženy."),
                    QMessageBox::Information);
    else
        showMessage(tr("Chyba"),
                    tr("<p align='center'>Diagnostické informace nebyly uloženy. Zkontrolujte, "
                       "zda máte dostatečná oprávnění k zápisu na požadované místo na disku."),
                    QMessageBox::Critical);
}
