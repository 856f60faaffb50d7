#include "certview/x509_cert.h"
#include "certview/x509_viewer.h"

#include "cert_builder.h"
#include "modal_driver.h"
#include "qt_print.h"

#include <memory>
#include <vector>

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <QTest>

#include <gtest/gtest.h>

using Orvane::Certificate::X509Cert;
using Orvane::Certificate::X509Viewer;
using vok_qt::ModalDriver;

namespace
{

QStringList const kGeneral = {"Summary", "Subject", "Issuer", "Validity", "Fingerprints"};
QStringList const kBaseFields = {"Subject",           "Issuer",
                                 "Validity",          "Fingerprints",
                                 "Digital Signature", "Public Key Information",
                                 "Version",           "Serial Number"};
QStringList const kCritical = {"Basic Constraints", "Public Key Usage"};
QStringList const kNoncritical = {"Extended Key Usage", "Subject Key Identifier"};
QStringList const kUnsupported = {"1.2.3.4"};
QString const kUnusable = "Application can't show this certificate.";

// Two critical and two noncritical supported extensions, and one that no
// viewer knows (a UTF8String under a private OID).
certtest::CertSpec endEntity()
{
    certtest::CertSpec spec;
    spec.ec = true;
    spec.extensions = {
        certtest::confExt("basicConstraints", "critical,CA:FALSE"),
        certtest::confExt("keyUsage", "critical,digitalSignature,keyEncipherment"),
        certtest::confExt("extendedKeyUsage", "serverAuth,clientAuth"),
        certtest::confExt("subjectKeyIdentifier", "hash"),
        certtest::rawExt("1.2.3.4", certtest::hex("0C 03 61 62 63")),
    };
    return spec;
}

certtest::CertSpec withExtensions(std::vector<certtest::Ext> extensions, long version = 2)
{
    certtest::CertSpec spec;
    spec.ec = true;
    spec.version = version;
    spec.extensions = std::move(extensions);
    return spec;
}

certtest::CertSpec const kAuthority = withExtensions({
    certtest::confExt("basicConstraints", "critical,CA:TRUE,pathlen:0"),
    certtest::confExt("keyUsage", "critical,keyCertSign,cRLSign"),
});
certtest::CertSpec const kNoncriticalOnly = withExtensions({
    certtest::confExt("subjectKeyIdentifier", "hash"),
    certtest::rawExt("1.2.3.4", certtest::hex("0C 01 61")),
});
certtest::CertSpec const kVersion1 = withExtensions({}, 0);

// The dialog's widgets, by the object names of its form.
struct Form {
    explicit Form(QWidget *dialog)
        : tabs(find<QTabWidget>(dialog, "IDD_CERT_TABS")),
          generalList(find<QListWidget>(dialog, "IDC_CERT_LIST")),
          generalText(find<QTextEdit>(dialog, "IDC_CERT_DATA")),
          classes(find<QComboBox>(dialog, "IDC_DETAIL_CLASS")),
          details(find<QTableWidget>(dialog, "IDC_DETAIL_LIST")),
          detailText(find<QTextEdit>(dialog, "IDC_DETAIL_DATA")),
          supportedOnly(find<QCheckBox>(dialog, "IDC_DETAIL_SUPPORTED")),
          ok(find<QDialogButtonBox>(dialog, "IDC_OK")->button(QDialogButtonBox::Ok))
    {
    }

