// The card manager's one window class.
//
// The CardManager object owns the PKCS#11 client, the actions, the dialogs and the
// printer; it is never shown itself. The visible top-level window is the member
// `window`: menus, the reader and card tree beside the page area, and the status bar.
// Everything runs on the GUI thread. Every slot writes an "entered" and a "finished"
// line to the client's trace log.
//
// Commands reach the window from the menus, from page links (activatedLink), and from
// the tree. While waitForProgress lets the window repaint between the steps of a card
// operation, the window refuses user input, so no second command starts inside one.
//
// Item action ids used by menuAllows: 0 PIN change, 1 PUK change, 2 PIN unblock,
// 6 certificate details, 7 certificate export, 8 certificate import, 9 certificate
// delete, 10 key export, 11 key import, 12 key test, 13 key delete.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QRect>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

#include "client/pkcs11_manipulator.h"
#include "usb_readers.h"

class QAction;
class SecretText;
class SlotLog;
class QInputDialog;
class QLabel;
class QMenu;
class QPrinter;
class QProgressDialog;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

class CardManager : public QMainWindow
{
    Q_OBJECT

  public:
    // Builds the window and loads the module through the client: from modulePath when
    // given, else as the client finds it (the program's one argument, or the default
    // paths). When the module cannot be loaded or initialised, only the widgets exist;
    // isLoaded() is false and showLoadFailure() tells the user why.
    explicit CardManager(QWidget *parent = nullptr, const QString &modulePath = QString());
    ~CardManager() override;

    bool isLoaded() const { return loaded; }
    // The visible window, shown by the caller when the module is loaded.
    QMainWindow &visibleWindow() { return window; }
    // The error box for a module that could not be loaded or initialised.
    void showLoadFailure();

    // Enables the item actions whose ids are listed and disables the others; the
    // enabled ones are also the tree's actions. Ids without an action are ignored.
    void menuAllows(const QList<int> &ids);
    // Lets the window repaint for the progress delay while it refuses user input.
    void waitForProgress();
    // The delay of waitForProgress, 600 ms unless set (tests set 0).
    void setProgressDelay(int ms) { progressDelay = ms; }
    bool eventFilter(QObject *obj, QEvent *event) override;

    // The page resource in the window's language, decoded as UTF-8; empty when the
    // page does not exist.
    QString readHtml(const QString &page);
    // Shows the welcome page and lets the page area deliver its links to the window.
    void initializeArea();
    // Builds the reader level of the tree and the per-reader and per-slot lists anew;
    // returns the number of readers, 0 when reading a reader failed.
    int initializeTree();
    // Where the tree build reads the USB device listing (default: "lsusb").
    void setUsbListing(UsbListingSource source) { usbListing = std::move(source); }
    // Where the shown window's frame, as the window manager drew it, is measured
    // (default: the window's frameGeometry(); a window without a window manager, as
    // offscreen, never has one, so tests give their own).
    void setFrameSource(std::function<QRect()> source) { frameOf = std::move(source); }

    // Depth of a tree item: 0 reader, 1 card, 2 key container, 3 certificate.
    enum ItemKind { ReaderItem = 0, CardItem = 1, KeyItem = 2, CertificateItem = 3 };
    static int itemDepth(const QTreeWidgetItem *item);
    // The item whose page the user has last opened, when it is of that kind; null
    // otherwise (none opened since the last reload, another kind, or a page that
    // belongs to no item). Card operations act only on what this returns.
    QTreeWidgetItem *shownItemOf(ItemKind kind) const;

  private slots:
    void quit();
    void treeClicked(QTreeWidgetItem *item);
    void activatedLink(const QUrl &link);
    void version();
    void changePin();
    void changePuk();
    void unblockPin();
    void reload();
    void statusbarOnOff();
    void importCert();
    void exportCert();
    void showCertview();
    void importKey();
    void exportKey();
    void testKey();
    void deleteObject();
    void suggestSolutions();
    void showDiag();
    void saveDiag();
    void print();
    void printSetup();
    void expertMode();
    void about();
    void checkPinLength(const QString &text);

