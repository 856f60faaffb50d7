// The reader, card, key and certificate records: the operations that fill
// them through PKCS#11 and those that hand them out.
#include "client/pkcs11_manipulator.h"

#include <cstring>

#include "client/client_codes.h"
#include "client/record_fill.h"
#include "client/record_tables.h"
#include "client/vendor_attributes.h"

namespace
{

std::vector<CK_ATTRIBUTE_TYPE> const PRIVATE_KEY_TEMPLATE = {
    CKA_OBJECT_CONTAINER_NAME, CKA_SIGN, CKA_UNWRAP, CKA_DECRYPT, CKA_MODULUS, CKA_PUBLIC_EXPONENT};
std::vector<CK_ATTRIBUTE_TYPE> const PUBLIC_KEY_TEMPLATE = {
    CKA_OBJECT_CONTAINER_NAME, CKA_VERIFY, CKA_WRAP, CKA_ENCRYPT, CKA_MODULUS, CKA_PUBLIC_EXPONENT};
std::vector<CK_ATTRIBUTE_TYPE> const CERTIFICATE_TEMPLATE = {
    CKA_OBJECT_CONTAINER_NAME, CKA_SERIAL_NUMBER, CKA_START_DATE, CKA_END_DATE, CKA_VALUE};

// A blank-padded PKCS#11 text of the field's width, trimmed, with a zero
// byte behind it when there is room.
void copyTrimmed(char *field, unsigned char const *text, int width)
{
    int length = Pkcs11Manipulator::getAttributeLength(reinterpret_cast<char const *>(text), width);
    std::memcpy(field, text, static_cast<size_t>(length));
    if (length < width)
        field[length] = 0;
}

QByteArray firstDigit(unsigned number)
{
    return QByteArray::number(number).left(1);
}

} // namespace

int Pkcs11Manipulator::SaveReader(int slot)
{
    QString const what = QStringLiteral("SaveReader(%1)").arg(slot);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    privKeys[slot].clear();
    pubKeys[slot].clear();
    certs[slot].clear();
    CK_SLOT_ID id = 0;
    CK_RV rv = slotIdAt(slot, id);
    if (rv != CKR_OK)
        return leave(what, rv);

    reader_info &reader = readers[slot];
    CK_SLOT_INFO si{};
    rv = traced(QStringLiteral("C_GetSlotInfo(psid[%1],&si)").arg(slot),
                pFunctionList->C_GetSlotInfo(id, &si));
    if (rv != CKR_OK)
        return leave(what, rv);
    copyTrimmed(reader.slotDescription, si.slotDescription, sizeof(si.slotDescription));
    copyTrimmed(reader.manufacturerID, si.manufacturerID, sizeof(si.manufacturerID));

    CK_TOKEN_INFO ti{};
    if (traced(QStringLiteral("C_GetTokenInfo(psid[%1],&ti)").arg(slot),
               pFunctionList->C_GetTokenInfo(id, &ti)) != CKR_OK) {
        // a reader without a card
        tokenPresent[slot] = 0;
        reader.tokenLabel[0] = 0;
        reader.atrLen = 0;
        return leave(what, CKR_OK);
    }
    tokenPresent[slot] = 1;
    char const *label = reinterpret_cast<char const *>(ti.label);
    QByteArray text = QByteArray(label, getAttributeLength(label, sizeof(ti.label))) + " v" +
                      firstDigit(ti.firmwareVersion.major) + "." +
                      firstDigit(ti.firmwareVersion.minor);
    std::memcpy(reader.tokenLabel, text.constData(), static_cast<size_t>(text.size()) + 1);

    rv = traced(QStringLiteral("C_OpenSession(psid[%1],CKF_RW_SESSION|CKF_SERIAL_SESSION,NULL,NULL,"
                               "&hSes[%1])")
                    .arg(slot),
                pFunctionList->C_OpenSession(id, CKF_RW_SESSION | CKF_SERIAL_SESSION, nullptr,
                                             nullptr, &hSes[slot]));
    if (rv != CKR_OK)
        return leave(what, rv);

    // The read's own failure shows in the trace only; a buffer the client
    // cannot have, or an ATR longer than the record holds, is the result.
    AttributeValues atr;
    reader.atrLen = 0;
    CK_RV read =
        readAttributes(hSes[slot], 0, {CKA_CARD_ATR}, atr,
                       QStringLiteral("C_GetAttributeValue(hSes[%1], NULL, templ, 1)").arg(slot));
    if (read == CKR_HOST_MEMORY)
        rv = CKR_HOST_MEMORY;
    else if (read == CKR_OK && atr[0].size() > sizeof(reader.atr))
        rv = CKR_BUFFER_TOO_SMALL;
    else if (read == CKR_OK && !atr[0].empty()) {
        std::memcpy(reader.atr, atr[0].data(), atr[0].size());
        reader.atrLen = static_cast<int32_t>(atr[0].size());
    }
    return leave(what, rv);
}

