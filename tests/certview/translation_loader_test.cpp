#include "certview/crypto_tool.h"
#include "certview/translation_loader.h"

#include "qt_print.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

using Orvane::Helper::CryptoTool;
using Orvane::Helper::TraslationLoader;

namespace
{

struct PkeyFree {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
typedef std::unique_ptr<EVP_PKEY, PkeyFree> Pkey;

QByteArray readAll(QString const &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

QByteArray const &czechCatalogue()
{
    static QByteArray const bytes = readAll(":/translation/viewer_cs");
    return bytes;
}

QByteArray const &publicKeyPem()
{
    static QByteArray const bytes = readAll(":/security/pubkey");
    return bytes;
}

QByteArray publicKeyDer()
{
    QByteArray const &pem = publicKeyPem();
    BIO *bio = BIO_new_mem_buf(pem.constData(), (int)pem.size());
    Pkey key(PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    unsigned char *der = nullptr;
    int length = i2d_PUBKEY(key.get(), &der);
    QByteArray bytes(reinterpret_cast<char *>(der), length);
    OPENSSL_free(der);
    return bytes;
}

// A key pair that is not the one the build signs with.
EVP_PKEY *strangerKey()
{
    static Pkey const key(EVP_RSA_gen(2048));
    return key.get();
}

QByteArray signWith(EVP_PKEY *key, QByteArray const &data)
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    size_t length = 0;
    EXPECT_EQ(EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, key), 1);
    EXPECT_EQ(EVP_DigestSign(ctx, nullptr, &length, nullptr, 0), 1);
    QByteArray signature((qsizetype)length, '\0');
    EXPECT_EQ(EVP_DigestSign(ctx, reinterpret_cast<unsigned char *>(signature.data()), &length,
                             reinterpret_cast<unsigned char const *>(data.constData()),
                             (size_t)data.size()),
              1);
    EVP_MD_CTX_free(ctx);
    signature.resize((qsizetype)length);
    return signature;
}

QString translated(char const *source)
{
    return QCoreApplication::translate("X509Viewer", source);
}

// A catalogue, its signature and a key written to a private directory, each
// of which a row can spoil.
struct CatalogueFiles {
    QTemporaryDir dir;
    QByteArray catalogue = czechCatalogue();
    QByteArray signature = readAll(":/translation/sign/viewer_cs");
    QByteArray key = publicKeyPem();
    bool writeSignature = true;