  private:
    // Writes one line of the client's trace log with who "CardManager":
    // rv 1000 "entered", 1001 "finished".
    void log(const QString &what, unsigned long rv, const QString &info = QString());
    void setUpGeometry();
    void keepFrameOnScreen();
    void createActions();
    void createWidgets();
    bool loadModule(const QString &modulePath);
    // Shows a page's text (its markers filled) in the page area.
    void showPage(const QString &html);
    // Sets up the shared message box with the single button OK and runs it.
    int showMessage(const QString &title, const QString &text, QMessageBox::Icon icon,
                    const QString &informative = QString());
    void copyDiagnosticsToClipboard();

    // reload's steps (card_manager_tree.cpp).
    void classifyReader(int i, const QString &listing);
    bool progressStep(const QString &label, int step);
    enum class Read { Done, Cancelled, Failed };
    Read readCard(int i, int step);
    Read askForPin(int i, const QString &reader, const QString &card);
    void pinBlockedNotice(const QString &reader, const QString &card, bool pukBlocked);
    void layKeys(int i, QTreeWidgetItem *cardItem);
    void addKeyItem(int i, QTreeWidgetItem *cardItem, const key_info &key);
    void suggestIfExpired(const cert_info &cert);
    void walkTree();
    // Shows the page of each key item of the card and of its certificate, in tree order.
    void walkKeys(QTreeWidgetItem *card);
    void interruptLoad();
    // The load error of reader i's card; the card's items and its slot's lists go, the
    // reader shows no card, and the card's sessions (no other's) are closed.
    void loadFailed(int i);
    void endReload();
    // After a log-in on a card read without its PIN: the card's objects read again in
    // the logged-in session, its key items laid anew from them (no PIN asked for), and
    // the page of the shown key shown again.
    void readPrivateObjects(int slot);

    // The item pages (card_manager_items.cpp).
    int slotOf(QTreeWidgetItem *item) const;
    void showReaderPage(int slot);
    void showCardPage(QTreeWidgetItem *item, int slot);
    void showKeyPage(QTreeWidgetItem *item, int slot);
    void showCertificatePage(QTreeWidgetItem *item, int slot);
    bool pinBlocked(int slot);
    // Appends a report line to the text while reload or readPrivateObjects gathers them.
    void report(QString &text, const QString &line) const;

    // The report's text (card_manager_report.cpp).
    QString diagnosticReport();
    // diagText as plain text: line feeds for its breaks, no font tags.
    QString diagPlainText() const;
    void reportReader(QString &text, int i) const;
    void showCertificateOfCurrentKey();
    bool blocksInput(QObject *obj, QEvent *event) const;
    // Whether a key release in the tree ends a press the tree had (treeKeyDown).
    bool treeRelease(QEvent *event);

