#include "certview/translation_loader.h"

#include "certview/crypto_tool.h"

#include <QCoreApplication>
#include <QFile>
#include <QTranslator>
#include <QVariant>

#include <climits>

#include <openssl/evp.h>

namespace Orvane::Helper
{

namespace
{

// A translator loaded from memory reads those bytes for as long as it lives;
// they are kept alive as one of its properties.
char const kCatalogueProperty[] = "vokSignedCatalogue";

bool readWhole(QString const &path, QByteArray *bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *bytes = file.readAll();
    return true;
}

bool readVerified(QString const &file, QString const &signature, QString const &key,
                  QByteArray *catalogue)
{
    QByteArray sig, pub;
    if (!readWhole(file, catalogue) || !readWhole(signature, &sig) || !readWhole(key, &pub))
        return false;
    return CryptoTool::VerifyContent(catalogue->constData(), catalogue->size(), pub.constData(),
                                     pub.size(), sig.constData(), sig.size(),
                                     EVP_sha256()) == CryptoTool::SignatureValid;
}

} // namespace

bool TraslationLoader::VerifyLibrary(QString const &file, QString const &signature,
                                     QString const &key)
{
    QByteArray catalogue;
    return readVerified(file, signature, key, &catalogue);
}

bool TraslationLoader::VerifyLibrary(QString const &base, QString const &key)
{
    return VerifyLibrary(base + ".qm", base + ".sn", key);
}

bool TraslationLoader::LoadLibrary(QTranslator *translator, QString const &file,
                                   QString const &signature, QString const &key)
{
    QByteArray catalogue;
    if (!readVerified(file, signature, key, &catalogue) || !translator ||
        catalogue.size() > INT_MAX)
        return false;
    if (!translator->load(reinterpret_cast<uchar const *>(catalogue.constData()),
                          (int)catalogue.size()))
        return false;
    translator->setProperty(kCatalogueProperty, catalogue);
    return QCoreApplication::installTranslator(translator);
}

bool TraslationLoader::LoadLibrary(QTranslator *translator, QString const &base, QString const &key)
{
    return LoadLibrary(translator, base + ".qm", base + ".sn", key);
}

} // namespace Orvane::Helper