    template <class T> static T *find(QWidget *dialog, char const *name)
    {
        T *found = dialog->findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QStringList generalNames() const
    {
        QStringList names;
        for (int i = 0; i < generalList->count(); ++i)
            names << generalList->item(i)->text();
        return names;
    }

    QStringList detailNames() const
    {
        QStringList names;
        for (int row = 0; row < details->rowCount(); ++row)
            names << details->item(row, 0)->text();
        return names;
    }

    std::vector<int> offeredClasses() const
    {
        std::vector<int> values;
        for (int i = 0; i < classes->count(); ++i)
            values.push_back(classes->itemData(i).toInt());
        return values;
    }

    // As a user's choice in the combo does it.
    void chooseClass(int detailClass) const
    {
        int index = classes->findData(detailClass);
        ASSERT_GE(index, 0) << "class " << detailClass << " not offered";
        classes->setCurrentIndex(index);
        emit classes->activated(index);
    }

    QTabWidget *tabs;
    QListWidget *generalList;
    QTextEdit *generalText;
    QComboBox *classes;
    QTableWidget *details;
    QTextEdit *detailText;
    QCheckBox *supportedOnly;
    QPushButton *ok;
};

bool sameImage(QIcon const &icon, char const *resource)
{
    return icon.pixmap(16).toImage() == QIcon(resource).pixmap(16).toImage();
}

QString translated(char const *source)
{
    return QCoreApplication::translate("X509Viewer", source);
}

// The card manager's way: an X509Cert from the DER value of a card certificate.
std::unique_ptr<X509Cert> holderOf(certtest::CertSpec const &spec)
{
    certtest::Bytes der = certtest::derOf(certtest::makeCert(spec).get());
    return std::make_unique<X509Cert>(der.data(), (long long)der.size());
}

class ViewerTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Catalogues come from the resources unless a test puts one here;
        // whatever is installed on the machine stays out of the tests.
        ASSERT_TRUE(catalogues.isValid());
        X509Viewer::setTranslationDirectory(catalogues.path());
    }

    // A dialog filled as exec() fills it, but not shown.
    std::unique_ptr<X509Viewer> open(certtest::CertSpec const &spec)
    {
        auto dialog = std::make_unique<X509Viewer>(
            nullptr, holderOf(spec).get(), QLocale(QLocale::English, QLocale::UnitedStates));
        dialog->init();
        return dialog;
    }

    QTemporaryDir catalogues;
};

} // namespace

TEST_F(ViewerTest, GeneralTabListsTheOverviewFieldsAndShowsTheChosenOne)
{
    certtest::CertSpec markup = kVersion1;
    markup.subject = {{"CN", "<b>Eve</b> & <a href=\"x\">Co</a>"}};
    struct Row {
        char const *name;
        certtest::CertSpec spec;
    };
    Row const rows[] = {
        {"end entity", endEntity()},
        {"authority", kAuthority},
        {"version 1", kVersion1},
        {"markup in the subject", markup},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        auto dialog = open(row.spec);
        Form form(dialog.get());
        EXPECT_EQ(form.generalNames(), kGeneral);
        EXPECT_EQ(form.generalList->currentRow(), 0);
        EXPECT_TRUE(form.generalText->toPlainText().contains("Issued by"));

        form.generalList->setCurrentRow(1);
        // Certificate values show as text, never as markup.
        QString subject = QString::fromStdString(row.spec.subject[0].value);
        EXPECT_TRUE(form.generalText->toPlainText().contains(subject))
            << form.generalText->toPlainText().toStdString();
        EXPECT_FALSE(form.generalText->toHtml().contains("<a href"));
    }
}

TEST_F(ViewerTest, EachDetailClassListsItsRows)
{
    enum Box { SupportedOnly, AllExtensions };
    struct Row {
        char const *name;
        certtest::CertSpec spec;
        Box box;
        int detailClass;
        QStringList rows;
    };
    Row const rows[] = {
        {"all details", endEntity(), SupportedOnly, X509Viewer::DetailAll,
         kBaseFields + kCritical + kNoncritical},
        {"common", endEntity(), SupportedOnly, X509Viewer::DetailCommon, kBaseFields},
        {"extensions", endEntity(), SupportedOnly, X509Viewer::DetailExtensions,
         kCritical + kNoncritical},
        {"noncritical", endEntity(), SupportedOnly, X509Viewer::DetailNoncritical, kNoncritical},
        {"critical", endEntity(), SupportedOnly, X509Viewer::DetailCritical, kCritical},
        {"all details with unsupported", endEntity(), AllExtensions, X509Viewer::DetailAll,
         kBaseFields + kCritical + kNoncritical + kUnsupported},
        {"noncritical with unsupported", endEntity(), AllExtensions, X509Viewer::DetailNoncritical,
         kNoncritical + kUnsupported},
        {"unsupported only", endEntity(), AllExtensions, X509Viewer::DetailUnsupported,
         kUnsupported},
        {"critical, none there", kNoncriticalOnly, AllExtensions, X509Viewer::DetailCritical, {}},
        {"extensions of a version 1 certificate",
         kVersion1,
         SupportedOnly,
         X509Viewer::DetailExtensions,
         {}},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        auto dialog = open(row.spec);
        Form form(dialog.get());
        form.tabs->setCurrentIndex(1);
        form.supportedOnly->setChecked(row.box == SupportedOnly);
        ASSERT_FALSE(form.detailText->toPlainText().isEmpty());
        form.chooseClass(row.detailClass);

        EXPECT_EQ(form.detailNames(), row.rows);
        // The first row is chosen and shown; an empty list clears the pane.
        QString shown = form.detailText->toPlainText();
        if (row.rows.isEmpty()) {
            EXPECT_TRUE(shown.isEmpty());
            continue;
        }
        EXPECT_EQ(form.details->currentRow(), 0);
        EXPECT_FALSE(shown.isEmpty());
        if (row.rows[0] == "Subject") {
            EXPECT_TRUE(shown.contains("Test Holder")) << shown.toStdString();
        }
    }
}

