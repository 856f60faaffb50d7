// How the card manager's operations end, as the card holder sees them, over the real
// card service: the progress notice goes away, the card page shows the card's own
// tries of both secrets, an entry the PIN rules refuse reaches no card at any prompt,
// a card pulled during an operation is reported as removed and no longer shown, and
// the English texts of the operations' boxes.
#include "card_window_fixture.h"

#include <QAbstractButton>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>

#include <atomic>

#include "key_material.h"

using namespace app_test;

namespace
{

const QString kWrongPuk = "87654321";
const QString kNewPuk = "13572468";
const QString kNewPin = "24680";
const char kPassword[] = "heslo 1";
const QString kSerial = "1122334455667788";

// The card in a reader that loses it right after the card has installed an imported
// private key (the key import's last part, the exponent): the next command gets no
// reply, so the link ends and the host sees the card removed.
class PulledAfterKeyImport : public vpcd::CardHandler
{
  public:
    explicit PulledAfterKeyImport(cardsim::Card &card) : card(card) {}
    vpcd::Bytes Atr() override { return card.Atr(); }
    void PowerOn() override { card.PowerOn(); }
    void PowerOff() override { card.PowerOff(); }
    void Reset() override { card.Reset(); }
    void Disconnected() override { card.Disconnected(); }
    vpcd::Bytes Apdu(const vpcd::Bytes &command) override
    {
        if (pulled)
            return {};
        vpcd::Bytes reply = card.Apdu(command);
        if (command.size() > 2 && command[0] == 0xB4 && command[1] == 0x76 && command[2] == 0x06)
            pulled = true;
        return reply;
    }

    std::atomic<bool> pulled{false};

  private:
    cardsim::Card &card;
};

// Chooses the file in a file dialog, as the driver's chooseFile does.
void chooseIn(QWidget *widget, const QString &path)
{
    auto *dialog = static_cast<QFileDialog *>(widget);
    if (QWidget *focused = dialog->focusWidget())
        focused->clearFocus();
    dialog->selectFile(path);
    const QFileInfo file(path);
    if (auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
        name != nullptr && file.absolutePath() == dialog->directory().absolutePath())
        name->setText(file.fileName());
    static_cast<QDialog *>(dialog)->accept();
}

class CardOutcomesTest : public CardWindowTest
{
  protected:
    CardOutcomesTest() { driver.passOver("progressNotice"); }
    ~CardOutcomesTest() override
    {
        manager.reset();
        removeCard(); // before the handler it may link goes
    }

    QMessageBox *notice() { return manager->findChild<QMessageBox *>("progressNotice"); }
    unsigned triesOnCard(size_t index) { return card->Snapshot().pins.at(index).tries; }
    // The value of the card page's row whose label starts so.
    QString row(const QString &label)
    {
        for (const QString &line : pageRows())
            if (line.startsWith(label))
                return line.mid(line.indexOf(": ") + 2);
        ADD_FAILURE() << "no row " << label.toStdString() << " in\n"
                      << pageRows().join("\n").toStdString();
        return QString();
    }
    // A PKCS#12 file with a fresh 2048-bit key pair and its certificate.
    QString pfxFile()
    {
        EvpPkeyPtr key = client_test::RsaKey(2048);
        X509Ptr certificate = client_test::Certificate(key.get(), "imported holder");
        client_test::Bytes bytes = client_test::Pkcs12(key.get(), certificate.get(), kPassword,
                                                       client_test::Pkcs12Kind::MODERN);
        return written("imported.pfx", bytes);
    }
    // A DER certificate file for the key the card holds in that container and spec.
    QString certificateFileOfKey(int container, int spec)
    {
        token_test::Bytes der = card->Snapshot().keys.at({container, spec}).der;
        const unsigned char *p = der.data();
        EvpPkeyPtr key(d2i_AutoPrivateKey(nullptr, &p, long(der.size())));
        EXPECT_NE(key, nullptr);
        X509Ptr certificate = client_test::Certificate(key.get(), "key holder");
        return written("key.cer", client_test::Der(certificate.get()));
    }
    // A file of the test's own with the bytes.
    QString written(const QString &name, const client_test::Bytes &bytes)
    {
        const QString path = home.path() + "/" + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
        return path;
    }
    void pullCard()
    {
        removeCard();
        ASSERT_TRUE(moduleSeesNoCard());
    }
    // The card taken out and put back through the handler, before the window reads it.
    void insertThrough(vpcd::CardHandler &handler)
    {
        pullCard();
        link = std::make_unique<vpcd::VirtualCard>(handler, vpcd::PortOfReader(0));
        ASSERT_TRUE(link->Insert());
        ASSERT_TRUE(WaitCardState(context, kCardReader, true));
    }

