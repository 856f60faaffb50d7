// The item pages: treeClicked shows the page of a reader, card, key container or
// certificate item from the client's cached records (no PKCS#11 call, no dialog),
// records the current slot and object for the card operations, enables the item
// actions the item allows and, while reload walks the tree (or readPrivateObjects a
// card's keys), appends the item's report lines to its slot's report texts.
//
// An item's slot is the position of its reader item among the top-level items, and a
// key item's entry in the slot's key lists is its position under the card item; both
// are checked against the lists before any of them is read.
#include <QTreeWidget>

#include "card_manager.h"
#include "certview/html_parts.h"
#include "certview/x509_cert.h"
#include "item_texts.h"
#include "page_fill.h"

using item_text::field;
using Orvane::Certificate::X509Cert;
using Orvane::Certificate::X509Common;
using Orvane::Certificate::html::breakableHex;

namespace
{

const char kTreeClicked[] = "treeClicked(QTreeWidgetItem *item)";

QString bytes(uint64_t count)
{
    return QString::number(count) + QStringLiteral(" B");
}

// The certificate of a record, for its issuer, subject and version texts.
X509Cert holderOf(const cert_info &cert)
{
    return X509Cert(cert.value.data(), static_cast<long long>(cert.value.size()));
}

} // namespace

int CardManager::itemDepth(const QTreeWidgetItem *item)
{
    int depth = 0;
    for (const QTreeWidgetItem *up = item ? item->parent() : nullptr; up; up = up->parent())
        ++depth;
    return depth;
}

QTreeWidgetItem *CardManager::shownItemOf(ItemKind kind) const
{
    return shownItem != nullptr && itemDepth(shownItem) == kind ? shownItem : nullptr;
}

int CardManager::slotOf(QTreeWidgetItem *item) const
{
    QTreeWidgetItem *top = item;
    while (top->parent() != nullptr)
        top = top->parent();
    int slot = tree->indexOfTopLevelItem(top);
    bool known = slot >= 0 && slot < readerNames.size() && slot < keyNames.size() &&
                 slot < keyInfos.size() && slot < keyCertIndex.size() &&
                 slot < pinInfoText.size() && slot < itemInfoText.size();
    return known ? slot : -1;
}

bool CardManager::pinBlocked(int slot)
{
    return pkcs11->GetCardStruct(slot).userPin[1] == 0;
}

void CardManager::report(QString &text, const QString &line) const
{
    if (reloadRunning || gatheringReport)
        text += line + QStringLiteral("<br>");
}

void CardManager::treeClicked(QTreeWidgetItem *item)
{
    static const char *const kinds[] = {"item=READER", "item=CARD", "item=KEY", "item=CERTIFICATE"};
    int depth = item != nullptr ? itemDepth(item) : -1;
    int slot = depth >= 0 && depth <= CertificateItem ? slotOf(item) : -1;
    if (depth >= 0 && depth <= CertificateItem)
        log(QLatin1String(kTreeClicked), 1000, QLatin1String(kinds[depth]));
    if (slot >= 0) {
        if (!reloadRunning && !gatheringReport) // a walk opens no page for the user
            shownItem = item;
        switch (depth) {
        case ReaderItem:
            showReaderPage(slot);
            break;
        case CardItem:
            showCardPage(item, slot);
            break;
        case KeyItem:
            showKeyPage(item, slot);
            break;
        default:
            showCertificatePage(item, slot);
            break;
        }
    }
    log(QLatin1String(kTreeClicked), 1001);
}

void CardManager::showReaderPage(int slot)
{
    menuAllows({});
    reader_info reader = pkcs11->GetReaderStruct(slot);
    const QString unknown = tr("neznámo");
    bool usb = slot < readerIsUsb.size() && readerIsUsb[slot];
    bool card = slot < tokenPresent.size() && tokenPresent[slot];
    // a reader whose card could not be read shows none, as an empty one
    const QString atr = card && reader.atrLen > 0
                            ? item_text::atr(reader.atr, reader.atrLen, int(sizeof reader.atr))
                            : unknown;
    showPage(fillPage(readHtml(QStringLiteral("reader")),
                      {readerNames[slot], readerManufacturers.value(slot),
                       usb ? QStringLiteral("USB Smart Card Reader") : unknown,
                       QStringLiteral("PC/SC"), usb ? readerUsbLocation.value(slot) : unknown,
                       card ? field(reader.tokenLabel) : unknown, atr}));
}

void CardManager::showCardPage(QTreeWidgetItem *item, int slot)
{
    currentSlot = slot;
    card_info card = pkcs11->GetCardStruct(slot);
    bool blocked = card.userPin[1] == 0, pukBlocked = card.soPin[1] == 0;
    menuAllows(item_actions::card(blocked, pukBlocked));
    QStringList values = {
        item->text(0),
        item_text::counters(card.userPin),
        item_text::counters(card.soPin),
        item_text::usedOfTotal(card.containersUsed, card.containersFree),
        item_text::usedOfTotal(card.rsa2048[1], card.rsa2048[2]),
        bytes(card.freePublicMemory),
        bytes(card.totalPublicMemory),
    };
    QString &lines = pinInfoText[slot];
    report(lines, QStringLiteral("CardInfo: Serial: ") + values[0]);
    report(lines, QStringLiteral("CardInfo: PIN: ") + values[1]);
    report(lines, QStringLiteral("CardInfo: PUK: ") + values[2]);
    report(lines, QStringLiteral("CardInfo: Containers: ") + values[3]);
    report(lines, QStringLiteral("CardInfo: Keys: ") + values[4]);
    report(lines, QStringLiteral("CardInfo: FreeSpace: ") + QString::number(card.freePublicMemory));
    report(lines,
           QStringLiteral("CardInfo: TotalSpace: ") + QString::number(card.totalPublicMemory));
    values[0] = breakableHex(values[0]); // on the page it wraps between bytes only
    // with both secrets blocked the page offers no unblocking that cannot work
    const QString page = !blocked     ? QStringLiteral("card")
                         : pukBlocked ? QStringLiteral("cardbothblocked")
                                      : QStringLiteral("cardblocked");
    showPage(fillPage(readHtml(page), values));
}