    // The card operations' shared steps (card_manager_steps.cpp).
    enum class Secret { Pin, Puk, NewPin, NewPuk };
    enum class PinResult {
        LoggedIn,
        Stopped, // cancelled or refused: the operation's closing steps follow
        Ended,   // the session was lost or the secret is blocked: nothing more happens
    };
    // GetState of the slot into state; -1 (the session is gone) shows the notice,
    // reloads, marks the operation's last log line and gives true.
    bool sessionLost(int slot, SlotLog &entry, int &state);
    void showError(const QString &text);
    // The message's prefix, the code in lower-case hexadecimal and ").".
    static QString codeText(const QString &prefix, int code);
    // The module's answer for a card that left its reader: CKR_DEVICE_REMOVED, or
    // CKR_TOKEN_NOT_PRESENT for a session whose card has gone.
    static bool cardRemoved(int rc);
    // The error box of a failed card call, and the window read anew after a pulled card.
    // A removed card gets the operation's card-removed text (the common one when
    // `removed` is empty) with the notice that the window is read anew, and the cards are
    // read anew (no page shows a card that is gone): the answer is then true, and the
    // operation has nothing left to do. Any other code gets the prefix with the code, and
    // `informative` beneath it. Called once nothing of the operation is left for the card.
    bool failed(const QString &prefix, int rc, const QString &removed = QString(),
                const QString &informative = QString());
    // A new shared input dialog in place of the old one.
    void freshInputDialog();
    // A password prompt in the shared input dialog; false when it was not accepted.
    // The entry is taken out of the dialog either way.
    bool askSecret(const QString &title, const QString &label, SecretText &entry);
    // Shows the error box of an entry that breaks the rules of its kind of secret
    // (digits only, within its and the token's length bounds) and gives true.
    bool refuseEntry(const QString &entry, Secret secret, int slot);
    // Asks for a new PIN or PUK twice until both entries agree and keep the rules;
    // false when the user cancels.
    bool askNewSecret(const QString &title, Secret secret, int slot, SecretText &value);
    // One entry of a secret that logs the session in, shared by every prompt for the
    // PIN or the PUK: the prompt; an entry that breaks the rules of its kind gets its
    // box and reaches no card (Refused); else the session is logged out first when
    // `logOutFirst`, and logged in with the entry (Presented, rc the log-in's code).
    enum class Entry { Cancelled, Refused, Presented };
    Entry enterSecret(int slot, Secret secret, const QString &title, const QString &label,
                      bool logOutFirst, int &rc);
    // Login through the client; a refused secret is not left kept in the client.
    int logIn(int slot, const QString &secret, int userType);
    // A log-in refused for another reason than the secret: its box (a removed card with
    // the operation's card-removed text, see failed); after a removed card the window is
    // read anew and the operation ends.
    PinResult logInFailed(int rc, const QString &removed);
    // The boxes of a wrong and of a blocked secret.
    struct Refusals {
        QString wrong, blocked;
    };
    // The operations' boxes for the PIN or the PUK.
    Refusals refusalsOf(Secret secret);
    // What a log-in with an entered secret came to. A wrong or blocked secret has its
    // tries read anew, the shown item of the kind `redrawn` redrawn (when given) and its
    // box shown: Wrong while tries remain (the caller asks again), else Blocked. Any
    // other refusal is Failed, with no box.
    enum class Answer { LoggedIn, Wrong, Blocked, Failed };
    Answer logInAnswer(int slot, Secret secret, int rc, const Refusals &boxes,
                       std::optional<ItemKind> redrawn);
    // The operation's way on after its log-in: nothing when the secret is to be asked
    // for again; a refusal for another reason shows its box (logInFailed, with the
    // operation's card-removed text).
    std::optional<PinResult> afterLogIn(int slot, Secret secret, int rc, ItemKind redrawn,
                                        const QString &removed = QString());
    // The progress notice, shown without blocking while one card call runs.
    void showProgress(const QString &text, const QString &informative);
    void closeProgress();
    // Shows the page of the shown item again, when it is of that kind.
    void redraw(ItemKind kind);
    // The user's PIN log-in of the key and certificate operations.
    PinResult pinLoop(int slot, ItemKind redrawn);

    // The PIN operations (card_manager_pins.cpp).
    int shownCardSlot();
    QString progressInformative() const;
    // `removed`: the operation's text for a card pulled out at the log-in.
    PinResult presentSecret(int slot, Secret secret, int &state, SlotLog &entry,
                            const QString &removed);
    // The texts and kind of one change of a secret.
    struct SecretChange {
        QString title;
        Secret fresh; // NewPin or NewPuk
        bool unblock; // InitPin in the PUK's session, else ChangePin
        QString progress, success, failure;
        QString removed; // the card was pulled out during the change
    };
    // The change's result: 0, or the failing code of the card call (not shown yet);
    // nothing when the user cancelled.
    std::optional<int> changeSecret(int slot, const SecretChange &change);
    // A PIN operation: the log-in with the presented secret, the change, the closing
    // refresh of the tries and the card's page.
    void changePinOrPuk(const char *what, Secret presented, const SecretChange &change);