    std::unique_ptr<PulledAfterKeyImport> puller;
};

// Each row on a card of its own, in a window of its own: the notice's title is set only
// by the row's operation, and no row depends on what another one did.
TEST_F(CardOutcomesTest, TheProgressNoticeGoesWhenItsOperationEnds)
{
    cardsim::Personalisation withoutCertificate = oneContainer();
    withoutCertificate.containers[0].keys[0].certificate = false;
    QString pfx, cer;
    struct Row {
        const char *what;
        cardsim::Personalisation card;
        std::initializer_list<int> shown; // the item whose page is shown
        const char *how;
        std::function<void(vok_qt::ModalDriver &)> answer;
        QString title; // of the result box
    };
    const Row rows[] = {
        {"PIN change",
         oneContainer(),
         {0, 0},
         "changePin",
         [](vok_qt::ModalDriver &d) {
             d.enterText(kPin).enterText(kNewPin).enterText(kNewPin).pressButton();
         },
         "Úspěch"},
        {"key import",
         oneContainer(),
         {0, 0},
         "importKey",
         [&](vok_qt::ModalDriver &d) {
             // logged in by the read; the reload afterwards asks for the PIN
             d.chooseFile(pfx).enterText(kPassword).pressButton().enterText(kPin);
         },
         "Úspěch"},
        {"failed PIN change",
         oneContainer(),
         {0, 0},
         "changePin",
         [this](vok_qt::ModalDriver &d) {
             d.enterText(kPin).enterText("13579");
             // every reply of the card comes cut short while the change runs
             d.expect("QInputDialog",
                      typeAfter([this] { card->SetFault(cardsim::Fault::Truncate, 1); }, "13579"));
             d.expect("QMessageBox", [this](QWidget *w) {
                 card->SetFault(cardsim::Fault::None);
                 static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
             });
         },
         "Chyba"},
        {"failed certificate import",
         withoutCertificate,
         {0, 0, 0},
         "importCert",
         [&](vok_qt::ModalDriver &d) {
             // the card refuses to write the certificate's file
             card->SetFault(cardsim::Fault::RefuseWrite);
             d.chooseFile(cer).pressButton();
         },
         "Chyba"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        start(row.card);
        reloadWithPin();
        pfx = pfxFile();
        cer = certificateFileOfKey(0, 0);
        ASSERT_EQ(notice()->windowTitle(), QString());
        click(item(row.shown));
        const qsizetype before = driver.seen().size();
        row.answer(driver);
        action(row.how)->trigger();
        ASSERT_TRUE(driver.finished());
        EXPECT_EQ(notice()->windowTitle(), "Zpracovávání") << "the notice was shown";
        EXPECT_FALSE(notice()->isVisible());
        QString title;
        for (const vok_qt::SeenDialog &seen : driver.seen().mid(before))
            if (seen.className == "QMessageBox")
                title = seen.title;
        EXPECT_EQ(title, row.title);
        manager.reset();
        removeCard();
    }
}

TEST_F(CardOutcomesTest, CardPageShowsBothTriesAfterAnUnblocking)
{
    start(oneContainer(), [](cardsim::Card &c) { ASSERT_TRUE(c.SetPinTries(0, 0)); });
    driver.pressButton(); // the blocked PIN's notice instead of a prompt
    reload();
    ASSERT_TRUE(driver.finished());
    click(item({0, 0}));
    // a wrong PUK first costs a try; the right one gives it back
    driver.enterText(kWrongPuk).pressButton().enterText(kPuk);
    driver.enterText(kNewPin).enterText(kNewPin).pressButton();
    action("unblockPin")->trigger();
    ASSERT_TRUE(driver.finished());
    EXPECT_EQ(driver.seen()[2].text, "Byl zadán chybný PUK.");
    EXPECT_EQ(driver.seen().last().text, "PIN byl úspěšně odblokován.");
    ASSERT_EQ(triesOnCard(0), 3u);
    ASSERT_EQ(triesOnCard(1), 5u);
    EXPECT_TRUE(row("Počet pokusů zadání PINu").startsWith("3/"));
    EXPECT_TRUE(row("Počet pokusů zadání PUKu").startsWith("5/"));
}

TEST_F(CardOutcomesTest, ReloadPromptRefusesWhatEveryPromptRefuses)
{
    struct Row {
        const char *what;
        QString entry, refusal;
    };
    const Row rows[] = {
        {"letters", "12a456", "<p align='center'>PIN smí obsahovat pouze číslice."},
        {"longer than the token takes", "123456789",
         "<p align='center'>PIN smí obsahovat nejvýše 8 číslic."},
        {"empty", "", "<p align='center'>PIN musí obsahovat alespoň jednu číslici."},
    };
    start(oneContainer());
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        size_t apdusAtEntry = 0, apdusAtRefusal = 0;
        QString title;
        driver.expect("QInputDialog", [&](QWidget *w) {
            title = w->windowTitle();
            typeAfter([&] { apdusAtEntry = card->ApduCount(); }, row.entry)(w);
        });
        driver.expect("QMessageBox", [&](QWidget *w) {
            apdusAtRefusal = card->ApduCount();
            static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
        });
        driver.enterText(kPin);
        const qsizetype before = driver.seen().size();
        reload();
        ASSERT_TRUE(driver.finished());
        EXPECT_EQ(title, "Ověření PIN");
        EXPECT_EQ(driver.seen()[before + 1].text, row.refusal);
        EXPECT_EQ(driver.seen()[before + 1].icon, QMessageBox::Critical);
        EXPECT_EQ(apdusAtRefusal, apdusAtEntry) << "the card saw the refused entry";
        EXPECT_EQ(triesOnCard(0), 3u);
        EXPECT_EQ(stateOfANewSession(), CKS_RO_USER_FUNCTIONS) << "the PIN after it logged in";
    }
}

TEST_F(CardOutcomesTest, ACardPulledDuringAnOperationIsReportedRemovedAndNoLongerShown)
{
    const QString anyOperation = "<p align='center'>Během operace byla vyjmuta karta ze čtečky.";
    struct Row {
        const char *what;
        std::function<void()> select; // the item whose page is shown
        const char *how;
        std::function<void(vok_qt::ModalDriver &)> answer;
        QString text;
    };
    // A change of a secret on the card's page, the card pulled out as the new value is
    // typed again.
    auto pulledAtTheRepetition = [this](const char *what, const char *how, const QString &presented,
                                        const QString &fresh, const QString &text) {
        return Row{
            what,
            [this] {
                click(item({0, 0}));
            },
            how,
            [this, presented, fresh](vok_qt::ModalDriver &d) {
                d.enterText(presented).enterText(fresh);
                d.expect("QInputDialog", typeAfter([this] { pullCard(); }, fresh)).pressButton();
            },
            text};
    };
    // The same, the card pulled out as the current secret is typed.
    auto pulledAtThePresented = [this](const char *what, const char *how, const QString &presented,
                                       const QString &text) {
        return Row{what,
                   [this] {
                       click(item({0, 0}));
                   },
                   how,
                   [this, presented](vok_qt::ModalDriver &d) {
                       d.expect("QInputDialog", typeAfter([this] { pullCard(); }, presented))
                           .pressButton();
                   },
                   text};
    };
    const QString keyImport =
        "Během importu klíče byla vyjmuta karta. Část klíče mohla zůstat na kartě: zobrazí se "
        "jako kontejner pouze s privátním klíčem, který lze v expertním módu smazat.";
    QString pfx, cer;
    const Row rows[] = {
        pulledAtTheRepetition("PIN change, at the repeated new PIN", "changePin", kPin, kNewPin,
                              "Během změny hodnoty PIN byla vyjmuta karta."),
        pulledAtTheRepetition("PUK change, at the repeated new PUK", "changePuk", kPuk, kNewPuk,
                              "Během změny hodnoty PUK byla vyjmuta karta."),
        pulledAtTheRepetition("PIN unblocking, at the repeated new PIN", "link:unblockPin", kPuk,
                              kNewPin, "Během odblokování PIN byla vyjmuta karta."),
        pulledAtThePresented("PIN change, at the PIN", "changePin", kPin,
                             "Během změny hodnoty PIN byla vyjmuta karta."),
        pulledAtThePresented("PUK change, at the PUK", "changePuk", kPuk,
                             "Během změny hodnoty PUK byla vyjmuta karta."),
        pulledAtThePresented("PIN unblocking, at the PUK", "link:unblockPin", kPuk,
                             "Během odblokování PIN byla vyjmuta karta."),
        {"key import, at the password",
         [&] {
             click(item({0, 0}));
         },
         "importKey",
         [&](vok_qt::ModalDriver &d) {
             d.chooseFile(pfx);
             d.expect("QInputDialog", typeAfter([&] { pullCard(); }, kPassword)).pressButton();
         },
         keyImport},
        {"certificate import, at the file's choice",
         [&] {
             click(item({0, 0, 0}));
         },
         "importCert",
         [&](vok_qt::ModalDriver &d) {
             d.expect("QFileDialog", [&](QWidget *w) {
                 pullCard();
                 chooseIn(w, cer);
             });
             d.pressButton();
         },
         anyOperation},
        {"deletion, at the confirmation",
         [&] {
             action("expertMode")->trigger();
             click(item({0, 0, 0}));
         },
         "deleteKey",
         [&](vok_qt::ModalDriver &d) {
             d.expect("QMessageBox", [&](QWidget *w) {
                 pullCard();
                 static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
             });
             d.pressButton();
         },
         anyOperation},
    };
    // a key without its certificate, so that one can be imported
    cardsim::Personalisation withoutCertificate = oneContainer();
    withoutCertificate.containers[0].keys[0].certificate = false;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        start(withoutCertificate);
        reloadWithPin();
        pfx = pfxFile();
        cer = certificateFileOfKey(0, 0);
        row.select();
        row.answer(driver);
        if (QString how = row.how; how.startsWith("link:"))
            emit page()->anchorClicked(QUrl(how.mid(5)));
        else
            action(row.how)->trigger();
        ASSERT_TRUE(driver.finished());
        const vok_qt::SeenDialog &box = driver.seen().last();
        EXPECT_EQ(box.title, "Chyba");
        EXPECT_EQ(box.text, row.text);
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.informative, "<p align='center'>Z důvodu zachování konzistence dat bude "
                                   "nyní aktualizován obsah Správce karty.");
        EXPECT_FALSE(notice()->isVisible());
        // read anew: the readers without the card
        EXPECT_EQ(shape(),
                  QStringList({"Virtual PCD 00 00 [reader]", "Virtual PCD 00 01 [reader]"}));
        EXPECT_FALSE(page()->toPlainText().contains(kSerial));
        EXPECT_EQ(enabledItemActions(), QStringList());
    }
}

