// The diagnostic report: shown as a page, saved as a text file. Not built yet.
#include "card_manager.h"
#include "slot_log.h"

void CardManager::showDiag()
{
    SlotLog entry(*pkcs11, QStringLiteral("showDiag()"));
    menuAllows({});
}

void CardManager::saveDiag()
{
    SlotLog entry(*pkcs11, QStringLiteral("saveDiag()"));
}
