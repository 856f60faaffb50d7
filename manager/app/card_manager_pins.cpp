// The PIN operations on the card whose page is shown: PIN change, PUK change and PIN
// unblocking with the PUK.
//
// Each one asks for the secret it presents (also when the session is logged in
// already, so that the old value of a change is always the one just typed), checks
// every entry against the PIN rules before any card call, and ends by refreshing the
// tries of both secrets and redrawing the card's page, before its success box, so that
// the page behind the box is true already. A wrong secret costs a try, shows its box
// and asks again from the start. A card pulled out at the prompt or during the change is
// named in the operation's own words, and the window then reads the cards anew.
#include <QTreeWidget>

#include "card_manager.h"
#include "secret_text.h"
#include "slot_log.h"

namespace
{

bool loggedIn(int state)
{
    return state == int(CKS_RW_USER_FUNCTIONS) || state == int(CKS_RW_SO_FUNCTIONS) ||
           state == int(CKS_RO_USER_FUNCTIONS);
}

} // namespace

int CardManager::shownCardSlot()
{
    QTreeWidgetItem *card = shownItemOf(CardItem);
    return card != nullptr ? slotOf(card) : -1;
}

QString CardManager::progressInformative() const
{
    return tr("<p align='center'>Neodpojujte kartu od čtečky čipových karet.</p");
}

// Logs in with a secret the user types. Wrong secrets are asked for again while tries
// remain; the user's cancel, a blocked secret and any other refusal end it.
CardManager::PinResult CardManager::presentSecret(int slot, Secret secret, int &state,
                                                  SlotLog &entry, const QString &removed)
{
    const bool puk = secret == Secret::Puk;
    for (;;) {
        if (sessionLost(slot, entry, state))
            return PinResult::Ended;
        if (puk && pkcs11->GetCardStruct(slot).soPin[1] == 0) {
            showError(tr("PUK karty je zablokován."));
            return PinResult::Ended; // nothing to refresh
        }
        card_info card = pkcs11->GetCardStruct(slot);
        int rc = 0;
        Entry typed = enterSecret(slot, secret, puk ? tr("Ověření PUK") : tr("Ověření PIN"),
                                  (puk ? tr("Zadejte PUK\nZbývající počet pokusů: ")
                                       : tr("Zadejte PIN\nZbývající počet pokusů: ")) +
                                      QString::number(puk ? card.soPin[1] : card.userPin[1]),
                                  loggedIn(state), rc);
        if (typed == Entry::Cancelled)
            return PinResult::Stopped;
        if (typed == Entry::Refused)
            continue;
        if (std::optional<PinResult> result = afterLogIn(slot, secret, rc, CardItem, removed))
            return *result;
    }
}

// One change of a secret after the log-in with the old one: the new value asked for
// twice, the card call behind the progress notice. Nothing when the user cancels.
std::optional<int> CardManager::changeSecret(int slot, const SecretChange &change)
{
    SecretText value;
    if (!askNewSecret(change.title, change.fresh, slot, value))
        return std::nullopt;
    showProgress(change.progress, progressInformative());
    int rc = change.unblock ? pkcs11->InitPin(slot, value.text())
                            : pkcs11->ChangePin(slot, value.text());
    closeProgress();
    if (rc == int(CKR_OK) && !change.unblock) {
        // the new value is proved at once
        int s = slot;
        pkcs11->Logout(s);
        logIn(slot, value.text(), change.fresh == Secret::NewPuk ? CKU_SO : CKU_USER);
    }
    return rc;
}

void CardManager::changePinOrPuk(const char *what, Secret presented, const SecretChange &change)
{
    SlotLog entry(*pkcs11, QLatin1String(what));
    int slot = shownCardSlot();
    if (slot < 0)
        return;
    int state = 0;
    PinResult login = presentSecret(slot, presented, state, entry, change.removed);
    if (login == PinResult::Ended)
        return;
    std::optional<int> rc;
    if (login == PinResult::LoggedIn)
        rc = changeSecret(slot, change);
    if (login == PinResult::LoggedIn && presented == Secret::Puk) {
        // the security officer logs out, so that the holder can log in at once
        int s = slot;
        pkcs11->Logout(s);
    }
    if (rc.value_or(int(CKR_OK)) != int(CKR_OK) && failed(change.failure, *rc, change.removed))
        return;
    // a PUK log-in also resets the PUK's tries, an unblocking the PIN's: both are read,
    // and the page behind the success box shows them already
    pkcs11->UpdatePinTries(slot, CKU_USER);
    pkcs11->UpdatePinTries(slot, CKU_SO);
    redraw(CardItem);
    if (rc.value_or(-1) == int(CKR_OK))
        showMessage(tr("Úspěch"), change.success, QMessageBox::Information);
}

void CardManager::changePin()
{
    changePinOrPuk("changePin()", Secret::Pin,
                   {tr("Změna PIN"), Secret::NewPin, false,
                    tr("<p align='center'>Probíhá změna PIN. Prosím vyčkejte na dokončení "
                       "operace.</p>\n"),
                    tr("PIN byl úspěšně změněn."),
                    tr("Během změny hodnoty PIN se vyskytla chyba (0x"),
                    tr("Během změny hodnoty PIN byla vyjmuta karta.")});
}

void CardManager::changePuk()
{
    changePinOrPuk("changePuk()", Secret::Puk,
                   {tr("Změna PUK"), Secret::NewPuk, false,
                    tr("<p align='center'>Probíhá změna PUK. Prosím vyčkejte na dokončení "
                       "operace.</p>\n"),
                    tr("PUK byl úspěšně změněn."),
                    tr("Během změny hodnoty PUK se vyskytla chyba (0x"),
                    tr("Během změny hodnoty PUK byla vyjmuta karta.")});
}

void CardManager::unblockPin()
{
    changePinOrPuk("unblockPin()", Secret::Puk,
                   {tr("Odblokování PIN"), Secret::NewPin, true,
                    tr("<p align='center'>Probíhá odblokování PIN. Prosím vyčkejte na "
                       "dokončení operace.</p>\n"),
                    tr("PIN byl úspěšně odblokován."),
                    tr("Během operace odblokování PIN se vyskytla chyba (0x"),
                    tr("Během odblokování PIN byla vyjmuta karta.")});
}