TEST_F(ViewerTest, DetailRowsCarryTheirIconAndPlainValueAndShowTheirRichText)
{
    auto dialog = open(endEntity());
    Form form(dialog.get());
    form.supportedOnly->setChecked(false);
    form.chooseClass(X509Viewer::DetailAll);

    std::vector<char const *> icons(kBaseFields.size(), ":/image/text");
    icons.insert(icons.end(),
                 {":/image/ex_critical", ":/image/ex_critical", ":/image/ex_noncritical",
                  ":/image/ex_noncritical", ":/image/warning"});
    ASSERT_EQ(form.details->rowCount(), (int)icons.size());
    for (int row = 0; row < form.details->rowCount(); ++row) {
        SCOPED_TRACE(form.details->item(row, 0)->text().toStdString());
        EXPECT_TRUE(sameImage(form.details->item(row, 0)->icon(), icons[row]));
        EXPECT_FALSE(form.details->item(row, 0)->toolTip().isEmpty());
    }
    int version = kBaseFields.indexOf("Version");
    EXPECT_EQ(form.details->item(version, 1)->text(), "V3 (0x02)");

    form.details->setCurrentCell(version, 0);
    EXPECT_TRUE(form.detailText->toPlainText().contains("V3 (0x02)"));
}

// The fingerprints pane at the widths the dialog's text may take: a line of a fingerprint
// ends only after a colon, never inside a byte; a copy of the pane holds the values as
// they are, "AB:CD:...".
// A dialog made larger gives the room to its tabs, whose panes show more; the OK
// button keeps its place at the bottom and its own height.
TEST_F(ViewerTest, ARoomierDialogGivesItsRoomToTheTabs)
{
    auto dialog = open(endEntity());
    Form form(dialog.get());
    dialog->show();
    QCoreApplication::processEvents();
    const int tabs = form.tabs->height(), ok = form.ok->height();
    const int grown = 300;
    dialog->resize(dialog->width() + 400, dialog->height() + grown);
    QCoreApplication::processEvents();
    EXPECT_GE(form.tabs->height(), tabs + grown - 10);
    EXPECT_EQ(form.ok->height(), ok);
    EXPECT_GE(form.ok->mapTo(dialog.get(), QPoint(0, form.ok->height())).y(), dialog->height() - 20)
        << "the button at the bottom";
}

