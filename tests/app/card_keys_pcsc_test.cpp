// The key and certificate operations of the card manager over the real card service,
// driven through the menus and page links: PKCS#12 import, certificate import, key
// test, certificate and public-key export, the certificate dialog, and deletion.
//
// The card's containers: "keys" and "spare" without certificate, "keys-long" (whose
// name starts with "keys") and "signer" with one, and "public only" with only a public
// key. The certificate table thus lists "keys-long" and "signer" at other positions
// than the key lists do.
#include "card_window_fixture.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QFile>
#include <QRegularExpression>
#include <QTabWidget>

#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "key_material.h"

using namespace app_test;
using client_test::Pkcs12Kind;

namespace
{

const char kPassword[] = "heslo 1";

cardsim::Personalisation keyCard()
{
    cardsim::Personalisation p;
    p.containers = {container("keys", 0, 1024), container("keys-long", 0, 1024),
                    container("signer", 1024, 0), container("public only", 0, 1024),
                    container("spare", 0, 1024)};
    p.containers[0].keys[1].certificate = false;
    p.containers[3].keys[1].publicOnly = true;
    p.containers[3].keys[1].certificate = false;
    p.containers[4].keys[1].certificate = false;
    return p;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray bytesOf(const std::vector<unsigned char> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

QByteArray pem(X509 *certificate)
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate);
    char *data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    QByteArray text(data, length);
    BIO_free(bio);
    return text;
}

// A certificate for the key, signed by it, with a private extension of `padding` random
// bytes (none for 0): a certificate larger than a card's file block, which the window
// must carry whole.
X509Ptr paddedCertificate(EVP_PKEY *key, const std::string &commonName, int padding)
{
    X509Ptr certificate = client_test::Certificate(key, commonName);
    if (padding == 0)
        return certificate;
    std::vector<unsigned char> bytes(size_t(padding), 0);
    EXPECT_EQ(RAND_bytes(bytes.data(), padding), 1);
    ASN1_OCTET_STRING *value = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(value, bytes.data(), padding);
    ASN1_OBJECT *oid = OBJ_txt2obj("2.25.271828182845904523536028747135266249", 1);
    X509_EXTENSION *extension = X509_EXTENSION_create_by_OBJ(nullptr, oid, 0, value);
    EXPECT_EQ(X509_add_ext(certificate.get(), extension, -1), 1);
    X509_EXTENSION_free(extension);
    ASN1_OBJECT_free(oid);
    ASN1_OCTET_STRING_free(value);
    EXPECT_GT(X509_sign(certificate.get(), key, EVP_sha256()), 0);
    return certificate;
}

// The modulus of an RSA public key, in hexadecimal.
std::string modulusOf(EVP_PKEY *key)
{
    BIGNUM *n = nullptr;
    if (key == nullptr || EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) != 1)
        return "";
    char *hex = BN_bn2hex(n);
    std::string text = hex;
    OPENSSL_free(hex);
    BN_free(n);
    return text;
}

class CardKeysTest : public CardWindowTest
{
  protected:
    CardKeysTest() { driver.passOver("progressNotice"); }

    void startWithPin(const cardsim::Personalisation &p = keyCard())
    {
        start(p);
        reloadWithPin();
    }
    // The item of the key container of that name (the first, when several).
    QTreeWidgetItem *keyItem(const QString &name)
    {
        QTreeWidgetItem *card = item({0, 0});
        for (int k = 0; card && k < card->childCount(); ++k)
            if (card->child(k)->text(0) == name)
                return card->child(k);
        ADD_FAILURE() << "no key item " << name.toStdString();
        return nullptr;
    }
    QString file(const QString &name) const { return home.path() + "/" + name; }
    // The key pair of a container's key as the card holds it.
    EvpPkeyPtr keyOnCard(int container, int spec)
    {
        token_test::Bytes der = card->Snapshot().keys.at({container, spec}).der;
        const unsigned char *p = der.data();
        return EvpPkeyPtr(d2i_AutoPrivateKey(nullptr, &p, long(der.size())));
    }
    // Runs the command and answers its dialogs; a change ends with a reload, which asks
    // for the PIN again.
    void run(const QString &how, const std::function<void(vok_qt::ModalDriver &)> &answer)
    {
        answer(driver);
        if (how.startsWith("link:")) {
            ASSERT_TRUE(page()->toHtml().contains("href=\"" + how.mid(5) + "\""));
            emit page()->anchorClicked(QUrl(how.mid(5)));
        } else {
            action(how.toLatin1().constData())->trigger();
        }
        ASSERT_TRUE(driver.finished());
    }
    const vok_qt::SeenDialog &last() { return driver.seen().last(); }
    // Destroys the one object of the template through a session of the test's own, logged
    // in as the window's sessions are.
    void destroyObject(std::vector<CK_ATTRIBUTE> wanted)
    {
        CK_FUNCTION_LIST_PTR f = moduleFunctions();
        CK_SESSION_HANDLE session = newSession(f, CKF_SERIAL_SESSION | CKF_RW_SESSION);
        CK_OBJECT_HANDLE found[2];
        CK_ULONG hits = 0;
        EXPECT_EQ(f->C_FindObjectsInit(session, wanted.data(), CK_ULONG(wanted.size())), CKR_OK);
        EXPECT_EQ(f->C_FindObjects(session, found, 2, &hits), CKR_OK);
        f->C_FindObjectsFinal(session);
        EXPECT_EQ(hits, 1u);
        if (hits == 1) {
            EXPECT_EQ(f->C_DestroyObject(session, found[0]), CKR_OK);
        }
        f->C_CloseSession(session);
    }
    void destroyCertificate(const token_test::Bytes &value)
    {
        CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
        destroyObject(
            {{CKA_CLASS, &cls, sizeof cls},
             {CKA_VALUE, const_cast<unsigned char *>(value.data()), CK_ULONG(value.size())}});
    }

