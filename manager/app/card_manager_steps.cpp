// The steps the card holder's operations share: the lost-session way, secret prompts
// with the rules for PINs and PUKs, the one entry routine behind every PIN and PUK
// prompt (the tree's reload too) and the one answer to its log-in, the loop for a new
// secret, the progress notice, error boxes with a code or for a card pulled out (and
// the window read anew after it), and the PIN log-in of the key and certificate
// operations.
//
// A secret never leaves these steps as more than one wiped-after-use copy: the
// dialog's text is cleared as soon as it is read, and a refused log-in does not leave
// its PIN in the client.
#include <QInputDialog>
#include <QLineEdit>
#include <QTreeWidget>

#include "card_manager.h"
#include "client/client_codes.h"
#include "pin_rules.h"
#include "secret_text.h"
#include "slot_log.h"

bool CardManager::sessionLost(int slot, SlotLog &entry, int &state)
{
    state = pkcs11->GetState(slot);
    if (state != client_code::NO_SESSION)
        return false;
    showMessage(tr("Informace"),
                tr("<p align='center'>V průběhu práce bylo přerušeno spojení s kartou (karta "
                   "mohla být vyjmuta ze čtečky). Data, se kterými pracujete, mohou být neplatná."),
                QMessageBox::Information,
                tr("<p align='center'>Z důvodu zachování konzistence dat bude nyní aktualizován "
                   "obsah Správce karty."));
    reload();
    entry.setInfo(QStringLiteral("state=-1"));
    return true;
}

void CardManager::showError(const QString &text)
{
    showMessage(tr("Chyba"), text, QMessageBox::Critical);
}

QString CardManager::codeText(const QString &prefix, int code)
{
    return prefix + QString::number(code, 16) + QStringLiteral(").");
}

bool CardManager::cardRemoved(int rc)
{
    return rc == int(CKR_DEVICE_REMOVED) || rc == int(CKR_TOKEN_NOT_PRESENT);
}

bool CardManager::failed(const QString &prefix, int rc, const QString &removed,
                         const QString &informative)
{
    if (!cardRemoved(rc)) {
        showMessage(tr("Chyba"), codeText(prefix, rc), QMessageBox::Critical, informative);
        return false;
    }
    showMessage(tr("Chyba"),
                removed.isEmpty()
                    ? tr("<p align='center'>Během operace byla vyjmuta karta ze čtečky.")
                    : removed,
                QMessageBox::Critical, refreshNotice());
    reload(); // the pages no longer show a card that is gone
    return true;
}

void CardManager::freshInputDialog()
{
    inputDialog->deleteLater();
    inputDialog = new QInputDialog(this);
    inputDialog->setInputMode(QInputDialog::TextInput);
}

bool CardManager::askSecret(const QString &title, const QString &label, SecretText &entry)
{
    inputDialog->setTextValue(QString());
    inputDialog->setWindowTitle(title);
    inputDialog->setLabelText(label);
    inputDialog->setTextEchoMode(QLineEdit::Password);
    inputDialog->setModal(true);
    bool accepted = inputDialog->exec() == QDialog::Accepted;
    entry.take(*inputDialog);
    if (!accepted)
        entry.wipe();
    return accepted;
}

bool CardManager::refuseEntry(const QString &entry, Secret secret, int slot)
{
    card_info card = pkcs11->GetCardStruct(slot);
    const bool puk = secret == Secret::Puk || secret == Secret::NewPuk;
    const bool fresh = secret == Secret::NewPin || secret == Secret::NewPuk;
    const int own = secret == Secret::NewPin   ? pin_rule::kNewPin
                    : secret == Secret::NewPuk ? pin_rule::kNewPuk
                                               : 1;
    const int shortest = pin_rule::shortest(own, card.minPinLen);
    const int longest = pin_rule::longest(card.maxPinLen);
    QString text;
    switch (pin_rule::check(entry, shortest, longest)) {
    case pin_rule::Fault::None:
        return false;
    case pin_rule::Fault::Empty:
        if (!fresh) {
            text = puk ? tr("<p align='center'>PUK musí obsahovat alespoň jednu číslici.")
                       : tr("<p align='center'>PIN musí obsahovat alespoň jednu číslici.");
            break;
        }
        [[fallthrough]];
    case pin_rule::Fault::TooShort:
        if (fresh && shortest == own)
            text = puk ? tr("<p align='center'>Nový PUK musí obsahovat alespoň osm číslic.")
                       : tr("<p align='center'>Nový PIN musí obsahovat alespoň pět číslic.");
        else
            text = (puk ? tr("<p align='center'>PUK musí obsahovat alespoň %1 číslic.")
                        : tr("<p align='center'>PIN musí obsahovat alespoň %1 číslic."))
                       .arg(shortest);
        break;
    case pin_rule::Fault::NotDigits:
        text = puk ? tr("<p align='center'>PUK smí obsahovat pouze číslice.")
                   : tr("<p align='center'>PIN smí obsahovat pouze číslice.");
        break;
    case pin_rule::Fault::TooLong:
        text = (puk ? tr("<p align='center'>PUK smí obsahovat nejvýše %1 číslic.")
                    : tr("<p align='center'>PIN smí obsahovat nejvýše %1 číslic."))
                   .arg(longest);
        break;
    }
    showError(text);
    return true;
}