TEST_F(ViewerTest, FingerprintsWrapOnlyBetweenBytesAndCopyAsTheyAre)
{
    certtest::CertSpec spec = endEntity();
    for (int serial = 1; serial <= 4; ++serial) {
        spec.serial = {static_cast<unsigned char>(serial)}; // other digests, other breaks
        certtest::Bytes der = certtest::derOf(certtest::makeCert(spec).get());
        X509Cert holder(der.data(), (long long)der.size());
        X509Viewer dialog(nullptr, &holder, QLocale(QLocale::English, QLocale::UnitedStates));
        dialog.init();
        Form form(&dialog);
        form.generalList->setCurrentRow(kGeneral.indexOf("Fingerprints"));
        QTextDocument *document = form.generalText->document();
        QRegularExpression const colonHex("^([0-9A-F]{2}:)+[0-9A-F]{2}$");
        for (int width = 150; width <= 720; width += 3) {
            SCOPED_TRACE("serial " + std::to_string(serial) + " at " + std::to_string(width));
            document->setTextWidth(width);
            int values = 0;
            for (QTextBlock b = document->begin(); b.isValid(); b = b.next()) {
                if (!colonHex.match(QString(b.text()).remove(QChar(0x200B))).hasMatch())
                    continue;
                ++values;
                QStringList lines;
                bool afterColon = true;
                for (int i = 0; i < b.layout()->lineCount(); ++i) {
                    QTextLine line = b.layout()->lineAt(i);
                    QString text = b.text().mid(line.textStart(), line.textLength());
                    text.remove(QChar(0x200B));
                    lines << text;
                    afterColon = afterColon && (i + 1 == b.layout()->lineCount() ||
                                                text.endsWith(QLatin1Char(':')));
                }
                EXPECT_TRUE(afterColon) << lines.join(" | ").toStdString();
            }
            EXPECT_EQ(values, 3) << "MD5, SHA-1, SHA-256";
        }

        unsigned char sha1[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_Digest(der.data(), der.size(), sha1, &length, EVP_sha1(), nullptr);
        QStringList bytes;
        for (unsigned int i = 0; i < length; ++i)
            bytes << QString::asprintf("%02X", sha1[i]);
        form.generalText->selectAll();
        form.generalText->copy();
        QString copied = QGuiApplication::clipboard()->text();
        EXPECT_TRUE(copied.contains("SHA-1: \n" + bytes.join(":") + "\n")) << copied.toStdString();
        EXPECT_FALSE(copied.contains(QChar(0x200B)));
        // and so does the copy's HTML, which a rich-text editor pastes
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        ASSERT_NE(data, nullptr);
        ASSERT_TRUE(data->hasHtml());
        EXPECT_FALSE(data->html().contains(QChar(0x200B)));
        QTextDocument pasted;
        pasted.setHtml(data->html());
        EXPECT_TRUE(pasted.toPlainText().contains("SHA-1: \n" + bytes.join(":") + "\n"))
            << data->html().toStdString();
        EXPECT_FALSE(pasted.toPlainText().contains(QChar(0x200B)));
    }
}

TEST_F(ViewerTest, TheSupportedOnlyBoxShowsOnDetailsOnlyWhenThereIsSomethingToHide)
{
    struct Row {
        char const *name;
        certtest::CertSpec spec;
        bool hasUnsupported;
    };
    Row const rows[] = {
        {"unsupported extension", endEntity(), true},
        {"all extensions supported", kAuthority, false},
        {"no extensions", kVersion1, false},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        auto dialog = open(row.spec);
        Form form(dialog.get());
        EXPECT_TRUE(form.supportedOnly->isChecked());
        EXPECT_EQ(form.classes->count(), 5);
        EXPECT_FALSE(form.supportedOnly->isVisibleTo(dialog.get()));
        form.tabs->setCurrentIndex(1);
        EXPECT_EQ(form.supportedOnly->isVisibleTo(dialog.get()), row.hasUnsupported);
        form.tabs->setCurrentIndex(0);
        EXPECT_FALSE(form.supportedOnly->isVisibleTo(dialog.get()));
    }
}

TEST_F(ViewerTest, CheckingTheBoxKeepsTheClassUnlessItWasTheUnsupportedOne)
{
    std::vector<int> const offered = {X509Viewer::DetailAll, X509Viewer::DetailCommon,
                                      X509Viewer::DetailExtensions, X509Viewer::DetailNoncritical,
                                      X509Viewer::DetailCritical};
    std::vector<int> withUnsupported = offered;
    withUnsupported.push_back(X509Viewer::DetailUnsupported);
    struct Row {
        int chosen;
        int kept;
        QStringList rows;
    };
    Row const rows[] = {
        {X509Viewer::DetailUnsupported, X509Viewer::DetailAll,
         kBaseFields + kCritical + kNoncritical},
        {X509Viewer::DetailNoncritical, X509Viewer::DetailNoncritical, kNoncritical},
        {X509Viewer::DetailCommon, X509Viewer::DetailCommon, kBaseFields},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.chosen);
        auto dialog = open(endEntity());
        Form form(dialog.get());
        form.tabs->setCurrentIndex(1);
        form.supportedOnly->setChecked(false);
        EXPECT_EQ(form.offeredClasses(), withUnsupported);
        EXPECT_EQ(form.classes->itemText(5), "Unsupported extensions");
        form.chooseClass(row.chosen);

        form.supportedOnly->setChecked(true);
        EXPECT_EQ(form.offeredClasses(), offered);
        EXPECT_EQ(form.classes->currentData().toInt(), row.kept);
        EXPECT_EQ(form.detailNames(), row.rows);
    }
}