    // The last message box before the reload's PIN prompt.
    vok_qt::SeenDialog resultBox()
    {
        for (qsizetype i = driver.seen().size() - 1; i >= 0; --i)
            if (driver.seen()[i].className == "QMessageBox")
                return driver.seen()[i];
        return {};
    }
};

TEST_F(CardKeysTest, Pkcs12ImportMakesANewContainerOrRefusesTheFile)
{
    EvpPkeyPtr key = client_test::RsaKey(2048), small = client_test::RsaKey(1024);
    X509Ptr certificate = client_test::Certificate(key.get(), "imported holder");
    X509Ptr smallCertificate = client_test::Certificate(small.get(), "small holder");
    struct Row {
        const char *what;
        EVP_PKEY *key;
        X509 *certificate;
        Pkcs12Kind kind;
        const char *password;
        QString result;
        bool imported;
    };
    const Row rows[] = {
        {"modern", key.get(), certificate.get(), Pkcs12Kind::MODERN, kPassword,
         "Klíč byl úspěšně importován.", true},
        {"legacy ciphers", key.get(), certificate.get(), Pkcs12Kind::LEGACY, kPassword,
         "Klíč byl úspěšně importován.", true},
        {"wrong password", key.get(), certificate.get(), Pkcs12Kind::MODERN, "heslo 2",
         "<p align='center'>Klíč nebyl importován. Bylo zadáno nesprávné heslo exportovaného "
         "privátního klíče.",
         false},
        {"1024-bit key", small.get(), smallCertificate.get(), Pkcs12Kind::MODERN, kPassword,
         "Klíč nebyl importován (nepodporovaná velikost klíče).", false},
    };
    startWithPin();
    auto withCertificate = [this] {
        int count = 0;
        for (int k = 0; k < item({0, 0})->childCount(); ++k)
            count += item({0, 0})->child(k)->childCount();
        return count;
    };
    int containers = item({0, 0})->childCount(), certified = withCertificate();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const QString path = file(QString::fromLatin1(row.what) + ".pfx");
        writeFile(path,
                  bytesOf(client_test::Pkcs12(row.key, row.certificate, kPassword, row.kind)));
        click(item({0, 0}));
        QString passwordLabel;
        run("importKey", [&](vok_qt::ModalDriver &d) {
            d.chooseFile(path).expect("QInputDialog", [&](QWidget *w) {
                auto *input = static_cast<QInputDialog *>(w);
                passwordLabel = input->labelText();
                EXPECT_EQ(input->textEchoMode(), QLineEdit::Password);
                input->setTextValue(QString::fromUtf8(row.password));
                input->accept();
            });
            d.pressButton();
            if (row.imported)
                d.enterText(kPin);
        });
        EXPECT_EQ(passwordLabel, "Zadejte heslo, které bylo zadáno při exportu privátního klíče:");
        EXPECT_EQ(resultBox().text, row.result);
        EXPECT_EQ(resultBox().icon,
                  row.imported ? QMessageBox::Information : QMessageBox::Critical);
        containers += row.imported ? 1 : 0;
        certified += row.imported ? 1 : 0; // each with its certificate
        EXPECT_EQ(item({0, 0})->childCount(), containers) << shape().join("\n").toStdString();
        EXPECT_EQ(withCertificate(), certified);
    }
}

