// The reader and card tree. initializeTree lists the readers and makes the per-reader
// and per-slot lists anew; reload reads every card behind a progress dialog, asks
// for its PIN, lays its key containers and certificates into the tree, and lets the
// item pages gather their report lines in a walk over the finished tree.
//
// Invariants: top-level item i is reader (slot) i, and entry i of every per-reader
// and per-slot list belongs to it; key item k of a card is entry k of the slot's key
// lists, and its certificate index one of the client's records as last read. Every
// reload closes the sessions of the previous read before it opens new ones; a read that
// is cancelled closes them too, and one that fails closes those of the card it failed
// on, so no half-read card stays logged in. A failed read takes that card's items away
// and leaves the cards read before it as read. No second reload runs inside one.
#include <QDate>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QScopedValueRollback>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "card_manager.h"
#include "certificate_file.h"
#include "certview/x509_cert.h"
#include "item_texts.h"
#include "slot_log.h"

using item_text::field;

namespace
{

constexpr int kProgressMax = 100;
constexpr int kProgressWidth = 400;
constexpr int kProgressHeight = 150;

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

} // namespace

int CardManager::initializeTree()
{
    log(QStringLiteral("initializeTree()"), 1000);
    tree->clear();
    shownItem = nullptr;
    int n = pkcs11->GetReadersCount();
    for (QStringList *list : {&readerNames, &readerManufacturers, &readerUsbLocation})
        list->clear();
    tokenPresent.clear();
    readerIsUsb.clear();
    keyNames = QList<QStringList>(n);
    keyInfos = QList<QList<key_info>>(n);
    keyCertIndex = QList<QList<int>>(n);
    cardInfoText = pinInfoText = itemInfoText = QStringList(n, QString());
    libraryVersion = pkcs11->GetInfo();
    const QString listing = n > 0 ? usbListing() : QString();

    for (int i = 0; i < n; ++i) {
        if (pkcs11->SaveReader(i) != 0) {
            showMessage(tr("Chyba"), tr("<p align='center'>Během načítání se vyskytla chyba."),
                        QMessageBox::Critical,
                        tr("<p align='center'>Pravděpodobně byla karta odpojena od čtečky."));
            suggestions += tr("<li><b>Při načítání dat z karty se vyskytla chyba. Doporučuji "
                              "opětovně načíst data z karty</b></li>");
            return 0;
        }
        if (printProgress)
            std::printf("Loading information about reader (%d/%d): done\n", i + 1, n);
        reader_info reader = pkcs11->GetReaderStruct(i);
        bool card = pkcs11->SCardConnect(i) != 0;
        QString name = field(reader.slotDescription);
        auto *item = new QTreeWidgetItem(tree, QStringList(name));
        item->setIcon(0, QIcon(card ? QStringLiteral(":/icons/readerCard")
                                    : QStringLiteral(":/icons/reader")));
        readerNames.append(name);
        readerManufacturers.append(field(reader.manufacturerID));
        tokenPresent.append(card);
        cardInfoText[i] = QStringLiteral("CardInfo: Name: ") + field(reader.tokenLabel) +
                          QStringLiteral("<br>CardInfo: ATR: ") +
                          item_text::atr(reader.atr, reader.atrLen, int(sizeof reader.atr)) +
                          QStringLiteral("<br>");
        classifyReader(i, listing);
    }
    if (printProgress)
        std::puts("Loading done");
    std::fflush(stdout);
    printProgress = false;
    log(QStringLiteral("initializeTree()"), 1001);
    return n;
}

void CardManager::classifyReader(int i, const QString &listing)
{
    UsbLocation usb = findUsbReader(listing, readerNames, i);
    readerIsUsb.append(usb.found);
    readerUsbLocation.append(usb.location);
}

