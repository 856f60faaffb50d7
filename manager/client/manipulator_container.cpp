// The operations on one key container, named by its container name: the key
// test and the deletion of its objects.
//
// Both walk every object of the slot's session once. A container's objects
// are those whose container name has exactly the given bytes: a name that
// only begins like the given one is another container's. Objects that belong
// to no container (data objects, and those the token gives no container name
// for) are passed over, so they neither stop the walk nor match.
#include "client/pkcs11_manipulator.h"

#include <algorithm>
#include <cstring>

#include "client/client_codes.h"
#include "client/record_tables.h"
#include "client/vendor_attributes.h"

namespace
{

constexpr CK_ULONG TEST_DATA_LENGTH = 20;

// The token's answers for an object that has no container name, or that is
// gone (destroyed with another one while the search ran).
bool inNoContainer(CK_RV rv)
{
    return rv == CKR_OBJECT_HANDLE_INVALID || rv == CKR_ATTRIBUTE_TYPE_INVALID;
}

bool inContainers(CK_OBJECT_CLASS cls)
{
    return cls == CKO_CERTIFICATE || cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY;
}

} // namespace

QByteArray Pkcs11Manipulator::nameOf(std::vector<unsigned char> const &value)
{
    size_t length = 0;
    while (length < value.size() && value[length] != 0)
        ++length;
    return QByteArray(reinterpret_cast<char const *>(value.data()), static_cast<qsizetype>(length));
}

CK_RV Pkcs11Manipulator::objectClass(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                     CK_OBJECT_CLASS &cls, QString const &what)
{
    AttributeValues values;
    CK_RV rv = readAttributes(session, object, {CKA_CLASS}, values, what);
    cls = CK_UNAVAILABLE_INFORMATION;
    if (rv == CKR_OK && values[0].size() == sizeof(cls))
        std::memcpy(&cls, values[0].data(), sizeof(cls));
    return rv;
}

CK_RV Pkcs11Manipulator::walkContainer(int slot, QByteArray const &container, Visit const &visit)
{
    CK_SESSION_HANDLE const session = hSes[slot];
    CK_RV rv = traced(QStringLiteral("C_FindObjectsInit(hSes[%1],NULL,0)").arg(slot),
                      pFunctionList->C_FindObjectsInit(session, nullptr, 0));
    if (rv != CKR_OK)
        return rv;
    QString const read = QStringLiteral("C_GetAttributeValue(hSes[%1], ho, %2, 1)").arg(slot);
    for (;;) {
        CK_OBJECT_HANDLE ho = CK_INVALID_HANDLE;
        CK_ULONG found = 0;
        rv = pFunctionList->C_FindObjects(session, &ho, 1, &found);
        traced(QStringLiteral("C_FindObjects(hSes[%1],&ho,1,&f)").arg(slot), rv,
               QStringLiteral("f=%1").arg(found));
        if (rv != CKR_OK || found == 0)
            break;
        CK_OBJECT_CLASS cls = CK_UNAVAILABLE_INFORMATION;
        rv = objectClass(session, ho, cls, read.arg("templ_class"));
        AttributeValues name;
        if (rv == CKR_OK && inContainers(cls))
            rv = readAttributes(session, ho, {CKA_OBJECT_CONTAINER_NAME}, name,
                                read.arg("templ_name"));
        if (inNoContainer(rv) || (rv == CKR_OK && !inContainers(cls))) {
            rv = CKR_OK;
            continue;
        }
        if (rv != CKR_OK)
            break;
        if (!container.isEmpty() && nameOf(name[0]) == container)
            rv = visit(ho, cls);
        if (rv != CKR_OK)
            break;
    }
    // Its own failure changes nothing of the walk's result.
    traced(QStringLiteral("C_FindObjectsFinal(hSes[%1])").arg(slot),
           pFunctionList->C_FindObjectsFinal(session));
    return rv;
}

