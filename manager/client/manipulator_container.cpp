// The operations on one key container, named by its container name: the key
// test and the deletion of its objects.
//
// Both walk every object of the slot's session once. A container's objects
// are those whose container name has exactly the given bytes: a name that
// only begins like the given one is another container's. Objects that belong
// to no container (data objects, and those the token gives no container name
// for) are passed over, so they neither stop the walk nor match.
//
// The key test pairs the container's keys by CKA_ID and tests a pair only
// once every key has its partner, so that a missing key is told before any
// card operation. Its test data are random bytes, no secret: nothing it
// handles needs wiping, and no value reaches the trace.
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

// A decryption's answers when the block has no padding the key can take off:
// the standard code, and CKR_FUNCTION_FAILED, which the card's module gives.
bool unpadded(CK_RV rv)
{
    return rv == CKR_ENCRYPTED_DATA_INVALID || rv == CKR_FUNCTION_FAILED;
}

// A CK_BBOOL value that is there and true.
bool isTrue(std::vector<unsigned char> const &value)
{
    return !value.empty() && value[0] != CK_FALSE;
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
    QString const what = QStringLiteral("TestKey(%1, %2)").arg(slot).arg(container);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    PairedKeys keys;
    CK_RV rv = containerKeys(slot, container.toUtf8(), keys);
    if (rv != CKR_OK)
        return leave(what, rv);
    if (keys.empty())
        return leave(what, client_code::NO_KEY_PAIR);
    PairedKey const *failing = unpaired(keys);
    if (failing != nullptr)
        rv = client_code::NO_KEY_PAIR;
    else
        rv = testPairs(slot, keys, failing);
    if (failing != nullptr && failed != nullptr) {
        key_info record{};
        bool fits = false;
        bool const read =
            readKeyRecord(slot, failing->handle, failing->cls, record, fits) == CKR_OK;
        *failed = read && fits ? record : key_info{};
    }
    return leave(what, rv);
}

CK_RV Pkcs11Manipulator::containerKeys(int slot, QByteArray const &container, PairedKeys &keys)
{
    QString const read = QStringLiteral("C_GetAttributeValue(hSes[%1], ho, templ_id, 1)").arg(slot);
    return walkContainer(slot, container, [&](CK_OBJECT_HANDLE ho, CK_OBJECT_CLASS cls) {
        if (cls == CKO_CERTIFICATE)
            return static_cast<CK_RV>(CKR_OK);
        AttributeValues id;
        CK_RV rv = readAttributes(hSes[slot], ho, {CKA_ID}, id, read,
                                  cls == CKO_PUBLIC_KEY ? QStringLiteral("CKO_PUBLIC_KEY")
                                                        : QStringLiteral("CKO_PRIVATE_KEY"));
        if (rv == CKR_OK)
            keys.push_back(PairedKey{ho, cls, std::move(id[0])});
        return rv;
    });
}

Pkcs11Manipulator::PairedKey const *Pkcs11Manipulator::unpaired(PairedKeys const &keys)
{
    for (PairedKey const &key : keys) {
        bool const paired = std::any_of(keys.begin(), keys.end(), [&](PairedKey const &other) {
            return other.cls != key.cls && other.id == key.id;
        });
        if (!paired)
            return &key;
    }
    return nullptr;
}

CK_RV Pkcs11Manipulator::testPairs(int slot, PairedKeys const &keys, PairedKey const *&failing)
{
    for (PairedKey const &privateKey : keys) {
        if (privateKey.cls != CKO_PRIVATE_KEY)
            continue;
        for (PairedKey const &publicKey : keys) {
            if (publicKey.cls != CKO_PUBLIC_KEY || publicKey.id != privateKey.id)
                continue;
            CK_RV rv = testPair(slot, privateKey.handle, publicKey.handle);
            if (rv != CKR_OK) {
                failing = &privateKey;
                return rv;
            }
        }
    }
    return CKR_OK;
}

CK_RV Pkcs11Manipulator::testPair(int slot, CK_OBJECT_HANDLE privateKey, CK_OBJECT_HANDLE publicKey)
{
    AttributeValues usage;
    CK_RV rv = readAttributes(
        hSes[slot], privateKey, {CKA_SIGN, CKA_DECRYPT}, usage,
        QStringLiteral("C_GetAttributeValue(hSes[%1], privateHandle, templ_usage, 2)").arg(slot));
    if (rv != CKR_OK)
        return rv;
    bool const signs = isTrue(usage[0]);
    bool const decrypts = isTrue(usage[1]);
    std::vector<unsigned char> const data = testData(slot);
    if (decrypts && !signs)
        return encryptAndDecrypt(slot, privateKey, publicKey, data);
    return signAndVerify(slot, privateKey, publicKey, data);
}

std::vector<unsigned char> Pkcs11Manipulator::testData(int slot)
{
    // Without random bytes from the token the test works on zeros.
    std::vector<unsigned char> data(TEST_DATA_LENGTH, 0);
    if (traced(QStringLiteral("C_GenerateRandom(hSes[%1], data, 20)").arg(slot),
               pFunctionList->C_GenerateRandom(hSes[slot], data.data(), TEST_DATA_LENGTH)) !=
        CKR_OK)
        std::fill(data.begin(), data.end(), 0);
    return data;
}