void CardManager::reload()
{
    SlotLog entry(*pkcs11, QStringLiteral("reload()"));
    if (reloadRunning) // a link followed while a reload waits: that reload goes on
        return;
    reloadRunning = true;
    reloadAct->setEnabled(false);
    pkcs11->Reinitialize(); // the sessions of the previous read, complete or not
    loadInterrupted = false;
    suggestions.clear();
    menuAllows({});
    int cardsAtStart = pkcs11->GetReadersWithTokenCount();
    int step = kProgressMax / qMax(cardsAtStart, 1) / 3;

    QProgressDialog dialog(this);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setRange(0, kProgressMax);
    dialog.setValue(0);
    dialog.setFixedSize(kProgressWidth, kProgressHeight);
    dialog.move(window.geometry().center() - dialog.rect().center());
    dialog.setLabelText(tr("<b>Načítání informací o čtečkách</b>"));
    dialog.setWindowTitle(tr("Načítání informací"));
    dialog.show();
    progress = &dialog;
    statusLabel->setText(tr("Načítání informací o kartě a certifikátech"));

    tree->clear();
    readerNames.clear();
    shownItem = nullptr;
    if (!progressStep(QString(), 0)) {
        interruptLoad();
    } else {
        int readers = initializeTree();
        int cards = 0, reading = -1;
        Read read = Read::Done;
        for (int i = 0; i < readers && read == Read::Done; ++i) {
            pinInfoText[i].clear();
            itemInfoText[i].clear();
            if (pkcs11->SCardConnect(i) == 0) {
                if (cards == 0)
                    suggestions += tr("<li>Nebyla nalezena žádná karta</li>");
                continue;
            }
            ++cards;
            suggestions += tr("<li>Karta rozeznána ve čtečce ") + escaped(readerNames[i]) +
                           QStringLiteral("</li>");
            reading = i;
            read = readCard(i, step);
        }
        if (read == Read::Cancelled) {
            interruptLoad();
        } else {
            // a failed read ends at its card; the cards read before it stay as read, and
            // their pages gather their report lines as after a complete read
            if (read == Read::Failed)
                loadFailed(reading);
            tree->expandAll();
            loadCompleted = true;
            if (cards > 0)
                walkTree();
        }
    }
    endReload();
}

// Advances the progress by step (never to its end, which would close the dialog),
// lets the window repaint, and tells whether the user let the read go on.
bool CardManager::progressStep(const QString &label, int step)
{
    if (!label.isEmpty())
        progress->setLabelText(label);
    progress->setValue(qMin(progress->value() + step, kProgressMax - 1));
    waitForProgress();
    return !progress->wasCanceled();
}

CardManager::Read CardManager::readCard(int i, int step)
{
    const QString reader = readerNames[i];
    if (!progressStep(tr("<p align='center'><b>Načítání informací o kartě</b></p><p "
                         "align='center'>Čtečka: ") +
                          escaped(reader),
                      step))
        return Read::Cancelled;
    if (pkcs11->SaveCard(i) != 0)
        return Read::Failed;
    const QString card = field(pkcs11->GetCardStruct(i).serialNumber);
    auto *cardItem = new QTreeWidgetItem(tree->topLevelItem(i), QStringList(card));
    cardItem->setIcon(0, QIcon(QStringLiteral(":/icons/card")));

    Read pin = askForPin(i, reader, card);
    if (pin != Read::Done)
        return pin;

    if (!progressStep(tr("<p align='center'><b>Načítání informací o objektech</b></p><p "
                         "align='center'>Čtečka: ") +
                          escaped(reader),
                      step))
        return Read::Cancelled;
    // An object too large for the client's records is left out; the others are shown.
    int objects = pkcs11->SaveObjects(i);
    if (objects != 0 && objects != int(CKR_BUFFER_TOO_SMALL))
        return Read::Failed;
    layKeys(i, cardItem);
    if (pkcs11->UpdatePinTries(i, CKU_USER) != 0)
        return Read::Failed;
    progress->setValue(qMin(progress->value() + step, kProgressMax - 1));
    return Read::Done;
}

