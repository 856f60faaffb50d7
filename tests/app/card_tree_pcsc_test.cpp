// The reader and card tree, the item pages and the diagnostic report over the real
// card service: the shipped module with a simulated vOK card in the first virtual
// reader (and one in the second where two cards are read), the PIN typed into the
// prompt by the dialog driver.

#include "card_window_fixture.h"

#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QRegularExpression>

#include <atomic>

using namespace app_test;

namespace
{

const QString kHostileName = "exchange <i>%2</i>";

// Four containers: both keys, an exchange key without certificate, only the public half
// of an exchange key, and expired certificates; the certificate files in reversed
// order, so each container shows the certificates of its mirror's keys ("public only"
// none, "both keys" the expired ones); a public and a private data object.
cardsim::Personalisation fullCard()
{
    cardsim::Personalisation p;
    p.containers = {container("both keys", 2048, 1024),
                    container(kHostileName.toStdString(), 0, 1024),
                    container("public only", 0, 1024), container("expired", 1024, 1024)};
    p.containers[1].keys[1].certificate = false;
    p.containers[2].keys[1].publicOnly = true;
    p.containers[3].keys[0].expired = p.containers[3].keys[1].expired = true;
    p.certificatesReversed = true;
    p.files = {token_test::QvP11File("data00",
                                     token_test::EncodedDataObject("public data", {1, 2}, false)),
               token_test::QvP11File(
                   "data01", token_test::EncodedDataObject("private data", {3}, true), true)};
    return p;
}

class CardTreeTest : public CardWindowTest
{
  protected:
    void start(const cardsim::Personalisation &p = fullCard(),
               std::function<void(cardsim::Card &)> shape = nullptr)
    {
        CardWindowTest::start(p, std::move(shape));
    }
};

TEST_F(CardTreeTest, ReloadAsksForThePinUntilItIsRightAndLaysOutTheCard)
{
    struct Row {
        bool english;
        const char *prompt, *wrong, *certificate, *wizard, *expired;
    };
    const Row rows[] = {
        {false,
         "<p align='center'><b>Zadejte prosím PIN pro následující kartu:</b></p><p "
         "align='center'>Čtečka: Virtual PCD 00 00</p><p align='center'>Číslo karty: "
         "1122334455667788</p><p align='center'>Zbývající počet pokusů: ",
         "<p align='center'>Byl zadán chybný PIN.", "Certifikát",
         "Karta rozeznána ve čtečce Virtual PCD 00 00",
         "Certifikátu vydanému Test holder 3 - Exchange key, CZ pro Test holder 3 - Exchange "
         "key, CZ vypršela platnost."},
        {true,
         "<p align='center'><b>Input PIN for following card:</b></p><p align='center'>Reader: "
         "Virtual PCD 00 00</p><p align='center'>Card number: 1122334455667788</p><p "
         "align='center'>Remaining attempts: ",
         "<p align='center'>Wrong PIN was entered.", "Certificate",
         "Card present in reader Virtual PCD 00 00",
         "Certificate issued by Test holder 3 - Exchange key, CZ for Test holder 3 - Exchange "
         "key, CZ has expired. We suggest renewing it."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.english ? "en" : "cz");
        if (row.english)
            useEnglish();
        start();
        QString progressLabel;
        int progressValue = -1;
        const qsizetype before = driver.seen().size();
        driver.enterText(kWrongPin).pressButton().expect("QInputDialog", [&](QWidget *prompt) {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *progress = qobject_cast<QProgressDialog *>(w); progress && w->isVisible())
                    progressLabel = progress->labelText(), progressValue = progress->value();
            auto *input = static_cast<QInputDialog *>(prompt);
            EXPECT_EQ(input->textEchoMode(), QLineEdit::Password);
            input->setTextValue(kPin);
            input->accept();
        });
        reload();
        ASSERT_TRUE(driver.finished());
        const QList<vok_qt::SeenDialog> seen = driver.seen().mid(before);
        ASSERT_EQ(seen.size(), 3);
        EXPECT_EQ(seen[0].title, row.english ? "PIN verification" : "Ověření PIN");
        EXPECT_EQ(seen[0].text, QString::fromUtf8(row.prompt) + "3");
        EXPECT_EQ(seen[1].text, QString::fromUtf8(row.wrong));
        EXPECT_EQ(seen[1].icon, QMessageBox::Critical);
        EXPECT_EQ(seen[2].text, QString::fromUtf8(row.prompt) + "2");
        EXPECT_EQ(progressValue, 33) << "one card: a third of the way at its first step";
        EXPECT_TRUE(progressLabel.endsWith("Virtual PCD 00 00")) << progressLabel.toStdString();

        const QString cert = QString::fromUtf8(row.certificate);
        EXPECT_EQ(shape(), QStringList({
                               "Virtual PCD 00 00 [readerCard]",
                               "  1122334455667788 [card]",
                               "    both keys [keyCert]",
                               "      " + cert + " [cert]",
                               "    both keys [keyCert]",
                               "      " + cert + " [cert]",
                               "    " + kHostileName + " [keyCert]",
                               "      " + cert + " [cert]",
                               "    public only [key]",
                               "    expired [keyCert]",
                               "      " + cert + " [cert]",
                               "    expired [keyCert]",
                               "      " + cert + " [cert]",
                               "Virtual PCD 00 01 [reader]",
                           }));
        EXPECT_TRUE(tree()->topLevelItem(0)->isExpanded());
        // the suggestion page: the card, and the expired certificate of each key item
        // that shows it
        QString wizard = page()->toPlainText();
        EXPECT_TRUE(wizard.contains(QString::fromUtf8(row.wizard)));
        EXPECT_EQ(wizard.count(QString::fromUtf8(row.expired)), 2);
        // nothing is selected: no item action is left on by the walk over the tree
        EXPECT_EQ(enabledItemActions(), QStringList());
        EXPECT_EQ(manager->shownItemOf(CardManager::KeyItem), nullptr);
        EXPECT_TRUE(action("reload")->isEnabled());
        EXPECT_EQ(status()->text(), row.english ? "Done" : "Hotovo");
        EXPECT_EQ(stateOfANewSession(), CKS_RO_USER_FUNCTIONS);
        manager.reset();
        removeCard();
    }
}