// A card pulled out after the card installed an imported private key, and before the
// rest of the import: nothing can take the key away while the card is gone, so the box
// says what may have stayed and how it shows. The card indeed keeps the private key.
TEST_F(CardOutcomesTest, AKeyImportCutShortSaysWhatMayHaveStayedOnTheCard)
{
    struct Language {
        bool english;
        QString text, notice;
    };
    const Language languages[] = {
        {false,
         "Během importu klíče byla vyjmuta karta. Část klíče mohla zůstat na kartě: zobrazí se "
         "jako kontejner pouze s privátním klíčem, který lze v expertním módu smazat.",
         "<p align='center'>Z důvodu zachování konzistence dat bude nyní aktualizován obsah "
         "Správce karty."},
        {true,
         "Card was removed from reader while importing key. Part of the key may have stayed on "
         "the card: it shows as a container with a private key only, which can be deleted in "
         "Expert mode.",
         "<p align='center'>Card manager needs to be refreshed to keep data consistent."},
    };
    for (const Language &language : languages) {
        SCOPED_TRACE(language.english ? "en" : "cz");
        if (language.english)
            useEnglish();
        start(oneContainer());
        puller = std::make_unique<PulledAfterKeyImport>(*card);
        insertThrough(*puller);
        reloadWithPin();
        const QString pfx = pfxFile();
        click(item({0, 0}));
        driver.chooseFile(pfx).enterText(kPassword);
        // the reload after the box must not find the card the service has not yet seen go
        driver.expect("QMessageBox", [this](QWidget *w) {
            EXPECT_TRUE(moduleSeesNoCard());
            static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
        });
        action("importKey")->trigger();
        ASSERT_TRUE(driver.finished());
        EXPECT_TRUE(puller->pulled);
        const vok_qt::SeenDialog &box = driver.seen().last();
        EXPECT_EQ(box.text, language.text);
        EXPECT_EQ(box.informative, language.notice);
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(shape(),
                  QStringList({"Virtual PCD 00 00 [reader]", "Virtual PCD 00 01 [reader]"}));
        int privateKeys = 0;
        for (const auto &[place, key] : card->Snapshot().keys)
            privateKeys += place.first != 0 && key.form == cardsim::CardKey::Form::Private;
        EXPECT_EQ(privateKeys, 1) << "the imported key stayed";
        manager.reset();
        removeCard();
        puller.reset();
    }
}

