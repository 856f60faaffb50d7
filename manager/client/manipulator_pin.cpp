// Logging in and out, changing and unblocking PINs, and reading their tries.
//
// Every PIN travels as the bytes of its UTF-8 form, counted in bytes, in
// Login, ChangePin and InitPin alike, so a PIN set here is the PIN entered
// here (and in any other PKCS#11 program). A text with no UTF-8 form is
// refused before the module sees it. PIN bytes are wiped once used.
#include "client/pkcs11_manipulator.h"

#include "client/record_fill.h"
#include "client/vendor_attributes.h"

int Pkcs11Manipulator::Login(int slot, QString pinText, int userType)
{
    QString const what = QStringLiteral("Login(%1, QString pinString, %2)").arg(slot).arg(userType);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    // The kept PIN is replaced even when the module refuses this one.
    if (!pin.assignPin(pinText))
        return leave(what, CKR_PIN_INVALID);
    CK_RV rv = traced(QStringLiteral("C_Login(hSes[%1],%2,pin, lpin)").arg(slot).arg(userType),
                      pFunctionList->C_Login(hSes[slot], static_cast<CK_USER_TYPE>(userType),
                                             pin.data(), pin.size()));
    return leave(what, rv);
}

int Pkcs11Manipulator::Logout(int &slot)
{
    QString const what = QStringLiteral("Logout(%1)").arg(slot);
    enter(what);
    pin.clear();
    if (long bad = unusable(slot))
        return leave(what, bad);
    CK_RV rv =
        traced(QStringLiteral("C_Logout(hSes[%1])").arg(slot), pFunctionList->C_Logout(hSes[slot]));
    return leave(what, rv);
}

int Pkcs11Manipulator::ChangePin(int slot, QString newPin)
{
    return setPin(slot, newPin, false);
}

int Pkcs11Manipulator::InitPin(int slot, QString newPin)
{
    return setPin(slot, newPin, true);
}

int Pkcs11Manipulator::setPin(int slot, QString const &newPinText, bool unblock)
{
    QString const what = QStringLiteral("%1(%2, QString newPinString)")
                             .arg(unblock ? "InitPin" : "ChangePin")
                             .arg(slot);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    SecretBytes newPin;
    if (!newPin.assignPin(newPinText))
        return leave(what, CKR_PIN_INVALID);
    CK_RV rv;
    if (unblock)
        rv = traced(QStringLiteral("C_InitPIN(hSes[%1], (CK_CHAR_PTR)newPin, lNewPin").arg(slot),
                    pFunctionList->C_InitPIN(hSes[slot], newPin.data(), newPin.size()));
    else
        rv = traced(
            QStringLiteral("C_SetPIN(hSes[%1], (CK_CHAR_PTR)pin, lpin), (CK_CHAR_PTR)newPin, "
                           "lNewPin)")
                .arg(slot),
            pFunctionList->C_SetPIN(hSes[slot], pin.data(), pin.size(), newPin.data(),
                                    newPin.size()));
    return leave(what, rv);
}

int Pkcs11Manipulator::UpdatePinTries(int slot, int userType)
{
    QString const what = QStringLiteral("UpdatePinTries(%1, %2)").arg(slot).arg(userType);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    bool const user = userType == CKU_USER;
    AttributeValues values;
    CK_RV rv =
        readAttributes(hSes[slot], 0, {user ? CKA_USER_PIN_INFO : CKA_SO_PIN_INFO}, values,
                       QStringLiteral("C_GetAttributeValue(hSes[%1], NULL, templ, 1)").arg(slot),
                       user ? QStringLiteral("CKU_USER") : QStringLiteral("CKU_SO"));
    if (rv == CKR_OK)
        FillPinInfo(user ? cards[slot].userPin : cards[slot].soPin, values[0]);
    return leave(what, rv);
}