// A certificate of `holder` that `issuer` signed, expired a year ago.
Bytes expiredCertificate(const char *issuer, const char *holder)
{
    EVP_PKEY *key = EVP_RSA_gen(1024);
    X509 *x = X509_new();
    auto name = [](const char *commonName) {
        X509_NAME *n = X509_NAME_new();
        X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
        return n;
    };
    X509_NAME *subject = name(holder), *issuerName = name(issuer);
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
    X509_gmtime_adj(X509_getm_notBefore(x), -2 * 365 * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(x), -365 * 86400L);
    X509_set_subject_name(x, subject);
    X509_set_issuer_name(x, issuerName);
    X509_set_pubkey(x, key);
    X509_sign(x, key, EVP_sha256());
    Bytes der(size_t(i2d_X509(x, nullptr)));
    unsigned char *out = der.data();
    i2d_X509(x, &out);
    X509_NAME_free(subject);
    X509_NAME_free(issuerName);
    X509_free(x);
    EVP_PKEY_free(key);
    return der;
}

TEST_F(CardTreeTest, ExpiredCertificateSuggestionNamesItsIssuerAndThenItsHolder)
{
    // markup and a marker in the names stay as they are
    cardsim::Personalisation p;
    p.containers = {container("expired", 0, 1024)};
    p.files = {
        {"mscp", cardsim::CertificateFileName(0, 1),
         cardsim::StoredPacked(expiredCertificate("Issuing CA %1", "Jana <i>Nováková</i>"), 0x3D)}};
    const char *const expected[] = {
        "Certifikátu vydanému Issuing CA %1 pro Jana <i>Nováková</i> vypršela platnost. "
        "Doporučuji nechat si vystavit nový",
        "Certificate issued by Issuing CA %1 for Jana <i>Nováková</i> has expired. We suggest "
        "renewing it.",
    };
    for (bool english : {false, true}) {
        SCOPED_TRACE(english ? "en" : "cz");
        if (english)
            useEnglish();
        start(p);
        reloadWithPin();
        EXPECT_TRUE(page()->toPlainText().contains(QString::fromUtf8(expected[english])))
            << page()->toPlainText().toStdString();
        manager.reset();
        removeCard();
    }
}

