// The key and certificate operations on the item whose page is shown: key test, key
// import from a PKCS#12 file, certificate import, certificate and public-key export,
// the certificate dialog, and deletion in expert mode.
//
// Each operation acts only on the item of its kind whose page the user opened last
// (shownItemOf), never on the tree's current item, which may be another one; without
// such an item it does nothing. Operations that change the card end with a reload.
#include <QFileDialog>
#include <QTreeWidget>

#include "card_manager.h"
#include "certificate_file.h"
#include "certview/x509_cert.h"
#include "certview/x509_viewer.h"
#include "client/client_codes.h"
#include "item_texts.h"
#include "secret_text.h"
#include "slot_log.h"

namespace
{

enum class FileMode { Open, Save };

// The first file chosen in a new modal file dialog; empty when none was chosen.
QString chooseFile(QWidget *parent, const QString &caption, const QString &filter,
                   const QString &suffix, FileMode mode)
{
    QFileDialog dialog(parent, caption, QString(), filter);
    dialog.setDefaultSuffix(suffix);
    if (mode == FileMode::Save)
        dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

// A key as the pages show it: its kind, when it has one, and its size ("AT_SIGNATURE,
// 2048b.").
QString keyText(const key_info &key)
{
    const QString type = item_text::keyType(key.flags);
    return (type.isEmpty() ? QString() : type + QStringLiteral(", ")) +
           QString::number(key.modulusBits) + QStringLiteral("b.");
}

} // namespace

bool CardManager::shownObject(ItemKind kind, Shown &shown)
{
    QTreeWidgetItem *item = shownItemOf(kind);
    if (item == nullptr || kind < CardItem)
        return false;
    shown.item = item;
    shown.slot = slotOf(item);
    if (shown.slot < 0)
        return false;
    if (kind == CardItem)
        return true;
    QTreeWidgetItem *key = kind == CertificateItem ? item->parent() : item;
    shown.key = key->parent()->indexOfChild(key);
    if (shown.key < 0 || shown.key >= keyNames[shown.slot].size() ||
        shown.key >= keyInfos[shown.slot].size() || shown.key >= keyCertIndex[shown.slot].size())
        return false;
    shown.container = keyNames[shown.slot][shown.key];
    shown.certificate = keyCertIndex[shown.slot][shown.key];
    return kind == KeyItem ||
           (shown.certificate >= 0 && shown.certificate < pkcs11->GetCertsCount(shown.slot));
}

QString CardManager::refreshNotice() const
{
    return tr("<p align='center'>Z důvodu zachování konzistence dat bude nyní aktualizován obsah "
              "Správce karty.");
}

// The user's PIN unless the session is logged in already.
CardManager::PinResult CardManager::logInUnlessLoggedIn(int slot, int state, ItemKind redrawn)
{
    return state == int(CKS_RW_USER_FUNCTIONS) ? PinResult::LoggedIn : pinLoop(slot, redrawn);
}

void CardManager::testKey()
{
    SlotLog entry(*pkcs11, QStringLiteral("testKey()"));
    Shown key;
    int state = 0;
    if (!shownObject(KeyItem, key) || sessionLost(key.slot, entry, state))
        return;
    PinResult login = logInUnlessLoggedIn(key.slot, state, KeyItem);
    if (login == PinResult::Ended)
        return;
    // a card read without its PIN: its private keys are read now, for the pages
    if (login == PinResult::LoggedIn && state != int(CKS_RW_USER_FUNCTIONS))
        readPrivateObjects(key.slot);
    if (login == PinResult::LoggedIn) {
        showProgress(tr("<p align='center'>Probíhá testování integrity klíčů. Prosím vyčkejte na "
                        "dokončení operace.\n"),
                     tr("<p align='center'>Neodpojujte kartu od čtečky čipových karet."));
        key_info failedKey{};
        int rc = pkcs11->TestKey(key.slot, key.container, &failedKey);
        closeProgress();
        // the key whose pair failed, which need not be the shown one
        const QString naming = failedKey.modulusBits == 0
                                   ? QString()
                                   : tr("Test neprošel klíč: %1").arg(keyText(failedKey));
        if (rc == int(CKR_OK))
            showMessage(tr("Informace"), tr("Klíče jsou v pořádku."), QMessageBox::Information);
        else if (rc == client_code::NO_KEY_PAIR)
            showMessage(tr("Chyba"),
                        tr("<p align='center'>Jeden klíč z dvojice soukromý klíč/veřejný klíč "
                           "chybí - viz informace \"Klíče\" v přehledu kontejneru."),
                        QMessageBox::Critical, naming);
        else if (rc == int(CKR_SIGNATURE_INVALID))
            showMessage(tr("Chyba"), tr("Klíče nejsou v pořádku."), QMessageBox::Critical, naming);
        else if (failed(tr("Nepodařilo se ověřit integritu klíčů (chyba 0x"), rc, QString(),
                        naming))
            return;
    }
    pkcs11->UpdatePinTries(key.slot, CKU_USER);
}

void CardManager::importKey()
{
    SlotLog entry(*pkcs11, QStringLiteral("importKey()"));
    Shown card;
    int state = 0;
    if (!shownObject(CardItem, card) || sessionLost(card.slot, entry, state))
        return;
    int rc = -1;
    const QString file = chooseFile(this, tr("Import klíče"), tr("Privátní klíče (*.pfx)"),
                                    QStringLiteral("pfx"), FileMode::Open);
    PinResult login =
        file.isEmpty() ? PinResult::Stopped : logInUnlessLoggedIn(card.slot, state, CardItem);
    if (login == PinResult::Ended)
        return;
    SecretText password;
    if (login == PinResult::LoggedIn) {
        freshInputDialog();
        if (askSecret(tr("Ověření hesla"),
                      tr("Zadejte heslo, které bylo zadáno při exportu privátního klíče:"),
                      password)) {
            showProgress(tr("<p align='center'>Probíhá import klíče a certifikátu na kartu. "
                            "Prosím vyčkejte na dokončení operace.</p>\n"),
                         progressInformative());
            rc = pkcs11->ImportKey(card.slot, file, password.text());
            password.wipe();
            closeProgress();
            if (rc == int(CKR_OK))
                showMessage(tr("Úspěch"), tr("Klíč byl úspěšně importován."),
                            QMessageBox::Information, refreshNotice());
            else if (rc == client_code::KEY_PASSWORD)
                showError(tr("<p align='center'>Klíč nebyl importován. Bylo zadáno nesprávné "
                             "heslo exportovaného privátního klíče."));
            else if (rc == client_code::KEY_SIZE)
                showError(tr("Klíč nebyl importován (nepodporovaná velikost klíče)."));
            // nothing takes a key written in part away while the card is out
            else if (failed(tr("Klíč nebyl importován (chyba 0x"), rc,
                            tr("Během importu klíče byla vyjmuta karta. Část klíče mohla zůstat "
                               "na kartě: zobrazí se jako kontejner pouze s privátním klíčem, "
                               "který lze v expertním módu smazat.")))
                return;
        }
    }
    pkcs11->UpdatePinTries(card.slot, CKU_USER);
    if (rc == int(CKR_OK))
        reload();
}

void CardManager::importCert()
{
    SlotLog entry(*pkcs11, QStringLiteral("importCert()"));
    Shown key;
    int state = 0;
    if (!shownObject(KeyItem, key) || sessionLost(key.slot, entry, state))
        return;
    const QString file = chooseFile(this, tr("Import certifikátu"), tr("Certifikáty (*.cer)"),
                                    QStringLiteral("cer"), FileMode::Open);
    if (file.isEmpty())
        return;
    X509Ptr certificate = certificate_file::read(file);
    if (certificate == nullptr) {
        showError(tr("<p align='center'>Soubor neobsahuje certifikát ve formátu DER ani PEM."));
        return;
    }
    if (!certificate_file::matches(certificate.get(), keyInfos[key.slot][key.key])) {
        showError(tr("<p align='center'>Certifikát nepatří ke klíči vybraného kontejneru."));
        return;
    }
    if (logInUnlessLoggedIn(key.slot, state, KeyItem) != PinResult::LoggedIn)
        return;
    showProgress(tr("<p align='center'>Probíhá import certifikátu na kartu. Prosím vyčkejte na "
                    "dokončení operace.\n"),
                 tr("<p align='center'>Neodpojujte kartu od čtečky čipových karet."));
    int rc = pkcs11->ImportCert(key.slot, certificate.get(), key.container);
    closeProgress();
    if (rc != int(CKR_OK)) {
        failed(tr("Certifikát nebyl importován (chyba 0x"), rc);
        return;
    }
    showMessage(tr("Úspěch"), tr("Certifikát byl úspěšně importován."), QMessageBox::Information,
                refreshNotice());
    pkcs11->UpdatePinTries(key.slot, CKU_USER);
    reload();
}

void CardManager::exportCert()
{
    SlotLog entry(*pkcs11, QStringLiteral("exportCert()"));
    Shown cert;
    if (!shownObject(CertificateItem, cert))
        return;
    const QString file = chooseFile(this, tr("Export certifikátu"), tr("Certifikáty (*.cer)"),
                                    QStringLiteral("cer"), FileMode::Save);
    if (file.isEmpty())
        return;
    if (pkcs11->ExportCert(cert.slot, cert.certificate, file) != 0)
        showMessage(tr("Úspěch"),
                    tr("<p align='center'>Certifikát byl úspěšně exportován do souboru."),
                    QMessageBox::Information);
    else
        showError(tr("<p align='center'>Certifikát nebyl exportován. Zkontrolujte, zda máte "
                     "dostatečná práva pro zápis na zvolené místo na disku."));
}

// The public key of the shown key's container with the shown key's modulus: the
// container's name alone may stand for two key pairs, and the public keys are in the
// token's order, not the tree's.
void CardManager::exportKey()
{
    SlotLog entry(*pkcs11, QStringLiteral("exportKey()"));
    Shown key;
    if (!shownObject(KeyItem, key))
        return;
    const key_info &shownKey = keyInfos[key.slot][key.key];
    int index = -1;
    for (int p = 0; p < pkcs11->GetPubKeyCount(key.slot) && index < 0; ++p) {
        key_info pub = pkcs11->GetPubKeyStruct(key.slot, p);
        if (item_text::field(pub.containerName) == key.container &&
            certificate_file::sameKey(pub, shownKey))
            index = p;
    }
    if (index < 0) {
        showError(tr("<p align='center'>Kontejner nemá veřejný klíč, klíč nelze exportovat."));
        return;
    }
    const QString file = chooseFile(this, tr("Export klíče"), tr("Klíče (*.der)"),
                                    QStringLiteral("der"), FileMode::Save);
    if (file.isEmpty())
        return;
    if (pkcs11->ExportKey(key.slot, index, file) != 0)
        showMessage(tr("Úspěch"), tr("Klíč byl úspěšně exportován do souboru."),
                    QMessageBox::Information);
    else
        showError(tr("<p align='center'>Klíč nebyl exportován. Zkontrolujte, zda máte "
                     "dostatečná práva pro zápis na zvolené místo na disku."));
}

void CardManager::showCertview()
{
    SlotLog entry(*pkcs11, QStringLiteral("showCertview()"));
    using Orvane::Certificate::X509Cert;
    using Orvane::Certificate::X509Viewer;
    Shown cert;
    if (!shownObject(CertificateItem, cert))
        return;
    cert_info record = pkcs11->GetCertStruct(cert.slot, cert.certificate);
    X509Cert holder(record.value.data(), static_cast<long long>(record.value.size()));
    const QLocale locale = language == QStringLiteral("cz")
                               ? QLocale(QLocale::Czech, QLocale::CzechRepublic)
                               : QLocale(QLocale::English, QLocale::UnitedStates);
    X509Viewer viewer(this, &holder, locale);
    // the summary is the certificate's own text: it goes into the help page escaped
    QString summary = holder.GetCertInfo(TextPlain).toHtmlEscaped();
    summary.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    suggestions += QStringLiteral("<li>") + summary + QStringLiteral("</li>");
    viewer.exec();
}

// The card deletes a key's whole container: the question names the container, each of
// its keys (its key items) and each of its certificates, shown or not. Names from the
// card and the certificates are escaped.
QString CardManager::containerDeletion(const Shown &key)
{
    using Orvane::Certificate::X509Cert;
    using Orvane::Certificate::X509Common;
    QString items;
    for (int k = 0; k < keyNames[key.slot].size() && k < keyInfos[key.slot].size(); ++k) {
        if (keyNames[key.slot][k] != key.container)
            continue;
        items += tr("<li>klíč %1</li>").arg(keyText(keyInfos[key.slot][k]));
    }
    for (int c = 0; c < pkcs11->GetCertsCount(key.slot); ++c) {
        cert_info cert = pkcs11->GetCertStruct(key.slot, c);
        if (item_text::field(cert.containerName) != key.container)
            continue;
        X509Cert holder(cert.value.data(), static_cast<long long>(cert.value.size()));
        items +=
            tr("<li>certifikát pro %1, sériové číslo %2</li>")
                .arg(holder.GetCommonText(X509Common::Subject, TextPlain).toHtmlEscaped(),
                     item_text::serial(cert.serial, cert.serialLen, sizeof cert.serial, false));
    }
    return tr("<p>Karta maže vždy celý kontejner klíčů. Smazán bude kontejner <b>%1</b> se "
              "vším, co obsahuje:</p>")
               .arg(key.container.toHtmlEscaped()) +
           QStringLiteral("<ul>") + items + QStringLiteral("</ul>") +
           tr("<p>Chcete skutečně smazat tyto objekty z karty?</p>");
}

void CardManager::deleteObject()
{
    SlotLog entry(*pkcs11, QStringLiteral("deleteObject()"));
    Shown object;
    const bool certificate = shownObject(CertificateItem, object);
    int state = 0;
    if ((!certificate && !shownObject(KeyItem, object)) || sessionLost(object.slot, entry, state))
        return;
    if (!expertModeAct->isChecked()) {
        showMessage(tr("Informace"),
                    tr("Požadovaná operace je přístupná pouze v expertním módu.\n(Menu: Soubor - "
                       "Expertní mód)"),
                    QMessageBox::Information);
        return;
    }
    QMessageBox confirm(QMessageBox::Warning, tr("Upozornění"),
                        certificate ? tr("Chcete skutečně smazat vybraný objekt z karty?")
                                    : containerDeletion(object),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
    if (!certificate)
        confirm.setTextFormat(Qt::RichText);
    confirm.setDefaultButton(QMessageBox::Cancel);
    if (confirm.exec() != QMessageBox::Ok)
        return;
    if (logInUnlessLoggedIn(object.slot, state, certificate ? CertificateItem : KeyItem) !=
        PinResult::LoggedIn)
        return;
    showProgress(tr("<p align='center'>Probíhá mazání objektu/objektů. Prosím vyčkejte na "
                    "dokončení operace.</p>\n"),
                 progressInformative());
    // a certificate item's own certificate, not its container's other one
    const QByteArray container = object.container.toUtf8();
    int rc = certificate ? pkcs11->DeleteCertificate(object.slot, object.certificate)
                         : pkcs11->DeleteObject(object.slot, 2, container.constData());
    closeProgress();
    const bool gone = certificate && rc == client_code::CERT_GONE;
    if (rc != int(CKR_OK) && !gone) {
        failed(tr("Objekt nebyl smazán (chyba 0x"), rc);
        return;
    }
    // a certificate already gone: the card is read anew all the same, as after a deletion
    if (gone)
        showMessage(tr("Informace"), tr("<p align='center'>Certifikát již na kartě nebyl."),
                    QMessageBox::Information, refreshNotice());
    else
        showMessage(tr("Úspěch"), tr("<p align='center'>Objekt byl úspěšně smazán."),
                    QMessageBox::Information, refreshNotice());
    reload();
}