    // The key and certificate operations (card_manager_operations.cpp).
    // What the shown item of a kind stands for.
    struct Shown {
        QTreeWidgetItem *item = nullptr;
        int slot = -1;
        int key = -1;         // the key item's entry in the slot's key lists
        int certificate = -1; // its certificate's index in the client's table, -1: none
        QString container;    // the key item's container name
    };
    // False when no item of that kind is shown, or the lists hold no entry for it (a
    // certificate item also needs its certificate's record).
    bool shownObject(ItemKind kind, Shown &shown);
    QString refreshNotice() const;
    PinResult logInUnlessLoggedIn(int slot, int state, ItemKind redrawn);
    // The question before a key's deletion, which takes its whole container.
    QString containerDeletion(const Shown &key);

    bool printProgress = true;
    bool frameChecked = false; // see keepFrameOnScreen
    int treeKeyDown = 0;       // the key last pressed in the tree and not yet released, or 0
    QTreeWidgetItem *shownItem = nullptr; // see shownItemOf
    QProgressDialog *progress = nullptr;  // while reload runs
    UsbListingSource usbListing = systemUsbListing();
    std::function<QRect()> frameOf = [this] { return window.frameGeometry(); };
    bool reloadRunning = false;
    bool gatheringReport = false; // while readPrivateObjects walks a card's key items
    bool loaded = false;
    int currentSlot = 0;
    int currentObject = 0;

    // Per reader, index = slot (filled by the tree).
    QStringList readerNames;
    QStringList readerManufacturers;
    QList<bool> tokenPresent;
    QList<bool> readerIsUsb;
    QStringList readerUsbLocation;
    // Per slot: key item names, their key records and certificate indexes (-1: none).
    QList<QStringList> keyNames;
    QList<QList<key_info>> keyInfos;
    QList<QList<int>> keyCertIndex;
    // Report lines per slot, gathered by the tree build, reload and the item pages:
    // each line ends in "<br>"; values stand as they are (the report page escapes them).
    QStringList cardInfoText;
    QStringList pinInfoText;
    QStringList itemInfoText;

    QString suggestions; // HTML list items of the wizard page
    QString diagText;    // the last diagnostic report, lines ending in "<br>"
    QString libraryVersion;
    QString language; // "cz" or "en": the folder of the pages
    bool loadCompleted = false;
    bool loadInterrupted = false;

    // Why the module is not loaded: the client's result (NO_MODULE: not found or not
    // loadable, else the failing C_Initialize code) and the path asked for.
    int loadResult = 0;
    QString requestedModule;

    int progressDelay = 600;
    int busy = 0; // nesting depth of waitForProgress

    QMenu *fileMenu = nullptr;
    QMenu *viewMenu = nullptr;
    QMenu *certMenu = nullptr;
    QMenu *keyMenu = nullptr;
    QMenu *helpMenu = nullptr;

    QTreeWidget *tree = nullptr;
    QTextBrowser *webView = nullptr;
    QLabel *statusLabel = nullptr;

    QAction *versionAct = nullptr;
    QAction *changePinAct = nullptr;
    QAction *changePukAct = nullptr;
    QAction *unblockPinAct = nullptr;
    QAction *showDiagAct = nullptr;
    QAction *saveDiagAct = nullptr;
    QAction *printAct = nullptr;
    QAction *printSetupAct = nullptr;
    QAction *expertModeAct = nullptr;
    QAction *exitAct = nullptr;
    QAction *statusBarAct = nullptr;
    QAction *reloadAct = nullptr;
    QAction *certInfoAct = nullptr;
    QAction *exportCertAct = nullptr;
    QAction *importCertAct = nullptr;
    QAction *deleteCertAct = nullptr;
    QAction *exportKeyAct = nullptr;
    QAction *importKeyAct = nullptr;
    QAction *testKeyAct = nullptr;
    QAction *deleteKeyAct = nullptr;
    QAction *wizardAct = nullptr;
    QAction *aboutAct = nullptr;

    std::unique_ptr<QPrinter> printer;
    QMessageBox *messageBox = nullptr;     // child of this object
    QInputDialog *inputDialog = nullptr;   // child of this object
    QMessageBox *progressNotice = nullptr; // child of this object, never modal

    QMainWindow window;
    std::unique_ptr<Pkcs11Manipulator> pkcs11;
};