// Logs the card's session in with the PIN the user gives, until it is verified, the
// user gives up, or the PIN is blocked; the two last show the card's public objects.
CardManager::Read CardManager::askForPin(int i, const QString &reader, const QString &card)
{
    card_info info = pkcs11->GetCardStruct(i);
    if (info.userPin[1] == 0) {
        pinBlockedNotice(reader, card, info.soPin[1] == 0);
        return Read::Done;
    }
    if (pkcs11->GetState(i) == int(CKS_RW_USER_FUNCTIONS))
        return Read::Done;
    // what became of the prompt, said once in the report: the last entry or a cancel
    QString outcome;
    auto end = [&](Read read) {
        pinInfoText[i] += outcome;
        return read;
    };
    for (;;) {
        int rc = 0;
        Entry entry =
            enterSecret(i, Secret::Pin, tr("Ověření PIN"),
                        tr("<p align='center'><b>Zadejte prosím PIN pro následující kartu:</b>") +
                            tr("</p><p align='center'>Čtečka: ") + escaped(reader) +
                            tr("</p><p align='center'>Číslo karty: ") + escaped(card) +
                            tr("</p><p align='center'>Zbývající počet pokusů: ") +
                            QString::number(pkcs11->GetCardStruct(i).userPin[1]),
                        true, rc);
        if (entry == Entry::Cancelled) {
            showMessage(tr("Upozornění"),
                        tr("<p align='center'>Budou zobrazeny pouze veřejné objekty. Pro přístup "
                           "k privátním objektům je třeba zadat korektní PIN."),
                        QMessageBox::Information);
            outcome = QStringLiteral("CardInfo: PIN was not entered<br>");
            return end(Read::Done);
        }
        if (entry == Entry::Refused)
            continue;
        outcome = QStringLiteral("CardInfo: PIN was entered<br>");
        switch (logInAnswer(i, Secret::Pin, rc,
                            {tr("<p align='center'>Byl zadán chybný PIN."),
                             tr("<p align='center'>PIN byl zablokován.")},
                            std::nullopt)) {
        case Answer::LoggedIn:
            outcome += QStringLiteral("CardInfo: PIN was verified<br>");
            return end(Read::Done);
        case Answer::Wrong:
            continue;
        case Answer::Blocked:
            pinBlockedNotice(reader, card, pkcs11->GetCardStruct(i).soPin[1] == 0);
            return end(Read::Done);
        case Answer::Failed:
            return end(Read::Failed);
        }
    }
}

void CardManager::pinBlockedNotice(const QString &reader, const QString &card, bool pukBlocked)
{
    QString text;
    if (pukBlocked)
        text = tr("<p align='center'>PIN i PUK karty s číslem <b>") + escaped(card) +
               tr("</b> ve čtečce <b>") + escaped(reader) +
               tr("</b> jsou zablokovány. Je možné přistupovat pouze k veřejným objektům na "
                  "kartě.</p>");
    else
        text = tr("<p align='center'>PIN karty s číslem <b>") + escaped(card) +
               tr("</b> ve čtečce <b>") + escaped(reader) +
               tr("</b> je zablokovaný. Dokud PIN neodblokujete, nebude možné přistupovat k "
                  "privátním objektům na kartě.</p>");
    showMessage(tr("Upozornění"), text, QMessageBox::Information);
}

// Private keys first, then the public keys of containers without a private key.
void CardManager::layKeys(int i, QTreeWidgetItem *cardItem)
{
    QStringList privateNames;
    for (int k = 0; k < pkcs11->GetPrivKeyCount(i); ++k) {
        key_info key = pkcs11->GetPrivKeyStruct(i, k);
        privateNames << field(key.containerName);
        addKeyItem(i, cardItem, key);
    }
    for (int p = 0; p < pkcs11->GetPubKeyCount(i); ++p) {
        key_info key = pkcs11->GetPubKeyStruct(i, p);
        if (!privateNames.contains(field(key.containerName)))
            addKeyItem(i, cardItem, key);
    }
}

