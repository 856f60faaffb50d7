// The card holder's operations on the selected card, key or certificate. Not built
// yet: the item pages enable their actions, which only log so far. Each operation is
// to act on shownItemOf(its kind) and do nothing without one.
#include "card_manager.h"
#include "slot_log.h"

void CardManager::importCert()
{
    SlotLog entry(*pkcs11, QStringLiteral("importCert()"));
}

void CardManager::exportCert()
{
    SlotLog entry(*pkcs11, QStringLiteral("exportCert()"));
}

void CardManager::showCertview()
{
    SlotLog entry(*pkcs11, QStringLiteral("showCertview()"));
}

void CardManager::importKey()
{
    SlotLog entry(*pkcs11, QStringLiteral("importKey()"));
}

void CardManager::exportKey()
{
    SlotLog entry(*pkcs11, QStringLiteral("exportKey()"));
}

void CardManager::testKey()
{
    SlotLog entry(*pkcs11, QStringLiteral("testKey()"));
}

void CardManager::deleteObject()
{
    SlotLog entry(*pkcs11, QStringLiteral("deleteObject()"));
}