TEST_F(CardTreeTest, EachItemPageShowsItsValues)
{
    start();
    reloadWithPin();
    const CertificateFacts expired = certificateWithSerial(8), valid = certificateWithSerial(6);
    const CertificateFacts mirrored = certificateWithSerial(2);
    struct Row {
        const char *what;
        std::initializer_list<int> path;
        QStringList rows;
        QString link; // one of the page's links
    };
    const Row rows[] = {
        {"reader with the card",
         {0},
         {"Název: Virtual PCD 00 00", "Výrobce: Virtual", "Typ: USB Smart Card Reader",
          "Typ komunikace: PC/SC", "Připojeno: USB, Bus 001 Device 003",
          "Název karty: vOK RAL v1.2", "ATR: 3B 0D 80 25 D2 03 10 01 00 56 00 00 00 01 01 "},
         "reload"},
        {"empty reader",
         {1},
         {"Název: Virtual PCD 00 01", "Výrobce: Virtual", "Typ: neznámo", "Typ komunikace: PC/SC",
          "Připojeno: neznámo", "Název karty: neznámo", "ATR: neznámo"},
         "reload"},
        {"card",
         {0, 0},
         {"Číslo karty: 1122334455667788", "Počet pokusů zadání PINu akt./nast.[max. nast]: 3/3[3]",
          "Počet pokusů zadání PUKu akt./nast.[max. nast]: 5/5[5]",
          "Počet kontejnerů použitých/celkem: 5/16",
          "Počet RSA 2048b. klíčů (použitých/celkem): 1/8", "Celkový prostor: 65536 B"},
         "changePin"},
        {"key with a certificate",
         {0, 0, 0},
         {"Název: both keys", "Délka: 1024b.", "Typ: AT_KEYEXCHANGE",
          "Klíče: Privátní i veřejný klíč", "Sériové číslo: 08 [8]",
          "Platnost: " + expired.validity, "Vydal: Test holder 3 - Exchange key, CZ",
          "Pro: Test holder 3 - Exchange key, CZ"},
         "toCertificate"},
        {"key of another spec, the container's first certificate",
         {0, 0, 1},
         {"Název: both keys", "Délka: 2048b.", "Typ: AT_SIGNATURE", "Sériové číslo: 08 [8]"},
         "toCertificate"},
        {"key whose name looks like markup and a marker",
         {0, 0, 2},
         {"Název: " + kHostileName, "Typ: AT_KEYEXCHANGE", "Sériové číslo: 06 [6]",
          "Platnost: " + valid.validity},
         "toCertificate"},
        {"key without certificate",
         {0, 0, 3},
         {"Název: public only", "Délka: 1024b.", "Typ: AT_KEYEXCHANGE",
          "Klíče: Privátní i veřejný klíč"},
         "importCert"},
        {"certificate",
         {0, 0, 0, 0},
         {"Sériové číslo: 08 [8]", "Platnost: " + expired.validity,
          "Vydavatel: Test holder 3 - Exchange key, CZ",
          "Subjekt: Test holder 3 - Exchange key, CZ", "Verze: V3 (0x02)", "SHA1: " + expired.sha1},
         "showCertview"},
        {"a container's second key shows its first certificate",
         {0, 0, 5, 0},
         {"Sériové číslo: 02 [2]", "Subjekt: Test holder - Exchange key, CZ",
          "SHA1: " + mirrored.sha1},
         "exportCert"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        click(item(row.path));
        QStringList shown = pageRows();
        for (const QString &expected : row.rows)
            EXPECT_TRUE(shown.contains(expected))
                << expected.toStdString() << "\nin " << shown.join("\n").toStdString();
        EXPECT_FALSE(
            page()->toPlainText().remove(kHostileName).contains(QRegularExpression("%[0-9]")))
            << "a marker left unfilled";
        EXPECT_TRUE(page()->toHtml().contains("href=\"" + row.link + "\""));
    }
    // a click outside reload adds no report lines
    action("showDiag")->trigger();
    EXPECT_EQ(page()->toPlainText().count("CardInfo: Serial: 1122334455667788"), 1);
}

TEST_F(CardTreeTest, ActionsFollowTheItemKindExpertModeAndABlockedPin)
{
    // the card's secrets: a usable PIN, a blocked PIN, a blocked PIN and PUK
    enum Secrets { Usable = 1, PinBlocked = 2, BothBlocked = 4 };
    struct Row {
        const char *what;
        int secrets; // the states the row holds for
        std::initializer_list<int> path;
        QStringList normal, expert;
    };
    const QStringList cardActions = {"changePin", "changePuk", "importKey"};
    const QStringList blockedCard = {"changePuk", "unblockPin"};
    const int blocked = PinBlocked | BothBlocked;
    const Row rows[] = {
        {"reader", Usable | blocked, {0}, {}, {}},
        {"card", Usable, {0, 0}, cardActions, cardActions},
        {"key with certificate",
         Usable,
         {0, 0, 0},
         {"exportKey", "testKey"},
         {"exportKey", "testKey", "deleteKey"}},
        {"key without certificate",
         Usable,
         {0, 0, 3},
         {"importCert", "exportKey", "testKey"},
         {"importCert", "exportKey", "testKey", "deleteKey"}},
        {"certificate",
         Usable,
         {0, 0, 0, 0},
         {"showCertview", "exportCert"},
         {"showCertview", "exportCert", "deleteCert"}},
        {"blocked: card", PinBlocked, {0, 0}, blockedCard, blockedCard},
        {"both blocked: card, nothing to do with either secret", BothBlocked, {0, 0}, {}, {}},
        {"blocked: key with certificate",
         blocked,
         {0, 0, 0},
         {"exportKey", "testKey"},
         {"exportKey", "testKey"}},
        {"blocked: key without certificate",
         blocked,
         {0, 0, 3},
         {"importCert", "exportKey", "testKey"},
         {"exportKey", "testKey"}},
        {"blocked: certificate",
         blocked,
         {0, 0, 0, 0},
         {"showCertview", "exportCert"},
         {"showCertview", "exportCert"}},
    };
    for (Secrets secrets : {Usable, PinBlocked, BothBlocked}) {
        SCOPED_TRACE(secrets);
        start(fullCard(), [secrets](cardsim::Card &c) {
            if (secrets != Usable)
                c.SetPinTries(0, 0);
            if (secrets == BothBlocked)
                c.SetPinTries(1, 0);
        });
        if (secrets != Usable)
            driver.pressButton(); // the notice that only public objects can be read
        else
            driver.enterText(kPin);
        reload();
        ASSERT_TRUE(driver.finished());
        for (const Row &row : rows) {
            if ((row.secrets & secrets) == 0)
                continue;
            SCOPED_TRACE(row.what);
            QTreeWidgetItem *target = item(row.path);
            click(target);
            EXPECT_EQ(enabledItemActions(), row.normal);
            action("expertMode")->trigger(); // on: the shown item's actions follow
            EXPECT_EQ(enabledItemActions(), row.expert);
            action("expertMode")->trigger();
            EXPECT_EQ(enabledItemActions(), row.normal);
            EXPECT_EQ(manager->shownItemOf(CardManager::ItemKind(CardManager::itemDepth(target))),
                      target);
        }
        manager.reset();
        removeCard();
    }
}

TEST_F(CardTreeTest, BlockedOrRefusedPinsShowThePublicObjectsOnly)
{
    const QStringList publicKeys = {
        "Virtual PCD 00 00 [readerCard]",
        "  1122334455667788 [card]",
        "    both keys [keyCert]",
        "      Certifikát [cert]",
        "    both keys [keyCert]",
        "      Certifikát [cert]",
        "    " + kHostileName + " [keyCert]",
        "      Certifikát [cert]",
        "    public only [key]",
        "    expired [keyCert]",
        "      Certifikát [cert]",
        "    expired [keyCert]",
        "      Certifikát [cert]",
        "Virtual PCD 00 01 [reader]",
    };
    const QString onlyPublic = "<p align='center'>Budou zobrazeny pouze veřejné objekty. Pro "
                               "přístup k privátním objektům je třeba zadat korektní PIN.";
    const QString pinBlocked = "<p align='center'>PIN karty s číslem <b>1122334455667788</b> ve "
                               "čtečce <b>Virtual PCD 00 00</b> je zablokovaný. Dokud PIN "
                               "neodblokujete, nebude možné přistupovat k privátním objektům na "
                               "kartě.</p>";
    const QString bothBlocked =
        "<p align='center'>PIN i PUK karty s číslem <b>1122334455667788</b> "
        "ve čtečce <b>Virtual PCD 00 00</b> jsou zablokovány. Je možné "
        "přistupovat pouze k veřejným objektům na kartě.</p>";
    struct Row {
        const char *what;
        int pinTries, pukTries;
        std::function<void(vok_qt::ModalDriver &)> answer;
        QStringList texts; // of the dialogs, in order
        const char *reported;
        int pinAfter; // the tries left the report gives
    };
    const Row rows[] = {
        {"prompt cancelled",
         3,
         5,
         [](vok_qt::ModalDriver &d) { d.cancel("QInputDialog").pressButton(); },
         {"", onlyPublic},
         "CardInfo: PIN was not entered",
         3},
        {"a wrong PIN, then cancelled",
         3,
         5,
         [](vok_qt::ModalDriver &d) {
             d.enterText(kWrongPin).pressButton().cancel("QInputDialog").pressButton();
         },
         {"", "<p align='center'>Byl zadán chybný PIN.", "", onlyPublic},
         "CardInfo: PIN was not entered",
         2},
        {"empty PIN, then cancelled",
         3,
         5,
         [](vok_qt::ModalDriver &d) {
             d.enterText("").pressButton().cancel("QInputDialog").pressButton();
         },
         {"", "<p align='center'>PIN musí obsahovat alespoň jednu číslici.", "", onlyPublic},
         "CardInfo: PIN was not entered",
         3},
        {"the last try spent",
         1,
         5,
         [](vok_qt::ModalDriver &d) { d.enterText(kWrongPin).pressButton().pressButton(); },
         {"", "<p align='center'>PIN byl zablokován.", pinBlocked},
         "CardInfo: PIN was entered",
         0},
        {"the last try spent, the PUK blocked already",
         1,
         0,
         [](vok_qt::ModalDriver &d) { d.enterText(kWrongPin).pressButton().pressButton(); },
         {"", "<p align='center'>PIN byl zablokován.", bothBlocked},
         "CardInfo: PIN was entered",
         0},
        {"PIN blocked", 0, 5, [](vok_qt::ModalDriver &d) { d.pressButton(); }, {pinBlocked}, "", 0},
        {"PIN and PUK blocked",
         0,
         0,
         [](vok_qt::ModalDriver &d) { d.pressButton(); },
         {bothBlocked},
         "",
         0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        start(fullCard(), [&row](cardsim::Card &c) {
            c.SetPinTries(0, static_cast<unsigned char>(row.pinTries));
            c.SetPinTries(1, static_cast<unsigned char>(row.pukTries));
        });
        const qsizetype before = driver.seen().size();
        row.answer(driver);
        reload();
        EXPECT_TRUE(driver.finished());
        QStringList texts;
        for (const vok_qt::SeenDialog &seen : driver.seen().mid(before))
            texts << (seen.className == "QInputDialog" ? QString() : seen.text);
        EXPECT_EQ(texts, row.texts);
        EXPECT_EQ(shape(), publicKeys);
        click(item({0, 0, 0}));
        EXPECT_TRUE(pageRows().contains("Klíče: Pouze veřejný klíč"));
        // the card's page offers what the card's secrets still allow
        click(item({0, 0}));
        const bool pinBlocked = row.pinAfter == 0, bothBlocked = pinBlocked && row.pukTries == 0;
        EXPECT_EQ(page()->toHtml().contains("href=\"unblockPin\""), pinBlocked && !bothBlocked);
        EXPECT_EQ(page()->toHtml().contains("href=\"changePuk\""), !bothBlocked);
        EXPECT_EQ(page()->toPlainText().contains("PIN i PUK karty jsou zablokovány. Tento program "
                                                 "je nemůže odblokovat."),
                  bothBlocked);
        action("showDiag")->trigger();
        QString report = page()->toPlainText();
        // one line of what became of the prompt, when there was one
        EXPECT_EQ(report.count(QRegularExpression("CardInfo: PIN was (not )?entered")),
                  *row.reported ? 1 : 0);
        if (*row.reported) {
            EXPECT_TRUE(report.contains(row.reported));
        }
        EXPECT_FALSE(report.contains("CardInfo: PIN was verified"));
        // tries left / try limit [try limit]
        EXPECT_TRUE(report.contains(QString("CardInfo: PIN: %1/3[3]\n").arg(row.pinAfter)));
        EXPECT_TRUE(report.contains(QString("CardInfo: PUK: %1/5[5]\n").arg(row.pukTries)));
        EXPECT_TRUE(report.contains("KeyInfo: Keys: public"));
        EXPECT_EQ(stateOfANewSession(), CKS_RO_PUBLIC_SESSION);
        manager.reset();
        removeCard();
    }
}

TEST_F(CardTreeTest, BothBlockedNoticeSaysInEnglishThatPinAndPukAreBlocked)
{
    useEnglish();
    start(fullCard(), [](cardsim::Card &c) {
        c.SetPinTries(0, 0);
        c.SetPinTries(1, 0);
    });
    driver.pressButton();
    reload();
    ASSERT_TRUE(driver.finished());
    EXPECT_EQ(driver.seen().last().title, "Warning");
    EXPECT_EQ(driver.seen().last().text,
              "<p align='center'>PIN and PUK of card with number <b>1122334455667788</b> in "
              "reader <b>Virtual PCD 00 00</b> are blocked. It is possible to access only public "
              "objects on card.</p>");
}

TEST_F(CardTreeTest, CancelledReadKeepsWhatItHasAndClosesItsSessions)
{
    struct Row {
        const char *what;
        bool afterPin;
        QStringList shape;
    };
    const Row rows[] = {
        {"at the first step", false, {}},
        {"after the PIN",
         true,
         {"Virtual PCD 00 00 [readerCard]", "  1122334455667788 [card]",
          "Virtual PCD 00 01 [reader]"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        start();
        manager->setProgressDelay(100); // time for the driver to press Cancel
        if (row.afterPin)
            driver.enterText(kPin);
        driver.cancelProgress();
        reload();
        ASSERT_TRUE(driver.finished());
        EXPECT_EQ(shape(), row.shape);
        QString wizard = page()->toPlainText();
        EXPECT_TRUE(wizard.contains("Načítání dat bylo přerušeno uživatelem."))
            << wizard.toStdString();
        EXPECT_TRUE(page()->toHtml().contains("href=\"reload\""));
        EXPECT_EQ(stateOfANewSession(), CKS_RO_PUBLIC_SESSION)
            << "no half-read card stays logged in";
        EXPECT_TRUE(action("reload")->isEnabled());
        action("showDiag")->trigger();
        EXPECT_FALSE(page()->toPlainText().contains("Update not called by the user"));
        manager.reset();
        removeCard();
    }
}

// A refresh (F5) of a card that was read and shown, pulled out at the PIN prompt: the
// load error, and no item or page of the card is left to act on.
TEST_F(CardTreeTest, CardRemovedDuringTheReadEndsItWithTheLoadError)
{
    start();
    reloadWithPin();
    click(item({0, 0}));
    ASSERT_EQ(enabledItemActions(), QStringList({"changePin", "changePuk", "importKey"}));
    driver.expect("QInputDialog", typeAfter([this] { removeCard(); }, kPin));
    driver.pressButton();
    const qsizetype before = driver.seen().size();
    reload();
    ASSERT_TRUE(driver.finished());
    const QList<vok_qt::SeenDialog> seen = driver.seen().mid(before);
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[1].title, "Chyba");
    EXPECT_EQ(seen[1].text, "<p align='center'>Během načítání se vyskytla chyba.");
    EXPECT_EQ(seen[1].informative,
              "<p align='center'>Pravděpodobně byla karta odpojena od čtečky.");
    EXPECT_EQ(seen[1].icon, QMessageBox::Critical);
    EXPECT_EQ(shape(), QStringList({"Virtual PCD 00 00 [reader]", "Virtual PCD 00 01 [reader]"}));
    EXPECT_TRUE(page()->toPlainText().contains(
        "Při načítání dat z karty se vyskytla chyba. Doporučuji opětovně načíst data z karty"));
    // the reader's page and the report show no card
    click(item({0}));
    EXPECT_TRUE(pageRows().contains("Název karty: neznámo")) << pageRows().join("\n").toStdString();
    EXPECT_TRUE(pageRows().contains("ATR: neznámo"));
    action("showDiag")->trigger();
    EXPECT_FALSE(page()->toPlainText().contains("CardInfo:"))
        << page()->toPlainText().toStdString();

    // the next read finds the reader empty
    ASSERT_TRUE(moduleSeesNoCard());
    reload();
    EXPECT_EQ(shape(), QStringList({"Virtual PCD 00 00 [reader]", "Virtual PCD 00 01 [reader]"}));
    EXPECT_TRUE(page()->toPlainText().contains("Nebyla nalezena žádná karta"));
}

// Two cards read, then a refresh (F5) with the second one pulled out at its PIN prompt,
// the prompt answered or cancelled: the load error, and the second reader shows no
// card; the first card stays as read, its session logged in, so that its key test
// works without a new read.
TEST_F(CardTreeTest, CardPulledDuringTheReadLeavesTheCardsReadBeforeItWorking)
{
    driver.passOver("progressNotice");
    cardsim::Personalisation first;
    first.containers = {container("signer", 1024, 0)};
    cardsim::Personalisation second = first;
    second.serial.back() = 0x99;
    const QStringList firstCard = {
        "Virtual PCD 00 00 [readerCard]",
        "  1122334455667788 [card]",
        "    signer [keyCert]",
        "      Certifikát [cert]",
    };
    for (bool cancelled : {false, true}) {
        SCOPED_TRACE(cancelled ? "prompt cancelled" : "PIN entered");
        insertSecondCard(second);
        start(first);
        driver.enterText(kPin).enterText(kPin);
        reload();
        ASSERT_TRUE(driver.finished());
        ASSERT_EQ(shape(),
                  firstCard +
                      QStringList({"Virtual PCD 00 01 [readerCard]", "  1122334455667799 [card]",
                                   "    signer [keyCert]", "      Certifikát [cert]"}));

        driver.enterText(kPin).expect("QInputDialog", [&](QWidget *prompt) {
            removeSecondCard();
            auto *input = static_cast<QInputDialog *>(prompt);
            input->setTextValue(kPin);
            cancelled ? input->reject() : input->accept();
        });
        if (cancelled)
            driver.pressButton(); // only the public objects are shown
        driver.pressButton();
        reload();
        ASSERT_TRUE(driver.finished());
        EXPECT_EQ(driver.seen().last().text, "<p align='center'>Během načítání se vyskytla chyba.");
        EXPECT_EQ(shape(), firstCard + QStringList({"Virtual PCD 00 01 [reader]"}));
        EXPECT_TRUE(item({0, 0})->isExpanded());
        click(item({1}));
        EXPECT_TRUE(pageRows().contains("Název karty: neznámo"))
            << pageRows().join("\n").toStdString();
        EXPECT_TRUE(pageRows().contains("ATR: neznámo"));
        // the report: the first card's lines, whole; none of the second
        action("showDiag")->trigger();
        const QString report = page()->toPlainText();
        EXPECT_EQ(report.count("CardInfo: Name: "), 1) << report.toStdString();
        EXPECT_TRUE(report.contains("CardInfo: PIN was verified\n"
                                    "CardInfo: Serial: 1122334455667788\n"));
        EXPECT_TRUE(report.contains("KeyInfo: Name: signer\n"));
        EXPECT_TRUE(report.contains("CertInfo: Current certificate info finished\n"
                                    "ReaderInfo: Name: Virtual PCD 00 01\n"));
        EXPECT_FALSE(report.contains("1122334455667799"));

        click(item({0, 0, 0}));
        const qsizetype before = driver.seen().size();
        driver.pressButton();
        action("testKey")->trigger();
        ASSERT_TRUE(driver.finished());
        ASSERT_EQ(driver.seen().size(), before + 1) << "a box of a lost connection";
        EXPECT_EQ(driver.seen().last().text, "Klíče jsou v pořádku.");
        EXPECT_EQ(stateOfANewSession(), CKS_RO_USER_FUNCTIONS);
        manager.reset();
        removeCard();
    }
}

// The card itself, except that it answers one PIN verify, once armed, with 6F 00: a
// fault it gives no reason for, the card staying in its reader.
class FaultyVerify : public vpcd::CardHandler
{
  public:
    explicit FaultyVerify(const std::unique_ptr<cardsim::Card> &card) : card(card) {}
    void arm() { armed = true; }
    Bytes Atr() override { return card->Atr(); }
    void PowerOn() override { card->PowerOn(); }
    void PowerOff() override { card->PowerOff(); }
    void Reset() override { card->Reset(); }
    void Disconnected() override { card->Disconnected(); }
    Bytes Apdu(const Bytes &command) override
    {
        // B0 20, or B4 20 in a secure session, with the PIN
        bool verify = command.size() > 5 && (command[0] | 0x04) == 0xB4 && command[1] == 0x20;
        if (verify && armed.exchange(false))
            return {0x6F, 0x00};
        return card->Apdu(command);
    }

  private:
    const std::unique_ptr<cardsim::Card> &card;
    std::atomic<bool> armed{false};
};

// A refresh of a card that was read, its log-in at the PIN prompt failing for a fault
// of the card, which stays in its reader: the load error, and the card's items go; the
// next read finds it.
TEST_F(CardTreeTest, LogInFailingOnTheCardEndsTheReadWithTheLoadError)
{
    auto *faulty = new FaultyVerify(card);
    front.reset(faulty);
    start();
    reloadWithPin();
    ASSERT_EQ(item({0})->childCount(), 1);
    driver.expect("QInputDialog", typeAfter([faulty] { faulty->arm(); }, kPin));
    driver.pressButton();
    const qsizetype before = driver.seen().size();
    reload();
    ASSERT_TRUE(driver.finished());
    const QList<vok_qt::SeenDialog> seen = driver.seen().mid(before);
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[1].text, "<p align='center'>Během načítání se vyskytla chyba.");
    EXPECT_EQ(seen[1].icon, QMessageBox::Critical);
    EXPECT_EQ(shape(), QStringList({"Virtual PCD 00 00 [reader]", "Virtual PCD 00 01 [reader]"}));
    EXPECT_TRUE(link->Inserted());

    reloadWithPin();
    EXPECT_EQ(shape().mid(0, 2),
              QStringList({"Virtual PCD 00 00 [readerCard]", "  1122334455667788 [card]"}));
}

TEST_F(CardTreeTest, DiagnosticReportIsShownSavedAndCopied)
{
    start();
    action("showDiag")->trigger();
    QString before = page()->toPlainText();
    EXPECT_TRUE(before.contains("Update not called by the user"));
    EXPECT_TRUE(
        before.contains("CardInfo: Name: vOK RAL v1.2\nCardInfo: ATR: 3B 0D 80 25 D2 03 10 "
                        "01 00 56 00 00 00 01 01 \nCardInfo: Reload was not called by user"));

    reloadWithPin();
    click(item({0, 0}));
    const QStringList cardRows = pageRows().filter(QRegularExpression("^Volný prostor: [0-9]+ B$"));
    ASSERT_EQ(cardRows.size(), 1);
    const QString freeSpace = cardRows[0].section(' ', 2, 2);
    action("showDiag")->trigger();
    EXPECT_EQ(enabledItemActions(), QStringList());
    const CertificateFacts expired = certificateWithSerial(8);
    const QString expectedStart = "-------------------- GENERAL INFORMATION --------------------\n"
                                  "Date and time: ";
    const QStringList general = {
        "Computer: " + QSysInfo::machineHostName(),
        "OS: " + QSysInfo::prettyProductName(),
        "SystemBitness: 64",
        "ProgramInfo: 1.1 " + QSysInfo::buildCpuArchitecture(),
        "Installed smart card readers (PC/SC):\n-> Virtual PCD 00 00\n-> Virtual PCD 00 01\n"
        "-------------------- TECHNICAL DETAILS -----------------------------",
        "TechInfo: Current program path: " + QCoreApplication::applicationFilePath(),
        "TechInfo: Current program version: 1.1",
        "TechInfo: pkcs#11 library path: " + QString(VOK_MODULE),
        "TechInfo: pkcs#11 library version: 0.3",
        "TechInfo: Current language file: default (Czech)",
        "TechInfo: Log file: " + QString::fromStdString(traceLog),
    };
    const QString firstReader =
        "-------------------- READER DETAILS -----------------------------\n"
        "ReaderInfo: Name: Virtual PCD 00 00\n"
        "ReaderInfo: Vendor: Virtual\n"
        "ReaderInfo: Type: USB Smart Card Reader\n"
        "ReaderInfo: Communication: PC/SC\n"
        "ReaderInfo: Connected: USB, Bus 001 Device 003\n"
        "CardInfo: Name: vOK RAL v1.2\n"
        "CardInfo: ATR: 3B 0D 80 25 D2 03 10 01 00 56 00 00 00 01 01 \n"
        "CardInfo: PIN was entered\n"
        "CardInfo: PIN was verified\n"
        "CardInfo: Serial: 1122334455667788\n"
        "CardInfo: PIN: 3/3[3]\n"
        "CardInfo: PUK: 5/5[5]\n"
        "CardInfo: Containers: 5/16\n"
        "CardInfo: Keys: 1/8\n"
        "CardInfo: FreeSpace: " +
        freeSpace +
        "\n"
        "CardInfo: TotalSpace: 65536\n"
        "KeyInfo: Name: both keys\n"
        "KeyInfo: Size: 1024\n"
        "KeyInfo: Type: AT_KEYEXCHANGE\n"
        "KeyInfo: Keys: private + public\n"
        "KeyInfo: Current key info finished\n"
        "CertInfo: Serial: 08\n"
        "CertInfo: Validity: " +
        expired.validity +
        "\n"
        "CertInfo: Issuer: Test holder 3 - Exchange key, CZ\n"
        "CertInfo: Subject: Test holder 3 - Exchange key, CZ\n"
        "CertInfo: Version: V3 (0x02)\n"
        "CertInfo: sha1: " +
        expired.sha1 +
        "\n"
        "CertInfo: Current certificate info finished\n"
        "KeyInfo: Name: both keys\n"
        "KeyInfo: Size: 2048\n";
    const QString lastReader = "ReaderInfo: Name: Virtual PCD 00 01\n"
                               "ReaderInfo: Vendor: Virtual\n"
                               "ReaderInfo: Type: unknown\n"
                               "ReaderInfo: Communication: PC/SC\n"
                               "ReaderInfo: Connected: unknown\n"
                               "Diagnostic info ended";
    QString shown = page()->toPlainText();
    EXPECT_TRUE(shown.contains(expectedStart));
    for (const QString &line : general)
        EXPECT_TRUE(shown.contains(line + "\n")) << line.toStdString();
    EXPECT_TRUE(shown.contains(firstReader)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(lastReader));
    EXPECT_TRUE(shown.contains("KeyInfo: Name: " + kHostileName + "\n")) << "shown as it is";
    EXPECT_FALSE(shown.contains("Update not called by the user"));

    // saved with ".txt" added, as UTF-8 text without breaks; the page stays
    const QString saved = home.path() + "/report";
    driver.chooseFile(saved).pressButton();
    action("saveDiag")->trigger();
    ASSERT_TRUE(driver.finished());
    EXPECT_EQ(driver.seen().last().text, "Diagnostické informace byly úspěšně uloženy.");
    QFile file(saved + ".txt");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.startsWith(expectedStart));
    EXPECT_TRUE(text.contains(firstReader));
    EXPECT_TRUE(text.endsWith(lastReader));
    EXPECT_FALSE(text.contains("<br>"));
    EXPECT_TRUE(page()->toPlainText().contains(lastReader));

    // copied by the page's link
    driver.pressButton();
    emit page()->anchorClicked(QUrl("toClipboard"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);

    // a place that cannot be written says so, and so does a full disk, which fails
    // only when the written text is flushed
    const QString full = home.path() + "/full.txt";
    ASSERT_TRUE(QFile::link("/dev/full", full));
    for (const QString &path : {home.path() + "/missing/report.txt", full}) {
        SCOPED_TRACE(path.toStdString());
        driver
            .expect("QFileDialog",
                    [&](QWidget *w) {
                        // as chooseFile, without asking to replace the existing name
                        auto *dialog = static_cast<QFileDialog *>(w);
                        dialog->setOption(QFileDialog::DontConfirmOverwrite);
                        if (QWidget *focused = dialog->focusWidget())
                            focused->clearFocus();
                        dialog->selectFile(path);
                        const QFileInfo chosen(path);
                        if (auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
                            name != nullptr &&
                            chosen.absolutePath() == dialog->directory().absolutePath())
                            name->setText(chosen.fileName());
                        static_cast<QDialog *>(dialog)->accept();
                    })
            .pressButton();
        action("saveDiag")->trigger();
        ASSERT_TRUE(driver.finished());
        EXPECT_EQ(driver.seen().last().title, "Chyba");
        EXPECT_EQ(driver.seen().last().icon, QMessageBox::Critical);
    }
}

} // namespace