void CardManager::showKeyPage(QTreeWidgetItem *item, int slot)
{
    currentSlot = slot;
    int k = item->parent()->indexOfChild(item);
    if (k < 0 || k >= keyNames[slot].size() || k >= keyInfos[slot].size() ||
        k >= keyCertIndex[slot].size()) {
        menuAllows({});
        return;
    }
    currentObject = k;
    int c = keyCertIndex[slot][k];
    menuAllows(item_actions::key(expertModeAct->isChecked(), c != -1, pinBlocked(slot)));

    const QString name = item->text(0);
    auto holds = [&](int count, key_info (Pkcs11Manipulator::*record)(int, int)) {
        for (int i = 0; i < count; ++i)
            if (field((pkcs11.get()->*record)(slot, i).containerName) == name)
                return true;
        return false;
    };
    bool hasPrivate = holds(pkcs11->GetPrivKeyCount(slot), &Pkcs11Manipulator::GetPrivKeyStruct);
    bool hasPublic = holds(pkcs11->GetPubKeyCount(slot), &Pkcs11Manipulator::GetPubKeyStruct);
    const key_info &key = keyInfos[slot][k];
    QString keys, keysLine;
    if (hasPrivate && hasPublic)
        keys = tr("Privátní i veřejný klíč"), keysLine = QStringLiteral("private + public");
    else if (hasPrivate)
        keys = tr("Pouze privátní klíč"), keysLine = QStringLiteral("private");
    else
        keys = tr("Pouze veřejný klíč"), keysLine = QStringLiteral("public");
    QStringList values = {name, QString::number(key.modulusBits) + QStringLiteral("b."),
                          item_text::keyType(key.flags), keys};

    QString &lines = itemInfoText[slot];
    report(lines, QStringLiteral("KeyInfo: Name: ") + name);
    report(lines, QStringLiteral("KeyInfo: Size: ") + QString::number(key.modulusBits));
    if (!values[2].isEmpty())
        report(lines, QStringLiteral("KeyInfo: Type: ") + values[2]);
    report(lines, QStringLiteral("KeyInfo: Keys: ") + keysLine +
                      QStringLiteral("<br>KeyInfo: Current key info finished"));

    if (c < 0 || c >= pkcs11->GetCertsCount(slot)) {
        showPage(fillPage(readHtml(QStringLiteral("keynocert")), values));
        return;
    }
    currentObject = c;
    cert_info cert = pkcs11->GetCertStruct(slot, c);
    X509Cert holder = holderOf(cert);
    values << breakableHex(item_text::serial(cert.serial, cert.serialLen, sizeof cert.serial, true))
           << item_text::validity(cert.notBefore, cert.notAfter)
           << holder.GetCommonText(X509Common::Issuer, TextPlain)
           << holder.GetCommonText(X509Common::Subject, TextPlain);
    showPage(fillPage(readHtml(QStringLiteral("key")), values));
}

void CardManager::showCertificatePage(QTreeWidgetItem *item, int slot)
{
    currentSlot = slot;
    QTreeWidgetItem *keyItem = item->parent();
    int k = keyItem->parent()->indexOfChild(keyItem);
    int c = k >= 0 && k < keyCertIndex[slot].size() ? keyCertIndex[slot][k] : -1;
    if (c < 0 || c >= pkcs11->GetCertsCount(slot)) {
        menuAllows({});
        return;
    }
    currentObject = c;
    menuAllows(item_actions::certificate(expertModeAct->isChecked(), pinBlocked(slot)));
    cert_info cert = pkcs11->GetCertStruct(slot, c);
    X509Cert holder = holderOf(cert);
    const QString serial =
        item_text::serial(cert.serial, cert.serialLen, sizeof cert.serial, false);
    const QStringList values = {
        breakableHex(item_text::serial(cert.serial, cert.serialLen, sizeof cert.serial, true)),
        item_text::validity(cert.notBefore, cert.notAfter),
        holder.GetCommonText(X509Common::Issuer, TextPlain),
        holder.GetCommonText(X509Common::Subject, TextPlain),
        holder.GetCommonText(X509Common::Version, TextPlain),
        breakableHex(cert.sha1),
    };
    QString &lines = itemInfoText[slot];
    report(lines, QStringLiteral("CertInfo: Serial: ") + serial);
    report(lines, QStringLiteral("CertInfo: Validity: ") + values[1]);
    report(lines, QStringLiteral("CertInfo: Issuer: ") + values[2]);
    report(lines, QStringLiteral("CertInfo: Subject: ") + values[3]);
    report(lines, QStringLiteral("CertInfo: Version: ") + values[4]);
    report(lines, QStringLiteral("CertInfo: sha1: ") + cert.sha1 +
                      QStringLiteral("<br>CertInfo: Current certificate info finished"));
    showPage(fillPage(readHtml(QStringLiteral("cert")), values));
}