bool CardManager::askNewSecret(const QString &title, Secret secret, int slot, SecretText &value)
{
    const bool puk = secret == Secret::NewPuk;
    for (;;) {
        freshInputDialog();
        if (!askSecret(title, puk ? tr("Zadejte nový PUK:") : tr("Zadejte nový PIN:"), value))
            return false;
        if (refuseEntry(value.text(), secret, slot))
            continue;
        freshInputDialog();
        SecretText again;
        if (!askSecret(title, puk ? tr("Zopakujte nový PUK:") : tr("Zopakujte nový PIN:"), again)) {
            value.wipe();
            return false;
        }
        if (again == value)
            return true;
        showError(puk ? tr("Zadané hodnoty nového PUKu se neshodují.")
                      : tr("Zadané hodnoty nového PINu se neshodují."));
    }
}

CardManager::Entry CardManager::enterSecret(int slot, Secret secret, const QString &title,
                                            const QString &label, bool logOutFirst, int &rc)
{
    SecretText typed;
    if (!askSecret(title, label, typed))
        return Entry::Cancelled;
    if (refuseEntry(typed.text(), secret, slot))
        return Entry::Refused;
    if (logOutFirst) {
        int s = slot;
        pkcs11->Logout(s);
    }
    rc = logIn(slot, typed.text(), secret == Secret::Puk ? CKU_SO : CKU_USER);
    return Entry::Presented;
}

int CardManager::logIn(int slot, const QString &secret, int userType)
{
    int rc = pkcs11->Login(slot, secret, userType);
    if (rc != int(CKR_OK)) {
        int unused = slot;
        pkcs11->Logout(unused); // the client keeps the PIN of every log-in: forget a refused one
    }
    return rc;
}

void CardManager::showProgress(const QString &text, const QString &informative)
{
    progressNotice->setWindowTitle(tr("Zpracovávání"));
    progressNotice->setText(text);
    progressNotice->setInformativeText(informative);
    progressNotice->setIcon(QMessageBox::Information);
    progressNotice->setStandardButtons(QMessageBox::NoButton);
    progressNotice->show();
    waitForProgress();
}

// A message box without buttons refuses close(): hiding it is what takes it away.
void CardManager::closeProgress()
{
    progressNotice->hide();
}

void CardManager::redraw(ItemKind kind)
{
    if (QTreeWidgetItem *item = shownItemOf(kind))
        treeClicked(item);
}

CardManager::Refusals CardManager::refusalsOf(Secret secret)
{
    if (secret == Secret::Puk)
        return {tr("Byl zadán chybný PUK."), tr("PUK byl zablokován.")};
    return {tr("Byl zadán chybný PIN."), tr("PIN byl zablokován.")};
}

CardManager::Answer CardManager::logInAnswer(int slot, Secret secret, int rc, const Refusals &boxes,
                                             std::optional<ItemKind> redrawn)
{
    if (rc == int(CKR_OK))
        return Answer::LoggedIn;
    if (rc != int(CKR_PIN_INCORRECT) && rc != int(CKR_PIN_LOCKED))
        return Answer::Failed;
    const bool puk = secret == Secret::Puk;
    pkcs11->UpdatePinTries(slot, puk ? CKU_SO : CKU_USER);
    if (redrawn)
        redraw(*redrawn);
    card_info card = pkcs11->GetCardStruct(slot);
    // the last wrong secret blocks it: no prompt with no tries left
    if (rc == int(CKR_PIN_INCORRECT) && (puk ? card.soPin[1] : card.userPin[1]) != 0) {
        showError(boxes.wrong);
        return Answer::Wrong;
    }
    showError(boxes.blocked);
    return Answer::Blocked;
}

CardManager::PinResult CardManager::pinLoop(int slot, ItemKind redrawn)
{
    if (pkcs11->GetCardStruct(slot).userPin[1] == 0) {
        showError(tr("PIN karty je zablokován."));
        return PinResult::Ended;
    }
    for (;;) {
        int rc = 0;
        Entry entry = enterSecret(slot, Secret::Pin, tr("Ověření PIN"),
                                  tr("Zadejte PIN\nZbývající počet pokusů: ") +
                                      QString::number(pkcs11->GetCardStruct(slot).userPin[1]),
                                  false, rc);
        if (entry == Entry::Cancelled)
            return PinResult::Stopped;
        if (entry == Entry::Refused)
            continue;
        if (std::optional<PinResult> result = afterLogIn(slot, Secret::Pin, rc, redrawn))
            return *result;
    }
}

std::optional<CardManager::PinResult>
CardManager::afterLogIn(int slot, Secret secret, int rc, ItemKind redrawn, const QString &removed)
{
    switch (logInAnswer(slot, secret, rc, refusalsOf(secret), redrawn)) {
    case Answer::LoggedIn:
        return PinResult::LoggedIn;
    case Answer::Wrong:
        return std::nullopt;
    case Answer::Blocked:
        return PinResult::Stopped;
    case Answer::Failed:
        break;
    }
    return logInFailed(rc, removed);
}

CardManager::PinResult CardManager::logInFailed(int rc, const QString &removed)
{
    return failed(tr("Přihlášení ke kartě se nezdařilo (chyba 0x"), rc, removed)
               ? PinResult::Ended
               : PinResult::Stopped;
}