TEST_F(CardKeysTest, CertificateImportTakesDerOrPemOfTheContainersKeyOnly)
{
    startWithPin();
    EvpPkeyPtr keys = keyOnCard(0, 1), spare = keyOnCard(4, 1);
    ASSERT_NE(keys, nullptr);
    ASSERT_NE(spare, nullptr);
    X509Ptr forKeys = client_test::Certificate(keys.get(), "keys holder");
    X509Ptr forSpare = client_test::Certificate(spare.get(), "spare holder");
    writeFile(file("keys.cer"), bytesOf(client_test::Der(forKeys.get())));
    writeFile(file("spare-pem.cer"), pem(forSpare.get()));
    writeFile(file("garbage.cer"), bytesOf(client_test::Der(forKeys.get())).append("trailing"));
    struct Row {
        const char *what;
        QString container, path, result;
        bool imported;
    };
    const Row rows[] = {
        {"garbage", "keys", file("garbage.cer"),
         "<p align='center'>Soubor neobsahuje certifikát ve formátu DER ani PEM.", false},
        {"another key's certificate", "keys", file("spare-pem.cer"),
         "<p align='center'>Certifikát nepatří ke klíči vybraného kontejneru.", false},
        {"DER", "keys", file("keys.cer"), "Certifikát byl úspěšně importován.", true},
        {"PEM", "spare", file("spare-pem.cer"), "Certifikát byl úspěšně importován.", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const size_t apdus = card->ApduCount();
        click(keyItem(row.container));
        run("importCert", [&](vok_qt::ModalDriver &d) {
            d.chooseFile(row.path).pressButton();
            if (row.imported)
                d.enterText(kPin);
        });
        EXPECT_EQ(resultBox().text, row.result);
        if (!row.imported) {
            EXPECT_EQ(card->ApduCount(), apdus) << "a refused file reached the card";
        }
        QTreeWidgetItem *key = keyItem(row.container);
        EXPECT_EQ(key->childCount(), row.imported ? 1 : 0);
    }
    // the certificate on the card is the file's
    click(keyItem("keys")->child(0));
    run("exportCert",
        [&](vok_qt::ModalDriver &d) { d.chooseFile(file("back.cer")).pressButton(); });
    EXPECT_EQ(readFile(file("back.cer")), bytesOf(client_test::Der(forKeys.get())));
}

// A certificate goes to the card and comes back whole, whatever its size, and its name
// is text wherever the window shows it: imported for the container's key, shown on the
// key and on its page, exported byte for byte, and named, escaped, in the question
// before the key's deletion.
TEST_F(CardKeysTest, ImportedCertificatesAreShownExportedAndNamedWhole)
{
    startWithPin();
    action("expertMode")->trigger();
    struct Row {
        const char *what;
        QString container;
        int index; // the container's place on the card
        std::string name;
        int padding;
    };
    const Row rows[] = {
        {"about 7 kB", "keys", 0, "large holder", 6500},
        {"markup in its name", "spare", 4, "<b>x</b> holder", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        EvpPkeyPtr keyPair = keyOnCard(row.index, 1);
        ASSERT_NE(keyPair, nullptr);
        X509Ptr certificate = paddedCertificate(keyPair.get(), row.name, row.padding);
        const client_test::Bytes der = client_test::Der(certificate.get());
        ASSERT_GT(der.size(), size_t(row.padding));
        const QString path = file(row.container + ".cer");
        writeFile(path, bytesOf(der));
        click(keyItem(row.container));
        run("importCert",
            [&](vok_qt::ModalDriver &d) { d.chooseFile(path).pressButton().enterText(kPin); });
        EXPECT_EQ(resultBox().text, "Certifikát byl úspěšně importován.");

        QTreeWidgetItem *key = keyItem(row.container);
        ASSERT_EQ(key->childCount(), 1) << shape().join("\n").toStdString();
        EXPECT_EQ(iconOf(key), "keyCert");
        click(key->child(0));
        EXPECT_TRUE(pageRows().contains("SHA1: " + factsOf(der).sha1))
            << pageRows().join("\n").toStdString();
        const QString back = file(row.container + "-back.cer");
        run("exportCert", [&](vok_qt::ModalDriver &d) { d.chooseFile(back).pressButton(); });
        EXPECT_EQ(readFile(back), bytesOf(der));

        click(keyItem(row.container));
        QString question;
        run("deleteKey", [&](vok_qt::ModalDriver &d) {
            d.expect("QMessageBox", [&](QWidget *w) {
                question = static_cast<QMessageBox *>(w)->text();
                static_cast<QMessageBox *>(w)->button(QMessageBox::Cancel)->click();
            });
        });
        const QString named = question.section("<li>certifikát pro ", 1, 1).section("</li>", 0, 0);
        EXPECT_TRUE(named.startsWith(QString::fromStdString(row.name).toHtmlEscaped() + ", "))
            << question.toStdString();
    }
}

TEST_F(CardKeysTest, ExportsTheShownKeysCertificateAndPublicKey)
{
    startWithPin();
    for (const QString &name : {QString("keys-long"), QString("signer")}) {
        SCOPED_TRACE(name.toStdString());
        // the certificate through the key page's link, as the user reaches it
        click(keyItem(name));
        run("link:toCertificate", [](vok_qt::ModalDriver &) {});
        const QString cer = file(name + ".cer"), der = file(name + ".der");
        run("exportCert", [&](vok_qt::ModalDriver &d) { d.chooseFile(cer).pressButton(); });
        EXPECT_EQ(last().text, "<p align='center'>Certifikát byl úspěšně exportován do souboru.");
        click(keyItem(name));
        run("exportKey", [&](vok_qt::ModalDriver &d) { d.chooseFile(der).pressButton(); });
        EXPECT_EQ(last().text, "Klíč byl úspěšně exportován do souboru.");

        const QByteArray certificateBytes = readFile(cer);
        EXPECT_TRUE(std::find(certificates.begin(), certificates.end(),
                              token_test::Bytes(certificateBytes.begin(),
                                                certificateBytes.end())) != certificates.end());
        const auto *p = reinterpret_cast<const unsigned char *>(certificateBytes.constData());
        X509Ptr certificate(d2i_X509(nullptr, &p, long(certificateBytes.size())));
        ASSERT_NE(certificate, nullptr);
        const QByteArray keyBytes = readFile(der);
        const auto *k = reinterpret_cast<const unsigned char *>(keyBytes.constData());
        EvpPkeyPtr publicKey(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &k, long(keyBytes.size())));
        ASSERT_NE(publicKey, nullptr);
        EXPECT_EQ(modulusOf(publicKey.get()), modulusOf(X509_get0_pubkey(certificate.get())))
            << "the exported key is not the one of its certificate";
    }
    // a place that cannot be written is a failure
    click(keyItem("signer")->child(0));
    run("exportCert",
        [&](vok_qt::ModalDriver &d) { d.chooseFile(file("missing/signer.cer")).pressButton(); });
    EXPECT_EQ(last().title, "Chyba");
    EXPECT_EQ(last().icon, QMessageBox::Critical);
}

TEST_F(CardKeysTest, KeyTestSignsAndVerifiesWithTheContainersKeys)
{
    // read without the PIN: the test asks for it, a wrong one first
    start(keyCard());
    driver.cancel("QInputDialog").pressButton();
    reload();
    ASSERT_TRUE(driver.finished());
    click(keyItem("signer"));
    ASSERT_TRUE(pageRows().contains("Klíče: Pouze veřejný klíč"));
    struct Row {
        const char *what;
        QString container;
        std::function<void(vok_qt::ModalDriver &)> answer;
        QString result;
        int icon;
    };
    const Row rows[] = {
        {"a wrong PIN first", "signer",
         [](vok_qt::ModalDriver &d) {
             d.enterText(kWrongPin).pressButton().enterText(kPin).pressButton();
         },
         "Klíče jsou v pořádku.", QMessageBox::Information},
        {"logged in", "signer", [](vok_qt::ModalDriver &d) { d.pressButton(); },
         "Klíče jsou v pořádku.", QMessageBox::Information},
        {"an exchange key, which decrypts", "keys-long",
         [](vok_qt::ModalDriver &d) { d.pressButton(); }, "Klíče jsou v pořádku.",
         QMessageBox::Information},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        click(keyItem(row.container));
        run("testKey", row.answer);
        EXPECT_EQ(last().text, row.result);
        EXPECT_EQ(last().icon, row.icon);
        // the log-in has read the card's private keys: the shown key's page says so,
        // without a click
        EXPECT_TRUE(pageRows().contains("Název: " + row.container));
        EXPECT_TRUE(pageRows().contains("Klíče: Privátní i veřejný klíč"))
            << pageRows().join("\n").toStdString();
    }
    EXPECT_EQ(driver.seen()[3].text, "Byl zadán chybný PIN.");
    EXPECT_TRUE(driver.seen()[4].text.endsWith("Zbývající počet pokusů: 2"));
    EXPECT_EQ(manager->shownItemOf(CardManager::KeyItem), keyItem("keys-long"));
    action("showDiag")->trigger();
    EXPECT_TRUE(page()->toPlainText().contains("KeyInfo: Name: signer\nKeyInfo: Size: 1024\n"
                                               "KeyInfo: Type: AT_SIGNATURE\n"
                                               "KeyInfo: Keys: private + public\n"))
        << page()->toPlainText().toStdString();
}

// The key test tries every key pair of the container, each with what its key may do: an
// exchange key decrypts. A pair that fails names its key (kind and size) beneath the
// box's text, which is the shown key's container's, not necessarily the shown key.
TEST_F(CardKeysTest, KeyTestNamesTheKeyThatFails)
{
    cardsim::Personalisation p;
    p.containers = {container("exchange", 0, 2048), container("half", 2048, 2048)};
    struct Language {
        bool english;
        QString fine, noPair, naming;
    };
    const Language languages[] = {
        {false, "Klíče jsou v pořádku.",
         "<p align='center'>Jeden klíč z dvojice soukromý klíč/veřejný klíč chybí - viz "
         "informace \"Klíče\" v přehledu kontejneru.",
         "Test neprošel klíč: %1"},
        {true, "Keys are all right.",
         "<p align='center'>Either private or public key is missing. More info in \"Keys\" "
         "attribute in container overview.",
         "Key that failed the test: %1"},
    };
    for (const Language &language : languages) {
        SCOPED_TRACE(language.english ? "en" : "cz");
        if (language.english)
            useEnglish();
        startWithPin(p);
        // "half" loses its exchange private key; the window reads the card again
        CK_OBJECT_CLASS privateKey = CKO_PRIVATE_KEY;
        CK_BBOOL decrypts = CK_TRUE;
        destroyObject({{CKA_CLASS, &privateKey, sizeof privateKey},
                       {CKA_LABEL, const_cast<char *>("half"), 4},
                       {CKA_DECRYPT, &decrypts, sizeof decrypts}});
        reloadWithPin();
        struct Row {
            const char *what;
            QString container, text, informative;
            int icon;
        };
        const Row rows[] = {
            {"exchange key only", "exchange", language.fine, "", QMessageBox::Information},
            {"the exchange key's private half missing", "half", language.noPair,
             language.naming.arg("AT_KEYEXCHANGE, 2048b."), QMessageBox::Critical},
        };
        for (const Row &row : rows) {
            SCOPED_TRACE(row.what);
            click(keyItem(row.container));
            run("testKey", [](vok_qt::ModalDriver &d) { d.pressButton(); });
            EXPECT_EQ(last().text, row.text);
            EXPECT_EQ(last().informative, row.informative);
            EXPECT_EQ(last().icon, row.icon);
        }
        manager.reset();
        removeCard();
    }
}

TEST_F(CardKeysTest, DeletesTheShownCertificateOrTheWholeContainer)
{
    startWithPin();
    struct Row {
        const char *what;
        QString container;
        bool certificatePage; // reached through the key page's link
        bool expert, confirmed;
        QStringList shape; // the card's key items afterwards
    };
    const QStringList unchanged = {"keys [key]",       "keys-long [keyCert]", "Certifikát [cert]",
                                   "signer [keyCert]", "Certifikát [cert]",   "public only [key]",
                                   "spare [key]"};
    const Row rows[] = {
        {"outside expert mode", "keys-long", false, false, false, unchanged},
        {"cancelled", "keys-long", true, true, false, unchanged},
        {"the certificate alone",
         "keys-long",
         true,
         true,
         true,
         {"keys [key]", "keys-long [key]", "signer [keyCert]", "Certifikát [cert]",
          "public only [key]", "spare [key]"}},
        {"the whole container, its prefix's neighbour kept",
         "keys-long",
         false,
         true,
         true,
         {"keys [key]", "signer [keyCert]", "Certifikát [cert]", "public only [key]",
          "spare [key]"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        if (action("expertMode")->isChecked() != row.expert)
            action("expertMode")->trigger();
        click(keyItem(row.container));
        if (row.certificatePage)
            run("link:toCertificate", [](vok_qt::ModalDriver &) {});
        EXPECT_EQ(tree()->currentItem(), keyItem(row.container)) << "the key item stays current";
        const char *how = row.certificatePage ? "deleteCert" : "deleteKey";
        if (!row.expert) {
            // the menu offers no deletion outside expert mode; the page's link still asks
            EXPECT_FALSE(action(how)->isEnabled());
            run("link:deleteObject", [](vok_qt::ModalDriver &d) { d.pressButton(); });
            EXPECT_EQ(last().text, "Požadovaná operace je přístupná pouze v expertním módu.\n"
                                   "(Menu: Soubor - Expertní mód)");
            EXPECT_EQ(last().title, "Informace"); // a notice, not an error
            EXPECT_EQ(last().icon, QMessageBox::Information);
        } else {
            run(how, [&](vok_qt::ModalDriver &d) {
                d.expect("QMessageBox", [&](QWidget *w) {
                    auto *box = static_cast<QMessageBox *>(w);
                    EXPECT_EQ(static_cast<QAbstractButton *>(box->defaultButton()),
                              box->button(QMessageBox::Cancel));
                    box->button(row.confirmed ? QMessageBox::Ok : QMessageBox::Cancel)->click();
                });
                if (row.confirmed)
                    d.pressButton().enterText(kPin);
            });
            if (row.confirmed) {
                EXPECT_EQ(resultBox().text, "<p align='center'>Objekt byl úspěšně smazán.");
            }
        }
        QStringList keys = shape().mid(2, shape().size() - 3);
        for (QString &line : keys)
            line = line.trimmed();
        EXPECT_EQ(keys, row.shape);
    }
}

// A certificate that left the card behind the window's back (here through a session of
// the test's own) is not reported deleted: the box says it was no longer there, and the
// window reads the card anew, which then shows its key without it.
TEST_F(CardKeysTest, DeletingACertificateAlreadyGoneSaysSoAndReadsTheCardAnew)
{
    struct Language {
        bool english;
        QString title, text, notice;
    };
    const Language languages[] = {
        {false, "Informace", "<p align='center'>Certifikát již na kartě nebyl.",
         "<p align='center'>Z důvodu zachování konzistence dat bude nyní aktualizován obsah "
         "Správce karty."},
        {true, "Information", "<p align='center'>The certificate was no longer on the card.",
         "<p align='center'>Card manager needs to be refreshed to keep data consistent."},
    };
    for (const Language &language : languages) {
        SCOPED_TRACE(language.english ? "en" : "cz");
        if (language.english)
            useEnglish();
        startWithPin();
        action("expertMode")->trigger();
        click(keyItem("signer")->child(0));
        // the certificates are listed by container: "keys-long"'s, then "signer"'s
        const token_test::Bytes gone = certificates.at(1);
        ASSERT_TRUE(pageRows().contains("SHA1: " + factsOf(gone).sha1));
        destroyCertificate(gone);
        run("deleteCert", [&](vok_qt::ModalDriver &d) {
            d.expect("QMessageBox", [](QWidget *w) {
                static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
            });
            d.pressButton().enterText(kPin); // the box, then the reload's PIN
        });
        EXPECT_EQ(resultBox().title, language.title);
        EXPECT_EQ(resultBox().text, language.text);
        EXPECT_EQ(resultBox().informative, language.notice);
        EXPECT_EQ(resultBox().icon, QMessageBox::Information);
        EXPECT_EQ(iconOf(keyItem("signer")), "key") << shape().join("\n").toStdString();
        manager.reset();
        removeCard();
    }
}

// The card deletes whole containers: a key's deletion asks with the container's name,
// each of its keys and each certificate that goes with them, names from the card and the
// certificates escaped; a certificate's deletion keeps its own question, as it takes that
// certificate alone. Nothing is deleted while the confirmation is cancelled.
TEST_F(CardKeysTest, KeyDeletionNamesEverythingItsContainerTakes)
{
    const QString single = "single <i>key</i>";
    cardsim::Personalisation p;
    p.containers = {container("pair", 1024, 1024), container(single.toStdString(), 0, 1024)};
    struct Language {
        bool english;
        QString head, key, certificate, tail, certificateQuestion;
    };
    const Language languages[] = {
        {false,
         "<p>Karta maže vždy celý kontejner klíčů. Smazán bude kontejner <b>%1</b> se vším, co "
         "obsahuje:</p>",
         "<li>klíč %1</li>", "<li>certifikát pro %1, sériové číslo %2</li>",
         "<p>Chcete skutečně smazat tyto objekty z karty?</p>",
         "Chcete skutečně smazat vybraný objekt z karty?"},
        {true,
         "<p>The card always deletes a whole key container. The container <b>%1</b> will be "
         "deleted with everything it holds:</p>",
         "<li>key %1</li>", "<li>certificate for %1, serial number %2</li>",
         "<p>Do you really want to remove these objects from card?</p>",
         "Do you really want to remove selected object from card?"},
    };
    struct Row {
        const char *what;
        QString container;
        int item; // which of the container's key items is shown
        QStringList keys, certificates;
    };
    const Row rows[] = {
        {"two keys, the first shown",
         "pair",
         0,
         {"AT_SIGNATURE, 1024b.", "AT_KEYEXCHANGE, 1024b."},
         {"Test holder - Signature key, CZ|01", "Test holder - Exchange key, CZ|02"}},
        {"two keys, the second shown",
         "pair",
         1,
         {"AT_SIGNATURE, 1024b.", "AT_KEYEXCHANGE, 1024b."},
         {"Test holder - Signature key, CZ|01", "Test holder - Exchange key, CZ|02"}},
        {"one key", single, 0, {"AT_KEYEXCHANGE, 1024b."}, {"Test holder 1 - Exchange key, CZ|04"}},
    };
    for (const Language &language : languages) {
        SCOPED_TRACE(language.english ? "en" : "cz");
        if (language.english)
            useEnglish();
        startWithPin(p);
        const QStringList before = shape();
        action("expertMode")->trigger();
        for (const Row &row : rows) {
            SCOPED_TRACE(row.what);
            QList<QTreeWidgetItem *> items;
            for (int k = 0; k < item({0, 0})->childCount(); ++k)
                if (item({0, 0, k})->text(0) == row.container)
                    items << item({0, 0, k});
            ASSERT_GT(items.size(), row.item);
            click(items[row.item]);
            QString text;
            Qt::TextFormat format = Qt::AutoText;
            run("deleteKey", [&](vok_qt::ModalDriver &d) {
                d.expect("QMessageBox", [&](QWidget *w) {
                    auto *box = static_cast<QMessageBox *>(w);
                    text = box->text();
                    format = box->textFormat();
                    box->button(QMessageBox::Cancel)->click();
                });
            });
            EXPECT_EQ(format, Qt::RichText);
            const QString head = QString(language.head).arg(row.container.toHtmlEscaped());
            EXPECT_TRUE(text.startsWith(head + "<ul>")) << text.toStdString();
            EXPECT_TRUE(text.endsWith("</ul>" + language.tail)) << text.toStdString();
            QStringList expected;
            for (const QString &key : row.keys)
                expected << QString(language.key).arg(key);
            for (const QString &certificate : row.certificates)
                expected << QString(language.certificate)
                                .arg(certificate.section('|', 0, 0), certificate.section('|', 1));
            QStringList listed =
                text.mid(head.size() + 4, text.size() - head.size() - 9 - language.tail.size())
                    .split("</li>", Qt::SkipEmptyParts);
            for (QString &line : listed)
                line += "</li>";
            listed.sort();
            expected.sort();
            EXPECT_EQ(listed, expected);
        }
        // a certificate's own question
        click(item({0, 0, 0, 0}));
        QString question;
        run("deleteCert", [&](vok_qt::ModalDriver &d) {
            d.expect("QMessageBox", [&](QWidget *w) {
                question = static_cast<QMessageBox *>(w)->text();
                static_cast<QMessageBox *>(w)->button(QMessageBox::Cancel)->click();
            });
        });
        EXPECT_EQ(question, language.certificateQuestion);
        EXPECT_EQ(shape(), before);
        manager.reset();
        removeCard();
    }
}

// The card page's free space is the card's own after every change, as a fresh start
// would show it: after an import and after the imported container's deletion.
TEST_F(CardKeysTest, FreeSpaceFollowsAnImportAndItsDeletion)
{
    startWithPin();
    auto shown = [this] {
        click(item({0, 0}));
        return pageRows().filter(QRegularExpression("^Volný prostor: ")).value(0);
    };
    auto onCard = [this] {
        return QString("Volný prostor: %1 B").arg(card->Snapshot().FreeMemory());
    };
    const QString fresh = shown();
    EXPECT_EQ(fresh, onCard());
    QStringList before;
    for (int k = 0; k < item({0, 0})->childCount(); ++k)
        before << item({0, 0, k})->text(0);

    EvpPkeyPtr key = client_test::RsaKey(2048);
    X509Ptr certificate = client_test::Certificate(key.get(), "imported holder");
    const QString path = file("imported.pfx");
    writeFile(path, bytesOf(client_test::Pkcs12(key.get(), certificate.get(), kPassword,
                                                Pkcs12Kind::MODERN)));
    click(item({0, 0}));
    run("importKey", [&](vok_qt::ModalDriver &d) {
        d.chooseFile(path).enterText(kPassword).pressButton().enterText(kPin);
    });
    ASSERT_EQ(resultBox().text, "Klíč byl úspěšně importován.");
    EXPECT_EQ(shown(), onCard());
    EXPECT_NE(shown(), fresh);

    QTreeWidgetItem *imported = nullptr;
    for (int k = 0; k < item({0, 0})->childCount() && imported == nullptr; ++k)
        if (!before.contains(item({0, 0, k})->text(0)))
            imported = item({0, 0, k});
    ASSERT_NE(imported, nullptr);
    action("expertMode")->trigger();
    click(imported);
    run("deleteKey", [&](vok_qt::ModalDriver &d) {
        d.expect("QMessageBox", [](QWidget *w) {
            static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
        });
        d.pressButton().enterText(kPin);
    });
    ASSERT_EQ(resultBox().text, "<p align='center'>Objekt byl úspěšně smazán.");
    EXPECT_EQ(shown(), onCard());
}

// Both keys of one container have their own certificate: each key item shows, exports
// and deletes its own, found by its position in the tree, not by the container's name.
TEST_F(CardKeysTest, EachKeyOfAContainerActsOnItsOwnCertificate)
{
    cardsim::Personalisation p;
    p.containers = {container("pair", 1024, 1024)};
    startWithPin(p);
    ASSERT_EQ(item({0, 0})->childCount(), 2);
    // the certificates are made signature first, serials 1 and 2
    const QString serials[2] = {"Sériové číslo: 01 [1]", "Sériové číslo: 02 [2]"};
    auto specOf = [&](QTreeWidgetItem *key) {
        click(key);
        return pageRows().contains("Typ: AT_SIGNATURE") ? 0 : 1;
    };
    int specs[2] = {specOf(item({0, 0, 0})), specOf(item({0, 0, 1}))};
    ASSERT_NE(specs[0], specs[1]);
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        click(item({0, 0, k}));
        EXPECT_TRUE(pageRows().contains(serials[specs[k]])) << pageRows().join("\n").toStdString();
        click(item({0, 0, k, 0}));
        EXPECT_TRUE(pageRows().contains(serials[specs[k]]));
    }
    action("showDiag")->trigger();
    EXPECT_TRUE(page()->toPlainText().contains("KeyInfo: Type: AT_SIGNATURE\n"
                                               "KeyInfo: Keys: private + public\n"
                                               "KeyInfo: Current key info finished\n"
                                               "CertInfo: Serial: 01\n"))
        << page()->toPlainText().toStdString();

    // the second key item: its certificate and its public key
    const int second = specs[1];
    click(item({0, 0, 1, 0}));
    run("exportCert",
        [&](vok_qt::ModalDriver &d) { d.chooseFile(file("second.cer")).pressButton(); });
    EXPECT_EQ(readFile(file("second.cer")), bytesOf(certificates.at(size_t(second))));
    click(item({0, 0, 1}));
    run("exportKey",
        [&](vok_qt::ModalDriver &d) { d.chooseFile(file("second.der")).pressButton(); });
    const QByteArray keyBytes = readFile(file("second.der"));
    const auto *k = reinterpret_cast<const unsigned char *>(keyBytes.constData());
    EvpPkeyPtr exported(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &k, long(keyBytes.size())));
    EXPECT_EQ(modulusOf(exported.get()), modulusOf(keyOnCard(0, second).get()));

    // deleting its certificate leaves the other key's
    action("expertMode")->trigger();
    click(item({0, 0, 1, 0}));
    run("deleteCert", [&](vok_qt::ModalDriver &d) {
        d.expect("QMessageBox", [](QWidget *w) {
            static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
        });
        d.pressButton().enterText(kPin); // the box, then the reload's PIN
    });
    EXPECT_EQ(resultBox().text, "<p align='center'>Objekt byl úspěšně smazán.");
    ASSERT_EQ(item({0, 0})->childCount(), 2);
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        QTreeWidgetItem *key = item({0, 0, k});
        bool kept = specOf(key) != second;
        EXPECT_EQ(key->childCount(), kept ? 1 : 0);
        if (kept) {
            EXPECT_TRUE(pageRows().contains(serials[1 - second]));
        } else {
            // the container still holds the other key's certificate
            EXPECT_TRUE(page()->toPlainText().contains("Klíč nemá certifikát."))
                << page()->toPlainText().toStdString();
        }
    }
    const cardsim::CardState after = card->Snapshot();
    EXPECT_EQ(after.keys.count({0, 0}) + after.keys.count({0, 1}), 2u) << "both keys stay";
}

TEST_F(CardKeysTest, CertificateDialogOpensFromTheCertificatePage)
{
    startWithPin();
    click(keyItem("signer")->child(0));
    QStringList tabs;
    QString title;
    run("link:showCertview", [&](vok_qt::ModalDriver &d) {
        d.expect("QDialog", [&](QWidget *w) {
            title = w->windowTitle();
            if (auto *tabWidget = w->findChild<QTabWidget *>())
                for (int i = 0; i < tabWidget->count(); ++i)
                    tabs << tabWidget->tabText(i);
            static_cast<QDialog *>(w)->reject();
        });
    });
    EXPECT_EQ(driver.seen().last().className, "Orvane::Certificate::X509Viewer");
    EXPECT_EQ(tabs.size(), 2) << tabs.join(", ").toStdString();
    EXPECT_FALSE(title.isEmpty());
    // the certificate's summary joins the suggestions, as text
    action("suggestSolutions")->trigger();
    EXPECT_TRUE(page()->toPlainText().contains("Test holder"))
        << page()->toPlainText().toStdString();
}

} // namespace
