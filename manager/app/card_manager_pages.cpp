// The page area: page resources in the window's language, the welcome and wizard
// pages, and the link commands of the pages. The view never navigates: every clicked
// link arrives at activatedLink, which runs the command it names.
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>

#include "card_manager.h"
#include "slot_log.h"

namespace
{

// The two web addresses the link commands may open; no page links to them.
const char kWebSiteCommand[] = "www.vok.example";
const char kWebSite[] = "https://www.vok.example/";
const char kHelpdesk[] = "https://www.vok.example/helpdesk/";

} // namespace

QString CardManager::readHtml(const QString &page)
{
    SlotLog entry(*pkcs11, QStringLiteral("readHtml(") + page + QStringLiteral(")"));
    QFile file(QStringLiteral(":/pages/") + language + QStringLiteral("/") + page);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void CardManager::showPage(const QString &html)
{
    webView->setHtml(html);
}

void CardManager::initializeArea()
{
    SlotLog entry(*pkcs11, QStringLiteral("initializeArea()"));
    QString notice;
    if (readerNames.isEmpty())
        notice = tr("<br/>Nebyla nalezena čtečka čipových karet. Ujistěte se prosím, že podpora "
                    "PC/SC je správně nastavena. Zkontrolujte také správné připojení čtečky "
                    "čipových karet.");
    showPage(readHtml(QStringLiteral("welcome")).arg(notice));
    // one connection for the life of the window, however often the page is shown
    connect(webView, &QTextBrowser::anchorClicked, this, &CardManager::activatedLink,
            Qt::UniqueConnection);
    menuAllows({});
}

void CardManager::about()
{
    SlotLog entry(*pkcs11, QStringLiteral("about()"));
    initializeArea();
}

void CardManager::suggestSolutions()
{
    SlotLog entry(*pkcs11, QStringLiteral("suggestSolutions()"));
    showPage(readHtml(QStringLiteral("wizard")).arg(suggestions));
}

void CardManager::activatedLink(const QUrl &link)
{
    QString command = link.toString();
    SlotLog entry(*pkcs11, QStringLiteral("activatedLink(") + command + QStringLiteral(")"));
    auto withStatus = [this](const QString &status, void (CardManager::*slot)()) {
        statusLabel->setText(status);
        (this->*slot)();
        statusLabel->setText(tr("Hotovo"));
    };
    if (command == QLatin1String("reload"))
        reload();
    else if (command == QLatin1String("exportCert"))
        withStatus(tr("Exportování certifikátu"), &CardManager::exportCert);
    else if (command == QLatin1String("exportKey"))
        withStatus(tr("Exportování klíče"), &CardManager::exportKey);
    else if (command == QLatin1String("importKey"))
        importKey();
    else if (command == QLatin1String("importCert"))
        importCert();
    else if (command == QLatin1String("deleteObject"))
        deleteObject();
    else if (command == QLatin1String("toCertificate"))
        showCertificateOfCurrentKey();
    else if (command == QLatin1String("showCertview"))
        showCertview();
    else if (command == QLatin1String("changePin"))
        changePin();
    else if (command == QLatin1String("changePuk"))
        changePuk();
    else if (command == QLatin1String("unblockPin"))
        unblockPin();
    else if (command == QLatin1String("testKey"))
        testKey();
    else if (command == QLatin1String("toClipboard"))
        copyDiagnosticsToClipboard();
    else if (command == QLatin1String("toFile"))
        saveDiag();
    else if (command == QLatin1String(kWebSiteCommand))
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebSite)));
    else if (command == QLatin1String("helpdesk"))
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHelpdesk)));
}

// The key item stays current; its certificate item is shown and marked selected.
void CardManager::showCertificateOfCurrentKey()
{
    QTreeWidgetItem *key = tree->currentItem();
    if (key == nullptr || key->childCount() == 0)
        return;
    QTreeWidgetItem *certificate = key->child(0);
    treeClicked(certificate);
    tree->expandItem(key);
    certificate->setSelected(true);
    key->setSelected(false);
}

void CardManager::copyDiagnosticsToClipboard()
{
    QString text = diagText;
    text.replace(QStringLiteral("<br>"), QStringLiteral("\n"));
    text.remove(QStringLiteral("<font color=red>"));
    text.remove(QStringLiteral("</font>"));
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
    showMessage(tr("Úspěch"), tr("Diagnostické informace byly úspěšně uloženy do schránky."),
                QMessageBox::Information);
}
