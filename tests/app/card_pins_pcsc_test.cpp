// The PIN operations of the card manager over the real card service: PIN change, PUK
// change, and a PIN blocked by wrong entries then unblocked with the PUK, driven
// through the menus and the card page's links; each confirmed by the card's own
// secrets and counters and by a fresh log-in through the module. Entries that break
// the PIN rules are refused before the card sees them.
#include "card_window_fixture.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QThread>

#include <functional>

using namespace app_test;

namespace
{

class CardPinsTest : public CardWindowTest
{
  protected:
    CardPinsTest() { driver.passOver("progressNotice"); }

    // The card read with its PIN and its page shown.
    void startOnCardPage(std::function<void(cardsim::Card &)> shape = nullptr)
    {
        start(oneContainer(), std::move(shape));
        reloadWithPin();
        click(item({0, 0}));
    }
    // A secret of the card (0 the PIN, 1 the PUK) as the card holds it.
    std::string secretOnCard(size_t index)
    {
        cardsim::Bytes value = card->Snapshot().pins.at(index).value;
        std::string text(value.begin(), value.end());
        return text.substr(0, text.find('\xff'));
    }
    unsigned triesOnCard(size_t index) { return card->Snapshot().pins.at(index).tries; }
    unsigned pinCounter()
    {
        cardsim::Card::Counters counters;
        EXPECT_TRUE(card->ReadCounters(counters));
        return counters.pin;
    }
    // Closes the window, then logs in through the module in a session of the test's own.
    CK_RV freshLogin(CK_USER_TYPE user, const QString &secret)
    {
        manager.reset(); // finalises the module
        void *module = dlopen(VOK_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
        CK_FUNCTION_LIST_PTR f = nullptr;
        EXPECT_EQ(get(&f), CKR_OK);
        EXPECT_EQ(f->C_Initialize(nullptr), CKR_OK);
        CK_SLOT_ID ids[4];
        CK_ULONG count = 4;
        EXPECT_EQ(f->C_GetSlotList(CK_TRUE, ids, &count), CKR_OK);
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(f->C_OpenSession(ids[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                   &session),
                  CKR_OK);
        QByteArray bytes = secret.toUtf8();
        CK_RV rv = f->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR_PTR>(bytes.data()),
                              CK_ULONG(bytes.size()));
        f->C_CloseSession(session);
        f->C_Finalize(nullptr);
        return rv;
    }
    // The texts of the dialogs met since `before`; an input dialog as "? " + its label.
    QStringList textsSince(qsizetype before)
    {
        QStringList texts;
        for (const vok_qt::SeenDialog &seen : driver.seen().mid(before))
            texts << (seen.className == "QInputDialog" ? "? " + seen.text : seen.text);
        return texts;
    }
    // No input dialog of the window still holds an entry.
    void expectNoEntryLeft()
    {
        for (QInputDialog *dialog : manager->findChildren<QInputDialog *>()) {
            EXPECT_EQ(dialog->textValue(), QString());
            for (QLineEdit *line : dialog->findChildren<QLineEdit *>())
                EXPECT_EQ(line->text(), QString());
        }
    }
    void run(const QString &how)
    {
        if (how.startsWith("link:")) {
            ASSERT_TRUE(page()->toHtml().contains("href=\"" + how.mid(5) + "\""));
            emit page()->anchorClicked(QUrl(how.mid(5)));
        } else {
            action(how.toLatin1().constData())->trigger();
        }
    }
    // Presses OK on the box after noting the rows of the page behind it.
    void okNotingThePage(vok_qt::ModalDriver &d, QStringList &noted)
    {
        d.expect("QMessageBox", [this, &noted](QWidget *w) {
            noted = pageRows();
            static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
        });
    }
    bool traceHolds(const QString &text)
    {
        for (const std::string &line : client_test::TraceLines(traceLog))
            if (QString::fromStdString(line).contains(text))
                return true;
        return false;
    }

    QStringList pageBehindTheBox;
    QStringList pageBehindTheRefusal;
};

TEST_F(CardPinsTest, ChangesAndUnblocksAreMadeOnTheCard)
{
    const QString newPin = "24680", newPuk = "87654321", wrongPuk = "11111111";
    const QString pinPrompt = "? Zadejte PIN\nZbývající počet pokusů: ";
    const QString pukPrompt = "? Zadejte PUK\nZbývající počet pokusů: ";
    struct Row {
        const char *what;
        QStringList how; // actions by name, or "link:" and a page's link, in turn
        std::function<void(vok_qt::ModalDriver &)> answer;
        QStringList texts;
        CK_USER_TYPE user;
        QString secret;  // the user's secret afterwards
        size_t index;    // its place on the card
        unsigned tries;  // of the user PIN afterwards
        QString refused; // the page's row behind the box of the first wrong entry, if any
    };
    const Row rows[] = {
        // a wrong secret first: the page shows one try less until the change
        {"PIN change from the menu",
         {"changePin"},
         [&](vok_qt::ModalDriver &d) {
             d.enterText(kWrongPin);
             okNotingThePage(d, pageBehindTheRefusal);
             d.enterText(kPin).enterText(newPin).enterText(newPin);
             okNotingThePage(d, pageBehindTheBox);
         },
         {pinPrompt + "3", "Byl zadán chybný PIN.", pinPrompt + "2",
          "? Zadejte nový PIN:", "? Zopakujte nový PIN:", "PIN byl úspěšně změněn."},
         CKU_USER,
         newPin,
         0,
         3,
         "Počet pokusů zadání PINu akt./nast.[max. nast]: 2/3[3]"},
        {"PUK change from the page",
         {"link:changePuk"},
         [&](vok_qt::ModalDriver &d) {
             d.enterText(wrongPuk);
             okNotingThePage(d, pageBehindTheRefusal);
             d.enterText(kPuk).enterText(newPuk).enterText(newPuk);
             okNotingThePage(d, pageBehindTheBox);
         },
         {pukPrompt + "5", "Byl zadán chybný PUK.", pukPrompt + "4",
          "? Zadejte nový PUK:", "? Zopakujte nový PUK:", "PUK byl úspěšně změněn."},
         CKU_SO,
         newPuk,
         1,
         3,
         "Počet pokusů zadání PUKu akt./nast.[max. nast]: 4/5[5]"},
        {"PIN blocked by three wrong entries, then unblocked with the PUK",
         {"changePin", "link:unblockPin"},
         [&](vok_qt::ModalDriver &d) {
             d.enterText(kWrongPin).pressButton().enterText(kWrongPin).pressButton();
             d.enterText(kWrongPin).pressButton();
             d.enterText(kPuk).enterText(newPin).enterText(newPin);
             okNotingThePage(d, pageBehindTheBox);
         },
         {pinPrompt + "3", "<p align='center'>Byl zadán chybný PIN.", pinPrompt + "2",
          "<p align='center'>Byl zadán chybný PIN.", pinPrompt + "1",
          "<p align='center'>PIN byl zablokován.", pukPrompt + "5",
          "? Zadejte nový PIN:", "? Zopakujte nový PIN:", "PIN byl úspěšně odblokován."},
         CKU_USER,
         newPin,
         0,
         3,
         ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        startOnCardPage();
        const unsigned counterBefore = pinCounter();
        const qsizetype before = driver.seen().size();
        row.answer(driver);
        for (const QString &how : row.how)
            run(how); // a blocked PIN: the card's page offers the unblocking
        ASSERT_TRUE(driver.finished());
        QStringList texts = textsSince(before);
        for (QString &text : texts)
            text.remove("<p align='center'>", Qt::CaseSensitive);
        QStringList expected = row.texts;
        for (QString &text : expected)
            text.remove("<p align='center'>", Qt::CaseSensitive);
        EXPECT_EQ(texts, expected);
        if (!row.refused.isEmpty()) {
            EXPECT_TRUE(pageBehindTheRefusal.contains(row.refused))
                << pageBehindTheRefusal.join("\n").toStdString();
        }
        EXPECT_EQ(driver.seen().last().title, "Úspěch");
        EXPECT_EQ(driver.seen().last().icon, QMessageBox::Information);
        EXPECT_EQ(secretOnCard(row.index), row.secret.toStdString());
        EXPECT_EQ(triesOnCard(0), row.tries);
        EXPECT_GT(pinCounter(), counterBefore);
        // the card page shows the refreshed tries, already behind the success box
        for (const QStringList &rows : {pageBehindTheBox, pageRows()}) {
            EXPECT_TRUE(rows.contains("Počet pokusů zadání PINu akt./nast.[max. nast]: 3/3[3]"))
                << rows.join("\n").toStdString();
            EXPECT_TRUE(rows.contains("Počet pokusů zadání PUKu akt./nast.[max. nast]: 5/5[5]"));
        }
        expectNoEntryLeft();
        EXPECT_FALSE(traceHolds(row.secret));
        EXPECT_EQ(freshLogin(row.user, row.secret), CKR_OK);
        removeCard();
    }
}

TEST_F(CardPinsTest, EntriesBreakingTheRulesNeverReachTheCard)
{
    // Each row: the operation, the entries up to the refused one, its message; then the
    // prompt that follows is cancelled.
    struct Row {
        const char *what;
        const char *how;
        QStringList entries; // the last one is refused
        QString refusal;
        QString promptAfter; // the label of the prompt asked next
    };
    const Row rows[] = {
        {"current PIN with a letter",
         "changePin",
         {"12a456"},
         "<p align='center'>PIN smí obsahovat pouze číslice.",
         "Zadejte PIN\nZbývající počet pokusů: 3"},
        {"current PIN longer than the token takes",
         "changePin",
         {"123456789"},
         "<p align='center'>PIN smí obsahovat nejvýše 8 číslic.",
         "Zadejte PIN\nZbývající počet pokusů: 3"},
        {"empty PUK",
         "changePuk",
         {""},
         "<p align='center'>PUK musí obsahovat alespoň jednu číslici.",
         "Zadejte PUK\nZbývající počet pokusů: 5"},
        {"new PIN of four digits",
         "changePin",
         {kPin, "1234"},
         "<p align='center'>Nový PIN musí obsahovat alespoň pět číslic.",
         "Zadejte nový PIN:"},
        {"new PIN with a blank",
         "changePin",
         {kPin, "12 345"},
         "<p align='center'>PIN smí obsahovat pouze číslice.",
         "Zadejte nový PIN:"},
        {"new PUK of seven digits",
         "changePuk",
         {kPuk, "1234567"},
         "<p align='center'>Nový PUK musí obsahovat alespoň osm číslic.",
         "Zadejte nový PUK:"},
        {"repeated new PIN differs",
         "changePin",
         {kPin, "13579", "13570"},
         "Zadané hodnoty nového PINu se neshodují.",
         "Zadejte nový PIN:"},
    };
    startOnCardPage();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const size_t triesBefore = triesOnCard(0) + triesOnCard(1);
        const std::string pinBefore = secretOnCard(0), pukBefore = secretOnCard(1);
        size_t apdusAtLastEntry = 0, apdusAtRefusal = 0;
        for (int i = 0; i < row.entries.size(); ++i) {
            const QString text = row.entries[i];
            const bool last = i + 1 == row.entries.size();
            driver.expect("QInputDialog", [this, text, last, &apdusAtLastEntry](QWidget *w) {
                if (last)
                    apdusAtLastEntry = card->ApduCount();
                auto *input = static_cast<QInputDialog *>(w);
                input->setTextValue(text);
                input->accept();
            });
        }
        driver.expect("QMessageBox", [this, &apdusAtRefusal](QWidget *w) {
            apdusAtRefusal = card->ApduCount();
            static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
        });
        QString promptAfter;
        driver.expect("QInputDialog", [&promptAfter](QWidget *w) {
            promptAfter = static_cast<QInputDialog *>(w)->labelText();
            static_cast<QInputDialog *>(w)->reject();
        });
        action(row.how)->trigger();
        ASSERT_TRUE(driver.finished());
        const vok_qt::SeenDialog refusal = driver.seen()[driver.seen().size() - 2];
        EXPECT_EQ(refusal.text, row.refusal);
        EXPECT_EQ(refusal.title, "Chyba");
        EXPECT_EQ(refusal.icon, QMessageBox::Critical);
        EXPECT_EQ(promptAfter, row.promptAfter);
        EXPECT_EQ(apdusAtRefusal, apdusAtLastEntry) << "the card saw the refused entry";
        EXPECT_EQ(triesOnCard(0) + triesOnCard(1), triesBefore);
        EXPECT_EQ(secretOnCard(0), pinBefore);
        EXPECT_EQ(secretOnCard(1), pukBefore);
        expectNoEntryLeft();
    }
}

TEST_F(CardPinsTest, RemovedCardShowsTheNoticeAndReloads)
{
    startOnCardPage();
    removeCard();
    // until the module has seen the card go
    void *module = dlopen(VOK_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR f = nullptr;
    ASSERT_EQ(get(&f), CKR_OK);
    CK_ULONG cards = 1;
    for (int i = 0; i < 100 && cards != 0; ++i) {
        if (f->C_GetSlotList(CK_TRUE, nullptr, &cards) != CKR_OK || cards != 0)
            QThread::msleep(20);
    }
    ASSERT_EQ(cards, 0u);
    driver.pressButton();
    action("changePin")->trigger();
    ASSERT_TRUE(driver.finished());
    EXPECT_EQ(driver.seen().last().title, "Informace");
    EXPECT_TRUE(driver.seen().last().text.contains("bylo přerušeno spojení s kartou"));
    EXPECT_TRUE(
        driver.seen().last().text.endsWith("Data, se kterými pracujete, mohou být neplatná."));
    EXPECT_EQ(shape(), QStringList({"Virtual PCD 00 00 [reader]", "Virtual PCD 00 01 [reader]"}));
    EXPECT_TRUE(logged("CardManager: changePin() finished (More info: state=-1);"));
}

} // namespace