// The key item with its certificate beneath it: the certificate of its container
// with the key's modulus, else the container's first one that is no other key's of
// the container. A container holds a signature and an exchange key, each with its
// own certificate.
void CardManager::addKeyItem(int i, QTreeWidgetItem *cardItem, const key_info &key)
{
    const QString name = field(key.containerName);
    auto *item = new QTreeWidgetItem(cardItem, QStringList(name));
    keyNames[i] << name;
    keyInfos[i] << key;
    QList<key_info> others; // the container's other keys
    for (bool privateKeys : {true, false}) {
        int count = privateKeys ? pkcs11->GetPrivKeyCount(i) : pkcs11->GetPubKeyCount(i);
        for (int k = 0; k < count; ++k) {
            key_info other =
                privateKeys ? pkcs11->GetPrivKeyStruct(i, k) : pkcs11->GetPubKeyStruct(i, k);
            if (field(other.containerName) == name && !certificate_file::sameKey(other, key))
                others << other;
        }
    }
    int first = -1, own = -1;
    for (int c = 0; c < pkcs11->GetCertsCount(i) && own < 0; ++c) {
        cert_info cert = pkcs11->GetCertStruct(i, c);
        if (field(cert.containerName) != name)
            continue;
        if (certificate_file::certifies(cert, key))
            own = c;
        else if (first < 0 &&
                 std::none_of(others.cbegin(), others.cend(), [&](const key_info &other) {
                     return certificate_file::certifies(cert, other);
                 }))
            first = c;
    }
    if (int c = own >= 0 ? own : first; c >= 0) {
        cert_info cert = pkcs11->GetCertStruct(i, c);
        item->setIcon(0, QIcon(QStringLiteral(":/icons/keyCert")));
        auto *certItem = new QTreeWidgetItem(item, QStringList(tr("Certifikát")));
        certItem->setIcon(0, QIcon(QStringLiteral(":/icons/cert")));
        keyCertIndex[i] << c;
        suggestIfExpired(cert);
        return;
    }
    item->setIcon(0, QIcon(QStringLiteral(":/icons/key")));
    keyCertIndex[i] << -1;
}

// A certificate without a valid end date counts as expired.
void CardManager::suggestIfExpired(const cert_info &cert)
{
    if (cert.notAfter.isValid() && QDate::currentDate() <= cert.notAfter)
        return;
    using Orvane::Certificate::X509Cert;
    using Orvane::Certificate::X509Common;
    X509Cert holder(cert.value.data(), static_cast<long long>(cert.value.size()));
    // one text, so that a translation may put issuer (%1) and holder (%2) in its order
    suggestions += tr("<li>Certifikátu vydanému <b>%1</b> pro <b>%2</b> vypršela platnost. "
                      "Doporučuji nechat si vystavit nový</li>")
                       .arg(escaped(holder.GetCommonText(X509Common::Issuer, TextPlain)),
                            escaped(holder.GetCommonText(X509Common::Subject, TextPlain)));
}

// Every item of the finished tree shows its page once, so that the pages add their
// report lines, in tree order.
void CardManager::walkTree()
{
    for (int r = 0; r < tree->topLevelItemCount(); ++r) {
        QTreeWidgetItem *reader = tree->topLevelItem(r);
        treeClicked(reader);
        if (reader->childCount() == 0)
            continue;
        QTreeWidgetItem *card = reader->child(0);
        treeClicked(card);
        walkKeys(card);
    }
}

void CardManager::walkKeys(QTreeWidgetItem *card)
{
    for (int k = 0; k < card->childCount(); ++k) {
        QTreeWidgetItem *key = card->child(k);
        treeClicked(key);
        if (key->childCount() > 0)
            treeClicked(key->child(0));
    }
}

