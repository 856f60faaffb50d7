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

// Runs the command the link names: its text must equal a command word exactly.
void CardManager::activatedLink(const QUrl &link)
{
    const QString command = link.toString();
    SlotLog entry(*pkcs11, QStringLiteral("activatedLink(") + command + QStringLiteral(")"));
    struct Command {
        const char *word;
        void (CardManager::*run)();
        const char *status; // shown while the command runs
        const char *url;    // opened in the desktop's browser instead
    };
    static const Command commands[] = {
        {"reload", &CardManager::reload, nullptr, nullptr},
        {"exportCert", &CardManager::exportCert, QT_TR_NOOP("Exportování certifikátu"), nullptr},
        {"exportKey", &CardManager::exportKey, QT_TR_NOOP("Exportování klíče"), nullptr},
        {"importKey", &CardManager::importKey, nullptr, nullptr},
        {"importCert", &CardManager::importCert, nullptr, nullptr},
        {"deleteObject", &CardManager::deleteObject, nullptr, nullptr},
        {"toCertificate", &CardManager::showCertificateOfCurrentKey, nullptr, nullptr},
        {"showCertview", &CardManager::showCertview, nullptr, nullptr},
        {"changePin", &CardManager::changePin, nullptr, nullptr},
        {"changePuk", &CardManager::changePuk, nullptr, nullptr},
        {"unblockPin", &CardManager::unblockPin, nullptr, nullptr},
        {"testKey", &CardManager::testKey, nullptr, nullptr},
        {"toClipboard", &CardManager::copyDiagnosticsToClipboard, nullptr, nullptr},
        {"toFile", &CardManager::saveDiag, nullptr, nullptr},
        {kWebSiteCommand, nullptr, nullptr, kWebSite},
        {"helpdesk", nullptr, nullptr, kHelpdesk},
    };
    for (const Command &c : commands) {
        if (command != QLatin1String(c.word))
            continue;
        if (c.url != nullptr) {
            QDesktopServices::openUrl(QUrl(QString::fromLatin1(c.url)));
            continue;
        }
        if (c.status != nullptr)
            statusLabel->setText(tr(c.status));
        (this->*c.run)();
        if (c.status != nullptr)
            statusLabel->setText(tr("Hotovo"));
    }
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
    QGuiApplication::clipboard()->setText(diagPlainText(), QClipboard::Clipboard);
    showMessage(tr("Úspěch"), tr("Diagnostické informace byly úspěšně uloženy do schránky."),
                QMessageBox::Information);
}