TEST_F(CardOutcomesTest, OperationBoxesSpeakEnglish)
{
    useEnglish();
    start(oneContainer());
    reloadWithPin();
    click(item({0, 0}));
    const qsizetype before = driver.seen().size();
    driver.enterText(kWrongPin).pressButton().enterText(kPin);
    driver.enterText(kNewPin).enterText(kNewPin).pressButton();
    action("changePin")->trigger();
    ASSERT_TRUE(driver.finished());
    QStringList boxes;
    for (const vok_qt::SeenDialog &seen : driver.seen().mid(before))
        boxes << seen.title + ": " + seen.text;
    EXPECT_EQ(boxes, QStringList({"PIN verification: Input PIN\nRemaining attempts: 3",
                                  "Error: Wrong PIN entered.",
                                  "PIN verification: Input PIN\nRemaining attempts: 2",
                                  "PIN change: Input new PIN:", "PIN change: Repeat new PIN:",
                                  "Success: PIN was successfully changed."}));
    EXPECT_EQ(notice()->windowTitle(), "Processing");
    EXPECT_EQ(notice()->text(), "<p align='center'>Changing PIN. Please wait.</p>\n");
    EXPECT_EQ(notice()->informativeText(),
              "<p align='center'>Do not remove card from smart card reader.</p");

    // the key export's failure speaks of the key
    click(item({0, 0, 0}));
    driver.chooseFile(home.path() + "/missing/keys.der").pressButton();
    action("exportKey")->trigger();
    ASSERT_TRUE(driver.finished());
    EXPECT_EQ(driver.seen().last().title, "Error");
    EXPECT_EQ(driver.seen().last().text,
              "<p align='center'>Key was not exported. Please make sure you have rights to write "
              "to selected location on disc.");
}

} // namespace