int Pkcs11Manipulator::TestKey(int slot, QString container, key_info *failed)
{
    (void)failed; // TODO(client helper): test every pair
    QString const what = QStringLiteral("TestKey(%1, %2)").arg(slot).arg(container);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    // The last key of each kind in search order is the one tested.
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_RV rv = walkContainer(slot, container.toUtf8(), [&](CK_OBJECT_HANDLE ho, CK_OBJECT_CLASS cls) {
        if (cls == CKO_PUBLIC_KEY)
            publicKey = ho;
        else if (cls == CKO_PRIVATE_KEY)
            privateKey = ho;
        if (cls != CKO_CERTIFICATE)
            traced(cls == CKO_PUBLIC_KEY ? QStringLiteral("CKO_PUBLIC_KEY")
                                         : QStringLiteral("CKO_PRIVATE_KEY"),
                   1);
        return CKR_OK;
    });
    if (rv != CKR_OK)
        return leave(what, rv);
    if (privateKey == CK_INVALID_HANDLE || publicKey == CK_INVALID_HANDLE)
        return leave(what, client_code::NO_KEY_PAIR);

    CK_SESSION_HANDLE const session = hSes[slot];
    CK_MECHANISM mechanism = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    // Without random bytes from the token the test signs zeros.
    unsigned char data[TEST_DATA_LENGTH] = {};
    traced(QStringLiteral("C_GenerateRandom(hSes[%1], data, 20)").arg(slot),
           pFunctionList->C_GenerateRandom(session, data, TEST_DATA_LENGTH));
    rv = traced(QStringLiteral("C_SignInit(hSes[%1], &mechanism, privateHandle)").arg(slot),
                pFunctionList->C_SignInit(session, &mechanism, privateKey));
    if (rv != CKR_OK)
        return leave(what, rv);
    CK_ULONG signatureLen = 0;
    rv = pFunctionList->C_Sign(session, data, TEST_DATA_LENGTH, nullptr, &signatureLen);
    traced(QStringLiteral("C_Sign(hSes[%1], data, 20, NULL, &signatureLen)").arg(slot), rv,
           QStringLiteral("signatureLen=%1").arg(signatureLen));
    std::vector<unsigned char> signature;
    if (rv == CKR_OK && !sized(signature, signatureLen))
        rv = CKR_HOST_MEMORY;
    if (rv != CKR_OK)
        return leave(what, rv);
    rv = pFunctionList->C_Sign(session, data, TEST_DATA_LENGTH, signature.data(), &signatureLen);
    traced(QStringLiteral("C_Sign(hSes[%1], data, 20, (CK_BYTE_PTR)signature, &signatureLen)")
               .arg(slot),
           rv, QStringLiteral("signatureLen=%1").arg(signatureLen));
    if (rv == CKR_OK)
        rv = traced(QStringLiteral("C_VerifyInit(hSes[%1], &mechanism, publicHandle)").arg(slot),
                    pFunctionList->C_VerifyInit(session, &mechanism, publicKey));
    if (rv == CKR_OK)
        rv = traced(QStringLiteral("C_Verify(hSes[%1], data, 20, signature, %2")
                        .arg(slot)
                        .arg(signatureLen),
                    pFunctionList->C_Verify(session, data, TEST_DATA_LENGTH, signature.data(),
                                            signatureLen));
    return leave(what, rv);
}

int Pkcs11Manipulator::DeleteObject(int slot, int kind, char const *container)
{
    QByteArray const name(container != nullptr ? container : "");
    QString const what = QStringLiteral("DeleteObject(%1, %2, %3)")
                             .arg(slot)
                             .arg(kind)
                             .arg(QString::fromUtf8(name));
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    bool const keys = kind == 2;
    bool const certificates = kind == 1 || keys;
    // Each object goes as soon as the search meets it; the search goes on
    // with the rest.
    CK_RV rv = walkContainer(slot, name, [&](CK_OBJECT_HANDLE ho, CK_OBJECT_CLASS cls) {
        if (!(cls == CKO_CERTIFICATE ? certificates : keys))
            return static_cast<CK_RV>(CKR_OK);
        return traced(QStringLiteral("C_DestroyObject(hSes[%1], ho)").arg(slot),
                      pFunctionList->C_DestroyObject(hSes[slot], ho),
                      keys ? QStringLiteral("CKO_PUBLIC_KEY") : QStringLiteral("CKO_CERTIFICATE"));
    });
    return leave(what, rv);
}

int Pkcs11Manipulator::DeleteCertificate(int slot, int index)
{
    QString const what = QStringLiteral("DeleteCertificate(%1, %2)").arg(slot).arg(index);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    if (!hasRecord(certs, slot, index))
        return leave(what, CKR_ARGUMENTS_BAD);
    cert_info const &record = certs[slot][index];
    QByteArray const name(
        record.containerName,
        static_cast<qsizetype>(qstrnlen(record.containerName, sizeof(record.containerName))));
    std::vector<unsigned char> const &value = record.value;
    QString const read =
        QStringLiteral("C_GetAttributeValue(hSes[%1], ho, templ_value, 1)").arg(slot);
    bool destroyed = false;
    CK_RV rv = walkContainer(slot, name, [&](CK_OBJECT_HANDLE ho, CK_OBJECT_CLASS cls) {
        if (cls != CKO_CERTIFICATE)
            return static_cast<CK_RV>(CKR_OK);
        AttributeValues values;
        CK_RV got = readAttributes(hSes[slot], ho, {CKA_VALUE}, values, read);
        if (got != CKR_OK || values[0] != value)
            return got;
        destroyed = true;
        return traced(QStringLiteral("C_DestroyObject(hSes[%1], ho)").arg(slot),
                      pFunctionList->C_DestroyObject(hSes[slot], ho),
                      QStringLiteral("CKO_CERTIFICATE"));
    });
    if (rv == CKR_OK && !destroyed)
        rv = client_code::CERT_GONE;
    return leave(what, rv);
}