    QString path(char const *name) const { return dir.filePath(name); }
    void write() const
    {
        writeFile("viewer.qm", catalogue);
        if (writeSignature)
            writeFile("viewer.sn", signature);
        writeFile("pubkey", key);
    }
    void writeFile(char const *name, QByteArray const &bytes) const
    {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
};

// Installs nothing: a fresh translator is removed again when the test ends.
struct ScopedTranslator {
    QTranslator translator;
    ~ScopedTranslator() { QCoreApplication::removeTranslator(&translator); }
};

} // namespace

TEST(ViewerResources, CarryBothCataloguesSignedForThePublicKey)
{
    EXPECT_EQ(publicKeyPem().size(), 460);
    EXPECT_TRUE(publicKeyPem().startsWith("-----BEGIN PUBLIC KEY-----"));
    for (char const *lang : {"cs", "en"}) {
        SCOPED_TRACE(lang);
        QString catalogue = QString(":/translation/viewer_") + lang;
        QString signature = QString(":/translation/sign/viewer_") + lang;
        EXPECT_EQ(readAll(signature).size(), 256);
        EXPECT_TRUE(TraslationLoader::VerifyLibrary(catalogue, signature, ":/security/pubkey"));
    }
}

TEST(TraslationLoader, InstallsOnlyACatalogueWhoseSignatureVerifies)
{
    struct Row {
        char const *name;
        std::function<void(CatalogueFiles &)> spoil;
        int code; // of CryptoTool::VerifyFile over the three files
    };
    std::vector<Row> const rows = {
        {"signed catalogue, PEM key", [](CatalogueFiles &) {}, CryptoTool::SignatureValid},
        {"signed catalogue, DER key", [](CatalogueFiles &f) { f.key = publicKeyDer(); },
         CryptoTool::SignatureValid},
        {"one byte of the catalogue changed",
         [](CatalogueFiles &f) { f.catalogue[f.catalogue.size() / 2] ^= 0x01; },
         CryptoTool::SignatureInvalid},
        {"signature made with another key",
         [](CatalogueFiles &f) { f.signature = signWith(strangerKey(), f.catalogue); },
         CryptoTool::SignatureInvalid},
        {"signature cut short", [](CatalogueFiles &f) { f.signature.chop(1); },
         CryptoTool::SignatureInvalid},
        {"signature file missing", [](CatalogueFiles &f) { f.writeSignature = false; },
         CryptoTool::SignatureMissing},
        {"malformed key", [](CatalogueFiles &f) { f.key = "-----BEGIN PUBLIC KEY-----\nAAAA\n"; },
         CryptoTool::KeyMissing},
        {"empty key file", [](CatalogueFiles &f) { f.key.clear(); }, CryptoTool::KeyMissing},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        CatalogueFiles files;
        row.spoil(files);
        files.write();
        QString qm = files.path("viewer.qm"), sn = files.path("viewer.sn");
        QString key = files.path("pubkey");
        EXPECT_EQ(CryptoTool::VerifyFile(qm.toLocal8Bit().constData(), sn.toLocal8Bit().constData(),
                                         key.toLocal8Bit().constData(), EVP_sha256()),
                  row.code);
        bool valid = row.code == CryptoTool::SignatureValid;
        EXPECT_EQ(TraslationLoader::VerifyLibrary(qm, sn, key), valid);

        ScopedTranslator scoped;
        EXPECT_EQ(TraslationLoader::LoadLibrary(&scoped.translator, files.path("viewer"), key),
                  valid);
        EXPECT_EQ(translated("Details"), valid ? QString("Podrobnosti") : QString("Details"));
    }
    EXPECT_EQ(translated("Details"), "Details");
}

TEST(TraslationLoader, RefusesANullTranslatorAfterAGoodCheck)
{
    EXPECT_FALSE(TraslationLoader::LoadLibrary(
        nullptr, ":/translation/viewer_cs", ":/translation/sign/viewer_cs", ":/security/pubkey"));
    EXPECT_EQ(translated("Details"), "Details");
}

TEST(TraslationLoader, LoadsTheBytesItCheckedAndNoNeighbouringFile)
{
    // The translator's own file search would try "viewer.qm" before "viewer":
    // a neighbour that nobody signed must not be what gets installed.
    CatalogueFiles files;
    files.write();
    QFile::rename(files.path("viewer.qm"), files.path("viewer"));
    files.writeFile("viewer.qm", readAll(":/translation/viewer_en"));
    ScopedTranslator scoped;
    ASSERT_TRUE(TraslationLoader::LoadLibrary(&scoped.translator, files.path("viewer"),
                                              files.path("viewer.sn"), files.path("pubkey")));
    EXPECT_EQ(translated("Details"), "Podrobnosti");
}

TEST(CryptoToolVerifyContent, NamesTheFirstMissingPartInContentKeySignatureOrder)
{
    char const data[] = "data", key[] = "key", sig[] = "sig";
    struct Row {
        char const *name;
        void const *content;
        long contentLength;
        void const *key;
        long keyLength;
        void const *signature;
        long signatureLength;
        int code;
    };
    Row const rows[] = {
        {"all missing", nullptr, 0, nullptr, 0, nullptr, 0, CryptoTool::ContentMissing},
        {"negative content length", data, -1, key, 3, sig, 3, CryptoTool::ContentMissing},
        {"key and signature missing", data, 4, nullptr, 0, nullptr, 0, CryptoTool::KeyMissing},
        {"negative key length", data, 4, key, -1, sig, 3, CryptoTool::KeyMissing},
        {"signature missing", data, 4, key, 3, nullptr, 0, CryptoTool::SignatureMissing},
        {"negative signature length", data, 4, key, 3, sig, -1, CryptoTool::SignatureMissing},
        {"no key in the key bytes", data, 4, key, 3, sig, 3, CryptoTool::KeyMissing},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CryptoTool::VerifyContent(row.content, row.contentLength, row.key, row.keyLength,
                                            row.signature, row.signatureLength, EVP_sha256()),
                  row.code);
    }
}

TEST(CryptoToolVerifyContent, NeedsTheDigestTheSignatureWasMadeWith)
{
    QByteArray const &content = czechCatalogue(), &key = publicKeyPem();
    QByteArray signature = readAll(":/translation/sign/viewer_cs");
    auto verify = [&](EVP_MD const *md) {
        return CryptoTool::VerifyContent(content.constData(), content.size(), key.constData(),
                                         key.size(), signature.constData(), signature.size(), md);
    };
    EXPECT_EQ(verify(EVP_sha256()), CryptoTool::SignatureValid);
    EXPECT_EQ(verify(EVP_sha1()), CryptoTool::SignatureInvalid);
    EXPECT_EQ(verify(nullptr), CryptoTool::SignatureInvalid);
}

TEST(CryptoToolVerifyFile, ReportsUnreadableFilesAndClosesEveryStream)
{
    CatalogueFiles files;
    files.write();
    std::string qm = files.path("viewer.qm").toStdString(),
                sn = files.path("viewer.sn").toStdString();
    std::string key = files.path("pubkey").toStdString(), none = files.path("none").toStdString();
    EXPECT_EQ(CryptoTool::VerifyFile(none.c_str(), sn.c_str(), key.c_str(), EVP_sha256()),
              CryptoTool::ContentMissing);
    EXPECT_EQ(CryptoTool::VerifyFile(qm.c_str(), none.c_str(), key.c_str(), EVP_sha256()),
              CryptoTool::SignatureMissing);
    EXPECT_EQ(CryptoTool::VerifyFile(qm.c_str(), sn.c_str(), nullptr, EVP_sha256()),
              CryptoTool::KeyMissing);
    EXPECT_EQ(CryptoTool::VerifyFile(qm.c_str(), sn.c_str(), key.c_str(), nullptr),
              CryptoTool::SignatureInvalid);

    // Streams are closed on every path; the leak checker of the sanitizer
    // build sees any that is not.
    auto open = [](std::string const &path) { return std::fopen(path.c_str(), "rb"); };
    EXPECT_EQ(CryptoTool::VerifyFile(open(qm), open(sn), open(key), EVP_sha256()),
              CryptoTool::SignatureValid);
    EXPECT_EQ(CryptoTool::VerifyFile(nullptr, open(sn), open(key), EVP_sha256()),
              CryptoTool::ContentMissing);
    EXPECT_EQ(CryptoTool::VerifyFile(open(qm), open(sn), open(key), nullptr),
              CryptoTool::SignatureInvalid);
}

TEST(CryptoToolReadFile, ReadsAWholeFileIntoAFreshBuffer)
{
    CatalogueFiles files;
    files.write();
    std::string qm = files.path("viewer.qm").toStdString();
    void *buffer = std::malloc(16); // replaced, and freed by ReadFile
    long length = -1;
    ASSERT_TRUE(CryptoTool::ReadFile(qm.c_str(), &buffer, &length));
    ASSERT_EQ(length, files.catalogue.size());
    EXPECT_EQ(std::memcmp(buffer, files.catalogue.constData(), (size_t)length), 0);
    std::free(buffer);

    buffer = nullptr;
    EXPECT_FALSE(CryptoTool::ReadFile(files.path("none").toStdString().c_str(), &buffer, &length));
    EXPECT_FALSE(CryptoTool::ReadFile(qm.c_str(), nullptr, &length));
    EXPECT_FALSE(CryptoTool::ReadFile(qm.c_str(), &buffer, nullptr));
    EXPECT_FALSE(CryptoTool::ReadFile(static_cast<FILE *>(nullptr), &buffer, &length));
    EXPECT_EQ(buffer, nullptr);
}

TEST(CryptoToolCalculateDigest, DigestsTheDataOrClearsTheResult)
{
    unsigned char *digest = nullptr;
    unsigned int length = 0;
    ASSERT_TRUE(CryptoTool::CalculateDigest("abc", 3, &digest, &length, EVP_sha256()));
    ASSERT_EQ(length, 32u);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(digest), 32).toHex(),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::free(digest);

    struct Row {
        char const *name;
        void const *data;
        long length;
        EVP_MD const *md;
    };
    Row const rows[] = {
        {"no data", nullptr, 3, EVP_sha256()},
        {"empty data", "abc", 0, EVP_sha256()},
        {"no digest", "abc", 3, nullptr},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        unsigned char stale = 0;
        digest = &stale;
        length = 7;
        EXPECT_FALSE(CryptoTool::CalculateDigest(row.data, row.length, &digest, &length, row.md));
        EXPECT_EQ(digest, nullptr);
        EXPECT_EQ(length, 0u);
    }
}
