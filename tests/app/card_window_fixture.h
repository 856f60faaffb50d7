// A card manager window over the real card service: the shipped module with a
// simulated vOK card in the first virtual reader (and a second one in the second
// reader when a test puts it there), the dialogs answered by the driver. Helpers show
// the tree's shape, find and click items, read the page's rows, and open a session of
// the test's own through the module.
#pragma once

// The module's headers first: Qt's keyword macros (slots) are not defined yet.
#include "token_sim_support.h"

#include <QThread>
#include <QApplication>
#include <QInputDialog>
#include <QTreeWidget>

#include <dlfcn.h>
#include <openssl/x509.h>
#include <winscard.h>

#include <functional>

#include "card.h"
#include "certview/html_parts.h"
#include "pcsc_helpers.h"
#include "personalise.h"
#include "vpcd_card.h"
#include "window_fixture.h"

namespace app_test
{

using token_test::Bytes;

inline const std::string kCardReader = vpcd::NameOfReader(0);
inline const std::string kSecondReader = vpcd::NameOfReader(1);
inline const QString kPin = "123456";
inline const QString kWrongPin = "000000";
inline const QString kPuk = "12345678";
// The module sees the one virtual reader as "Virtual PCD 00 00"; listed once, the
// second reader of that model is no USB device.
inline const QString kUsbListing = "Bus 002 Device 001: ID 0f0f:0003 Example 3.0 root hub\n"
                                   "Bus 001 Device 003: ID 1234:5678 Virtual PCD\n";
inline const char *const kItemActions[] = {"changePin",  "changePuk",  "unblockPin", "showCertview",
                                           "exportCert", "importCert", "deleteCert", "exportKey",
                                           "importKey",  "testKey",    "deleteKey"};

inline cardsim::ContainerSpec container(const std::string &name, int signatureBits,
                                        int exchangeBits)
{
    cardsim::ContainerSpec c;
    c.name = name;
    c.keys[0].bits = signatureBits;
    c.keys[1].bits = exchangeBits;
    return c;
}

// A card with one container holding a 2048-bit signature key.
inline cardsim::Personalisation oneContainer()
{
    cardsim::Personalisation p;
    p.containers = {container("keys", 2048, 0)};
    return p;
}

// What a page shows of a certificate, read from its DER with OpenSSL.
struct CertificateFacts {
    QString validity;
    QString sha1;
};

inline QDate dateOf(const ASN1_TIME *time)
{
    struct tm t {
    };
    if (ASN1_TIME_to_tm(time, &t) != 1)
        return QDate();
    return QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
}

inline CertificateFacts factsOf(const Bytes &der)
{
    const unsigned char *p = der.data();
    X509 *x = d2i_X509(nullptr, &p, long(der.size()));
    EXPECT_NE(x, nullptr);
    if (x == nullptr)
        return {};
    CertificateFacts facts;
    facts.validity = dateOf(X509_get0_notBefore(x)).toString("dd.MM.yyyy") + " - " +
                     dateOf(X509_get0_notAfter(x)).toString("dd.MM.yyyy");
    X509_free(x);
    Bytes digest = token_test::Sha1(der);
    facts.sha1 = QByteArray(reinterpret_cast<const char *>(digest.data()), int(digest.size()))
                     .toHex()
                     .toUpper();
    return facts;
}

class CardWindowTest : public WindowTest
{
  protected:
    CardWindowTest()
    {
        EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context),
                  SCARD_S_SUCCESS);
        // an earlier card may be leaving
        EXPECT_TRUE(WaitCardState(context, kCardReader, false));
        EXPECT_TRUE(WaitCardState(context, kSecondReader, false));
    }
    ~CardWindowTest() override
    {
        manager.reset();
        removeCard();
        removeSecondCard();
        SCardReleaseContext(context);
    }

    // Puts the card into the first reader and opens the window on the module.
    void start(const cardsim::Personalisation &p,
               std::function<void(cardsim::Card &)> shape = nullptr)
    {
        cardsim::CardState state;
        std::string error;
        ASSERT_TRUE(cardsim::Personalise(p, state, &error, &certificates)) << error;
        card = std::make_unique<cardsim::Card>(state);
        if (shape)
            shape(*card);
        link = std::make_unique<vpcd::VirtualCard>(front ? *front : *card, vpcd::PortOfReader(0));
        ASSERT_TRUE(link->Insert());
        ASSERT_TRUE(WaitCardState(context, kCardReader, true));
        open(VOK_MODULE);
        ASSERT_TRUE(manager->isLoaded());
        manager->setUsbListing([] { return kUsbListing; });
    }
    void removeCard()
    {
        if (link == nullptr)
            return;
        link->Remove();
        EXPECT_TRUE(WaitCardState(context, kCardReader, false));
        link.reset();
    }
    // Puts a second card into the second reader: before start(), the window's first
    // tree finds it; after it, the next reload.
    void insertSecondCard(const cardsim::Personalisation &p)
    {
        cardsim::CardState state;
        std::string error;
        ASSERT_TRUE(cardsim::Personalise(p, state, &error)) << error;
        secondCard = std::make_unique<cardsim::Card>(state);
        secondLink = std::make_unique<vpcd::VirtualCard>(*secondCard, vpcd::PortOfReader(1));
        ASSERT_TRUE(secondLink->Insert());
        ASSERT_TRUE(WaitCardState(context, kSecondReader, true));
    }
    void removeSecondCard()
    {
        if (secondLink == nullptr)
            return;
        secondLink->Remove();
        EXPECT_TRUE(WaitCardState(context, kSecondReader, false));
        secondLink.reset();
    }
    void reload() { action("reload")->trigger(); }
    // Reads the card with the right PIN at the first prompt.
    void reloadWithPin()
    {
        driver.enterText(kPin);
        reload();
        ASSERT_TRUE(driver.finished());
    }

    // The tree as lines of "text [icon]", indented by depth.
    QStringList shape()
    {
        QStringList lines;
        std::function<void(QTreeWidgetItem *, int)> walk = [&](QTreeWidgetItem *item, int depth) {
            lines << QString(depth * 2, ' ') + item->text(0) + " [" + iconOf(item) + "]";
            for (int i = 0; i < item->childCount(); ++i)
                walk(item->child(i), depth + 1);
        };
        for (int i = 0; i < tree()->topLevelItemCount(); ++i)
            walk(tree()->topLevelItem(i), 0);
        return lines;
    }
    static QString iconOf(QTreeWidgetItem *item)
    {
        QImage shown = item->icon(0).pixmap(16).toImage();
        for (const char *name : {"reader", "readerCard", "card", "key", "keyCert", "cert"})
            if (QIcon(QString(":/icons/") + name).pixmap(16).toImage() == shown)
                return name;
        return "?";
    }
    // The item at a path of child positions from a reader.
    QTreeWidgetItem *item(std::initializer_list<int> path)
    {
        auto at = path.begin();
        QTreeWidgetItem *found = tree()->topLevelItem(*at);
        while (found != nullptr && ++at != path.end())
            found = found->child(*at);
        EXPECT_NE(found, nullptr);
        return found;
    }
    void click(QTreeWidgetItem *target)
    {
        tree()->setCurrentItem(target);
        emit tree()->itemPressed(target, 0);
    }
    QStringList enabledItemActions()
    {
        QStringList enabled;
        for (const char *name : kItemActions)
            if (action(name)->isEnabled())
                enabled << name;
        return enabled;
    }
    // The label and value pairs of the page's table rows, as "label value"; the values
    // as they read, without the invisible break marks between the bytes of a
    // hexadecimal value.
    QStringList pageRows()
    {
        QStringList rows;
        const QStringList lines =
            Orvane::Certificate::html::withoutBreakMarks(page()->toPlainText()).split('\n');
        for (int i = 0; i + 1 < lines.size(); ++i)
            if (lines[i].endsWith(':'))
                rows << lines[i] + " " + lines[i + 1];
        return rows;
    }
    // The certificate the card holds with this serial number.
    CertificateFacts certificateWithSerial(long serial)
    {
        for (const Bytes &der : certificates) {
            const unsigned char *p = der.data();
            X509 *x = d2i_X509(nullptr, &p, long(der.size()));
            long value = x ? ASN1_INTEGER_get(X509_get0_serialNumber(x)) : -1;
            X509_free(x);
            if (value == serial)
                return factsOf(der);
        }
        ADD_FAILURE() << "no certificate with serial " << serial;
        return {};
    }
    // The window's module, as the window has initialised it.
    static CK_FUNCTION_LIST_PTR moduleFunctions()
    {
        void *module = dlopen(VOK_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
        CK_FUNCTION_LIST_PTR f = nullptr;
        EXPECT_EQ(get(&f), CKR_OK);
        return f;
    }
    // Waits until the module has seen the card leave its reader: until then the window
    // may find a token whose session cannot be opened.
    static bool moduleSeesNoCard()
    {
        CK_FUNCTION_LIST_PTR f = moduleFunctions();
        for (int i = 0; i < 100; ++i) {
            CK_ULONG count = 0;
            if (f->C_GetSlotList(CK_TRUE, nullptr, &count) == CKR_OK && count == 0)
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    // A session of the test's own on the card: its state tells whether the card's
    // sessions are logged in.
    CK_STATE stateOfANewSession()
    {
        CK_FUNCTION_LIST_PTR f = moduleFunctions();
        CK_SESSION_HANDLE session = newSession(f, CKF_SERIAL_SESSION);
        CK_SESSION_INFO info{};
        EXPECT_EQ(f->C_GetSessionInfo(session, &info), CKR_OK);
        f->C_CloseSession(session);
        return info.state;
    }
    // A session of the test's own on the first card the module lists.
    static CK_SESSION_HANDLE newSession(CK_FUNCTION_LIST_PTR f, CK_FLAGS flags)
    {
        CK_SLOT_ID ids[4];
        CK_ULONG count = 4;
        EXPECT_EQ(f->C_GetSlotList(CK_TRUE, ids, &count), CKR_OK);
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(f->C_OpenSession(ids[0], flags, nullptr, nullptr, &session), CKR_OK);
        return session;
    }
    // Answers an input dialog with the text after running the step.
    static vok_qt::ModalDriver::Action typeAfter(std::function<void()> step, QString text)
    {
        return [step, text](QWidget *w) {
            step();
            auto *input = static_cast<QInputDialog *>(w);
            input->setTextValue(text);
            input->accept();
        };
    }

    SCARDCONTEXT context = 0;
    std::vector<Bytes> certificates;
    std::unique_ptr<cardsim::Card> card;
    // What the first reader talks to when a test sets it before start(): a handler in
    // front of the card (one that spoils a reply, say); the card itself when null.
    std::unique_ptr<vpcd::CardHandler> front;
    std::unique_ptr<vpcd::VirtualCard> link;
    std::unique_ptr<cardsim::Card> secondCard;
    std::unique_ptr<vpcd::VirtualCard> secondLink;
};

} // namespace app_test
