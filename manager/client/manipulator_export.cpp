// Exporting a certificate or a public key from the records SaveObjects read:
// no PKCS#11 call, so what is written is the card as it was at that read.
//
// An export counts as done only when every byte reached the file (ReplaceFile).
#include "client/pkcs11_manipulator.h"

#include "client/file_write.h"
#include "client/openssl_key_files.h"
#include "client/record_tables.h"

#include <algorithm>

int Pkcs11Manipulator::ExportCert(int slot, int index, QString file)
{
    QString const what = QStringLiteral("ExportCert(%1, %2, %3)").arg(slot).arg(index).arg(file);
    enter(what);
    if (!hasRecord(certs, slot, index))
        return leave(what, 0);
    cert_info const &cert = certs[slot][index];
    FileWriteResult const result = ReplaceFile(
        file,
        QByteArray(reinterpret_cast<char const *>(cert.value.data()),
                   static_cast<qsizetype>(cert.value.size())));
    traced(QStringLiteral("ofstream: certFile.is_open()"), result.opened ? 1 : 0);
    return leave(what, result.written ? 1 : 0);
}

int Pkcs11Manipulator::ExportKey(int slot, int index, QString file)
{
    QString const what = QStringLiteral("ExportKey(%1, %2, %3)").arg(slot).arg(index).arg(file);
    enter(what);
    if (!hasRecord(pubKeys, slot, index))
        return leave(what, 0);
    key_info const &key = pubKeys[slot][index];
    QByteArray const der =
        key.modulusLen == 0 || key.modulusLen > sizeof(key.modulus) ||
                key.exponentLen > sizeof(key.exponent)
            ? QByteArray()
            : RsaPublicKeyDer(key.modulus, key.modulusLen, key.exponent, key.exponentLen);
    bool const written = !der.isEmpty() && ReplaceFile(file, der).written;
    traced(QStringLiteral("openssl: i2d_RSAPublicKey_fp(pfile, pkey)"), written ? 1 : 0);
    return leave(what, written ? 1 : 0);
}