TEST_F(ViewerTest, ExecWithoutACertificateWarnsAndOpensNothing)
{
    X509Viewer dialog(nullptr, static_cast<X509Cert *>(nullptr), QLocale::c());
    ModalDriver driver;
    driver.expect<QMessageBox>([](QMessageBox *box) {
        EXPECT_EQ(box->windowTitle(), "Warning");
        EXPECT_EQ(box->text(), kUnusable);
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    EXPECT_EQ(dialog.exec(), 0);
}

TEST_F(ViewerTest, AnUnparseableCertificateWarnsThenOpensWithItsTabsDisabled)
{
    unsigned char const garbage[] = {0x30, 0x03, 0x02, 0x01};
    X509Viewer dialog(nullptr, garbage, (long long)sizeof garbage, QLocale::c());
    ModalDriver driver;
    driver.expect<QMessageBox>([](QMessageBox *box) {
        EXPECT_EQ(box->text(), kUnusable);
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    driver.expect<X509Viewer>([](X509Viewer *shown) {
        Form form(shown);
        EXPECT_FALSE(form.tabs->isEnabled());
        EXPECT_EQ(form.generalList->count(), 0);
        EXPECT_TRUE(form.generalText->toPlainText().isEmpty());
        EXPECT_FALSE(form.supportedOnly->isVisible());
        QTest::mouseClick(form.ok, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
}

TEST_F(ViewerTest, SpeaksTheLanguageOfItsLocaleWhileItIsOpen)
{
    struct Row {
        char const *name;
        QLocale locale;
        char const *catalogueInDirectory; // copied there as viewer_cs.qm
        QString title, general, allDetails, summary, nameHeader;
    };
    Row const rows[] = {
        {"Czech", QLocale(QLocale::Czech, QLocale::Czechia), nullptr, "Informace o certifikátu",
         "Obecné", "<Vše>", "Souhrn", "Název"},
        {"English", QLocale(QLocale::English, QLocale::UnitedStates), nullptr,
         "Certificate Information", "General", "<All details>", "Summary", "Name"},
        {"a language without a catalogue", QLocale(QLocale::German, QLocale::Germany), nullptr,
         "Certificate Information", "General", "<All details>", "Summary", "Name"},
        {"Czech, the directory's catalogue first", QLocale(QLocale::Czech, QLocale::Czechia),
         ":/translation/viewer_en", "Certificate Information", "General", "<All details>",
         "Summary", "Name"},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.catalogueInDirectory) {
            ASSERT_TRUE(QFile::copy(row.catalogueInDirectory, catalogues.filePath("viewer_cs.qm")));
        }
        X509Viewer dialog(nullptr, holderOf(endEntity()).get(), row.locale);
        ModalDriver driver;
        driver.expect<X509Viewer>([&row](X509Viewer *shown) {
            Form form(shown);
            EXPECT_EQ(shown->windowTitle(), row.title);
            EXPECT_EQ(form.tabs->tabText(0), row.general);
            EXPECT_EQ(form.classes->itemText(0), row.allDetails);
            EXPECT_EQ(form.generalList->item(0)->text(), row.summary);
            EXPECT_EQ(form.details->horizontalHeaderItem(0)->text(), row.nameHeader);
            QTest::mouseClick(form.ok, Qt::LeftButton);
        });
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        // Closing the dialog takes its catalogue out of the application.
        EXPECT_EQ(translated("General"), "General");
    }
}