// The card's objects are read again in its logged-in session, and its key items laid
// anew from them as a reload lays them, so that key item k stays entry k of the slot's
// key lists and its certificate index one of the records just read. Their report lines
// are gathered again; the expired certificates were suggested by the reload already.
// The key whose page was shown is shown again, on its new item.
void CardManager::readPrivateObjects(int slot)
{
    QTreeWidgetItem *reader = tree->topLevelItem(slot);
    QTreeWidgetItem *card = reader != nullptr ? reader->child(0) : nullptr;
    if (card == nullptr || slot >= keyInfos.size())
        return;
    std::optional<key_info> shownKey;
    if (QTreeWidgetItem *key = shownItemOf(KeyItem); key != nullptr && key->parent() == card)
        if (int k = card->indexOfChild(key); k < keyInfos[slot].size())
            shownKey = keyInfos[slot][k];
    for (QTreeWidgetItem *up = shownItem; up != nullptr; up = up->parent())
        if (up == card)
            shownItem = nullptr;
    // whatever the read found: the items follow the client's records either way
    pkcs11->SaveObjects(slot);
    qDeleteAll(card->takeChildren());
    keyNames[slot].clear();
    keyInfos[slot].clear();
    keyCertIndex[slot].clear();
    const QString suggested = suggestions;
    layKeys(slot, card);
    suggestions = suggested;
    for (int k = 0; k < card->childCount(); ++k)
        card->child(k)->setExpanded(true);
    itemInfoText[slot].clear();
    {
        QScopedValueRollback<bool> gathering(gatheringReport, true);
        walkKeys(card);
    }
    menuAllows({});
    for (int k = 0; shownKey && k < keyInfos[slot].size(); ++k) {
        if (field(keyInfos[slot][k].containerName) == field(shownKey->containerName) &&
            certificate_file::sameKey(keyInfos[slot][k], *shownKey)) {
            tree->setCurrentItem(card->child(k));
            treeClicked(card->child(k));
            return;
        }
    }
}

void CardManager::interruptLoad()
{
    suggestions += QStringLiteral("<li><b>") +
                   tr("Načítání dat bylo přerušeno uživatelem. Zjištěné informace jsou "
                      "pravděpodobně nekompletní a mohou být i zkreslené oproti reálnému stavu. "
                      "Pro práci s informacemi na kartě doporučuji ") +
                   tr("<a href=\"reload\">načíst kompletní data.</b></a></li>");
    loadInterrupted = true;
    pkcs11->Reinitialize();
}

// Most likely the card was pulled out: its items and its slot's lists go, and its reader
// shows no card, so that no page or report shows it as if it were still there. Only its
// own sessions are closed: the other cards' sessions, log-ins included, stay.
void CardManager::loadFailed(int i)
{
    if (QTreeWidgetItem *reader = tree->topLevelItem(i)) {
        qDeleteAll(reader->takeChildren());
        reader->setIcon(0, QIcon(QStringLiteral(":/icons/reader")));
    }
    tokenPresent[i] = false;
    cardInfoText[i].clear();
    keyNames[i].clear();
    keyInfos[i].clear();
    keyCertIndex[i].clear();
    pinInfoText[i].clear();
    itemInfoText[i].clear();
    showMessage(tr("Chyba"), tr("<p align='center'>Během načítání se vyskytla chyba."),
                QMessageBox::Critical,
                tr("<p align='center'>Pravděpodobně byla karta odpojena od čtečky."));
    suggestions += tr("<li><b>Při načítání dat z karty se vyskytla chyba. Doporučuji opětovně "
                      "načíst data z karty</b></li>");
    pkcs11->Reinitialize(i);
}

// Every path of reload ends here. No item is selected now, so no item action may
// stay enabled from the last page the walk showed.
void CardManager::endReload()
{
    reloadRunning = false;
    statusLabel->setText(tr("Hotovo"));
    progress->close();
    progress = nullptr;
    reloadAct->setEnabled(true);
    menuAllows({});
    shownItem = nullptr;
    if (suggestions.size() < 5)
        suggestions += tr("<li>Nebyla nalezena žádná čtečka čipových karet</li>");
    suggestSolutions();
}