int Pkcs11Manipulator::SaveCard(int slot)
{
    QString const what = QStringLiteral("SaveCard(%1)").arg(slot);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    CK_SLOT_ID id = 0;
    CK_RV rv = slotIdAt(slot, id);
    if (rv != CKR_OK)
        return leave(what, rv);

    card_info &card = cards[slot];
    CK_TOKEN_INFO ti{};
    rv = traced(QStringLiteral("C_GetTokenInfo(psid[%1],&ti)").arg(slot),
                pFunctionList->C_GetTokenInfo(id, &ti));
    if (rv != CKR_OK)
        return leave(what, rv);
    copyTrimmed(card.serialNumber, ti.serialNumber, sizeof(ti.serialNumber));
    card.freePublicMemory = ti.ulFreePublicMemory;
    card.totalPublicMemory = ti.ulTotalPublicMemory;
    card.minPinLen = ti.ulMinPinLen;
    card.maxPinLen = ti.ulMaxPinLen;

    AttributeValues values;
    rv = readAttributes(hSes[slot], 0, {CKA_USER_PIN_INFO, CKA_SO_PIN_INFO, CKA_CONTAINERS_USAGE},
                        values,
                        QStringLiteral("C_GetAttributeValue(hSes[%1], NULL, templ, 3)").arg(slot));
    if (rv == CKR_OK) {
        FillPinInfo(card.userPin, values[0]);
        FillPinInfo(card.soPin, values[1]);
        FillContainersUsage(card, values[2]);
    }
    return leave(what, rv);
}

int Pkcs11Manipulator::SaveObjects(int slot)
{
    QString const what = QStringLiteral("SaveObjects(%1)").arg(slot);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    CK_SESSION_HANDLE const session = hSes[slot];
    CK_RV rv = traced(QStringLiteral("C_FindObjectsInit(hSes[%1],NULL,0)").arg(slot),
                      pFunctionList->C_FindObjectsInit(session, nullptr, 0));
    if (rv != CKR_OK)
        return leave(what, rv);

    std::vector<key_info> foundPrivate;
    std::vector<key_info> foundPublic;
    std::vector<cert_info> foundCerts;
    CK_RV tooLong = CKR_OK;
    QString const read = QStringLiteral("C_GetAttributeValue(hSes[%1], ho, %2)").arg(slot);
    // One object at a time; any failing call ends the walk.
    for (;;) {
        CK_OBJECT_HANDLE ho = CK_INVALID_HANDLE;
        CK_ULONG found = 0;
        rv = pFunctionList->C_FindObjects(session, &ho, 1, &found);
        traced(QStringLiteral("C_FindObjects(hSes[%1],&ho,1,&f)").arg(slot), rv,
               QStringLiteral("f=%1").arg(found));
        if (rv != CKR_OK || found == 0)
            break;
        CK_OBJECT_CLASS cls = CK_UNAVAILABLE_INFORMATION;
        if (objectClass(session, ho, cls, read.arg("templ_class, 1")) != CKR_OK)
            break;
        AttributeValues values;

        bool fits = true;
        if (cls == CKO_PRIVATE_KEY || cls == CKO_PUBLIC_KEY) {
            key_info key{};
            if (readKeyRecord(slot, ho, cls, key, fits) != CKR_OK)
                break;
            if (fits)
                (cls == CKO_PRIVATE_KEY ? foundPrivate : foundPublic).push_back(key);
        } else if (cls == CKO_CERTIFICATE) {
            if (readAttributes(session, ho, CERTIFICATE_TEMPLATE, values, read.arg("templ_cert, 5"),
                               "CKO_CERTIFICATE") != CKR_OK)
                break;
            foundCerts.emplace_back();
            fits = FillCertRecord(foundCerts.back(), values);
            if (!fits)
                foundCerts.pop_back();
        }
        if (!fits) {
            tooLong = CKR_BUFFER_TOO_SMALL;
            logToFile(QStringLiteral("Pkcs11Manipulator"), what, tooLong,
                      QStringLiteral("object 0x%1 does not fit its record").arg(ho, 0, 16));
        }
    }
    privKeys[slot] = std::move(foundPrivate);
    pubKeys[slot] = std::move(foundPublic);
    certs[slot] = std::move(foundCerts);

    rv = traced(QStringLiteral("C_FindObjectsFinal(hSes[%1])").arg(slot),
                pFunctionList->C_FindObjectsFinal(session));
    return leave(what, rv != CKR_OK ? rv : tooLong);
}