CK_RV Pkcs11Manipulator::signAndVerify(int slot, CK_OBJECT_HANDLE privateKey,
                                       CK_OBJECT_HANDLE publicKey,
                                       std::vector<unsigned char> const &data)
{
    CK_SESSION_HANDLE const session = hSes[slot];
    CK_MECHANISM mechanism = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    CK_BYTE_PTR const bytes = const_cast<CK_BYTE_PTR>(data.data());
    CK_RV rv = traced(QStringLiteral("C_SignInit(hSes[%1], &mechanism, privateHandle)").arg(slot),
                      pFunctionList->C_SignInit(session, &mechanism, privateKey));
    std::vector<unsigned char> signature;
    if (rv == CKR_OK)
        rv = output(
            QStringLiteral("C_Sign(hSes[%1], data, 20, %2, &signatureLen)").arg(slot),
            QStringLiteral("(CK_BYTE_PTR)signature"), QStringLiteral("signatureLen"),
            [&](CK_BYTE_PTR out, CK_ULONG_PTR length) {
                return pFunctionList->C_Sign(session, bytes, data.size(), out, length);
            },
            signature);
    if (rv == CKR_OK)
        rv = traced(QStringLiteral("C_VerifyInit(hSes[%1], &mechanism, publicHandle)").arg(slot),
                    pFunctionList->C_VerifyInit(session, &mechanism, publicKey));
    if (rv == CKR_OK)
        rv = traced(QStringLiteral("C_Verify(hSes[%1], data, 20, signature, %2")
                        .arg(slot)
                        .arg(signature.size()),
                    pFunctionList->C_Verify(session, bytes, data.size(), signature.data(),
                                            signature.size()));
    return rv;
}

CK_RV Pkcs11Manipulator::encryptAndDecrypt(int slot, CK_OBJECT_HANDLE privateKey,
                                           CK_OBJECT_HANDLE publicKey,
                                           std::vector<unsigned char> const &data)
{
    CK_SESSION_HANDLE const session = hSes[slot];
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
    CK_BYTE_PTR const bytes = const_cast<CK_BYTE_PTR>(data.data());
    CK_RV rv = traced(QStringLiteral("C_EncryptInit(hSes[%1], &mechanism, publicHandle)").arg(slot),
                      pFunctionList->C_EncryptInit(session, &mechanism, publicKey));
    std::vector<unsigned char> encrypted;
    if (rv == CKR_OK)
        rv = output(
            QStringLiteral("C_Encrypt(hSes[%1], data, 20, %2, &encryptedLen)").arg(slot),
            QStringLiteral("encrypted"), QStringLiteral("encryptedLen"),
            [&](CK_BYTE_PTR out, CK_ULONG_PTR length) {
                return pFunctionList->C_Encrypt(session, bytes, data.size(), out, length);
            },
            encrypted);
    if (rv == CKR_OK)
        rv = traced(QStringLiteral("C_DecryptInit(hSes[%1], &mechanism, privateHandle)").arg(slot),
                    pFunctionList->C_DecryptInit(session, &mechanism, privateKey));
    if (rv != CKR_OK)
        return rv;
    std::vector<unsigned char> decrypted;
    rv = output(
        QStringLiteral("C_Decrypt(hSes[%1], encrypted, %2, %3, &decryptedLen)")
            .arg(slot)
            .arg(encrypted.size()),
        QStringLiteral("decrypted"), QStringLiteral("decryptedLen"),
        [&](CK_BYTE_PTR out, CK_ULONG_PTR length) {
            return pFunctionList->C_Decrypt(session, encrypted.data(), encrypted.size(), out,
                                            length);
        },
        decrypted);
    // What another key encrypted has no padding this key can take off, or
    // decrypts to other bytes.
    if (unpadded(rv) || (rv == CKR_OK && decrypted != data))
        return CKR_SIGNATURE_INVALID;
    return rv;
}

CK_RV Pkcs11Manipulator::output(QString const &call, QString const &buffer,
                                QString const &lengthName, Output const &step,
                                std::vector<unsigned char> &out)
{
    CK_ULONG length = 0;
    CK_RV rv = step(nullptr, &length);
    traced(call.arg(QStringLiteral("NULL")), rv,
           QStringLiteral("%1=%2").arg(lengthName).arg(length));
    if (rv == CKR_OK && !sized(out, length))
        rv = CKR_HOST_MEMORY;
    if (rv != CKR_OK)
        return rv;
    rv = step(out.data(), &length);
    traced(call.arg(buffer), rv, QStringLiteral("%1=%2").arg(lengthName).arg(length));
    if (rv == CKR_OK && length < out.size())
        out.resize(length);
    return rv;
}

int Pkcs11Manipulator::DeleteObject(int slot, int kind, char const *container)
{
    QByteArray const name(container != nullptr ? container : "");
    QString const what =
        QStringLiteral("DeleteObject(%1, %2, %3)").arg(slot).arg(kind).arg(QString::fromUtf8(name));
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