CK_RV Pkcs11Manipulator::readKeyRecord(int slot, CK_OBJECT_HANDLE ho, CK_OBJECT_CLASS cls,
                                       key_info &key, bool &fits)
{
    bool const isPrivate = cls == CKO_PRIVATE_KEY;
    AttributeValues values;
    CK_RV rv = readAttributes(hSes[slot], ho,
                              isPrivate ? PRIVATE_KEY_TEMPLATE : PUBLIC_KEY_TEMPLATE, values,
                              QStringLiteral("C_GetAttributeValue(hSes[%1], ho, %2)")
                                  .arg(slot)
                                  .arg(isPrivate ? "templ_privk, 6" : "templ_pubk, 6"),
                              isPrivate ? "CKO_PRIVATE_KEY" : "CKO_PUBLIC_KEY");
    fits = rv == CKR_OK && FillKeyRecord(key, values);
    return rv;
}

reader_info Pkcs11Manipulator::GetReaderStruct(int slot)
{
    return knownSlot(slot) ? readers[slot] : reader_info{};
}

card_info Pkcs11Manipulator::GetCardStruct(int slot)
{
    return knownSlot(slot) ? cards[slot] : card_info{};
}

key_info Pkcs11Manipulator::GetPrivKeyStruct(int slot, int index)
{
    return recordAt(privKeys, slot, index);
}

key_info Pkcs11Manipulator::GetPubKeyStruct(int slot, int index)
{
    return recordAt(pubKeys, slot, index);
}

cert_info Pkcs11Manipulator::GetCertStruct(int slot, int index)
{
    return recordAt(certs, slot, index);
}

int Pkcs11Manipulator::GetPrivKeyCount(int slot)
{
    return leave(QStringLiteral("GetPrivKeyCount(%1)").arg(slot), countAt(privKeys, slot));
}

int Pkcs11Manipulator::GetPubKeyCount(int slot)
{
    return leave(QStringLiteral("GetPubKeyCount(%1)").arg(slot), countAt(pubKeys, slot));
}

int Pkcs11Manipulator::GetCertsCount(int slot)
{
    return leave(QStringLiteral("GetCertsCount(%1)").arg(slot), countAt(certs, slot));
}

int Pkcs11Manipulator::GetCertSerialLength(int slot, int index)
{
    return leave(QStringLiteral("GetCertSerialLength(%1, %2)").arg(slot).arg(index),
                 recordAt(certs, slot, index).serialLen);
}

int Pkcs11Manipulator::SCardConnect(int slot)
{
    return leave(QStringLiteral("SCardConnect(%1)").arg(slot),
                 knownSlot(slot) ? tokenPresent[slot] : 0);
}

int Pkcs11Manipulator::GetReadersWithTokenCount()
{
    QString const what = QStringLiteral("GetReadersWithTokenCount()");
    enter(what);
    CK_ULONG count = 0;
    if (pFunctionList != nullptr && traced(QStringLiteral("C_GetSlotList(TRUE,NULL,&count)"),
                                           pFunctionList->C_GetSlotList(CK_TRUE, nullptr, &count),
                                           QStringLiteral("count=%1").arg(count)) != CKR_OK)
        count = 0;
    return leave(what, count);
}

int Pkcs11Manipulator::GetState(int slot)
{
    QString const what = QStringLiteral("GetState(%1)").arg(slot);
    enter(what);
    CK_SESSION_INFO info{};
    if (unusable(slot) != 0 || traced(QStringLiteral("C_GetSessionInfo(hSes[%1], &info)").arg(slot),
                                      pFunctionList->C_GetSessionInfo(hSes[slot], &info)) != CKR_OK)
        return leave(what, client_code::NO_SESSION);
    return leave(what, info.state);
}

int Pkcs11Manipulator::getAttributeLength(char const *field, int width)
{
    // Bytes from 0x80 up belong to UTF-8 text, not to the padding.
    for (int i = width; i > 0; --i)
        if (static_cast<unsigned char>(field[i - 1]) > 0x20)
            return i;
    return 0;
}

int Pkcs11Manipulator::sameValues(char const *a, char const *b, int count)
{
    return count <= 0 || std::memcmp(a, b, static_cast<size_t>(count)) == 0 ? 1 : 0;
}
