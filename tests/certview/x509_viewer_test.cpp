#include "certview/x509_cert.h"
#include "certview/x509_viewer.h"

#include "modal_driver.h"
#include "qt_test_app.h"
#include "test_certificates.h"

#include <memory>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTest>

#include <gtest/gtest.h>

using Orvane::Certificate::X509Cert;
using Orvane::Certificate::X509Viewer;

namespace
{

QStringList const kGeneral = {"Summary", "Subject", "Issuer", "Validity", "Fingerprints"};
QStringList const kBaseFields = {"Subject",           "Issuer",
                                 "Validity",          "Fingerprints",
                                 "Digital Signature", "Public Key Informations",
                                 "Version",           "Serial Number"};
QStringList const kEndEntityCritical = {"Basic Constraints", "Public Key Usage"};
QStringList const kEndEntityNoncritical = {"Extended Key Usage", "Subject Key Identifier"};

template <class T> T *child(QWidget *dialog, char const *name)
{
    T *found = dialog->findChild<T *>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QTabWidget *tabs(QWidget *d)
{
    return child<QTabWidget>(d, "IDD_CERT_TABS");
}
QListWidget *generalList(QWidget *d)
{
    return child<QListWidget>(d, "IDC_CERT_LIST");
}
QTextEdit *generalText(QWidget *d)
{
    return child<QTextEdit>(d, "IDC_CERT_DATA");
}
QComboBox *classCombo(QWidget *d)
{
    return child<QComboBox>(d, "IDC_DETAIL_CLASS");
}
QTableWidget *detailTable(QWidget *d)
{
    return child<QTableWidget>(d, "IDC_DETAIL_LIST");
}
QTextEdit *detailText(QWidget *d)
{
    return child<QTextEdit>(d, "IDC_DETAIL_DATA");
}
QCheckBox *supportedOnly(QWidget *d)
{
    return child<QCheckBox>(d, "IDC_DETAIL_SUPPORTED");
}

QStringList generalNames(QWidget *d)
{
    QStringList names;
    for (int i = 0; i < generalList(d)->count(); ++i)
        names << generalList(d)->item(i)->text();
    return names;
}

QStringList detailColumn(QWidget *d, int column)
{
    QStringList texts;
    for (int row = 0; row < detailTable(d)->rowCount(); ++row)
        texts << detailTable(d)->item(row, column)->text();
    return texts;
}

std::vector<int> comboClasses(QWidget *d)
{
    std::vector<int> values;
    for (int i = 0; i < classCombo(d)->count(); ++i)
        values.push_back(classCombo(d)->itemData(i).toInt());
    return values;
}

// As a user's choice in the combo does it.
void chooseClass(QWidget *d, int detailClass)
{
    QComboBox *combo = classCombo(d);
    int index = combo->findData(detailClass);
    ASSERT_GE(index, 0) << "class " << detailClass << " not offered";
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

bool sameImage(QIcon const &icon, char const *resource)
{
    return icon.pixmap(16).toImage() == QIcon(resource).pixmap(16).toImage();
}

QString translated(char const *source)
{
    return QCoreApplication::translate("X509Viewer", source);
}

QString const kUnusable = "Application can't show this certificate.";

class ViewerTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Catalogues come from the resources unless a test puts one here;
        // whatever is installed on the machine stays out of the tests.
        ASSERT_TRUE(catalogues.isValid());
        X509Viewer::setTranslationDirectory(catalogues.path() + "/");
    }

    // A dialog as the card manager makes it: from the DER value of a card
    // certificate, filled as exec() fills it, but not shown.
    std::unique_ptr<X509Viewer> open(testcerts::Spec const &spec,
                                     QLocale locale = QLocale(QLocale::English,
                                                              QLocale::UnitedStates))
    {
        std::vector<unsigned char> der = testcerts::der(testcerts::make(spec).get());
        X509Cert cert(der.data(), (long long)der.size());
        auto dialog = std::make_unique<X509Viewer>(nullptr, &cert, locale);
        dialog->init();
        return dialog;
    }

    QTemporaryDir catalogues;
};

} // namespace

TEST_F(ViewerTest, GeneralTabListsTheOverviewFieldsAndShowsTheChosenOne)
{
    testcerts::Spec markup;
    markup.subject = "<b>Eve</b> & <a href=\"x\">Co</a>";
    struct Row {
        char const *name;
        testcerts::Spec spec;
    };
    Row const rows[] = {
        {"end entity", testcerts::endEntity()},
        {"authority", testcerts::authority()},
        {"version 1", testcerts::version1()},
        {"markup in the subject", markup},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        auto dialog = open(row.spec);
        EXPECT_EQ(generalNames(dialog.get()), kGeneral);
        EXPECT_EQ(generalList(dialog.get())->currentRow(), 0);
        EXPECT_TRUE(generalText(dialog.get())->toPlainText().contains("Issued by"));

        generalList(dialog.get())->setCurrentRow(1);
        // Certificate values show as text, never as markup.
        EXPECT_TRUE(generalText(dialog.get())
                        ->toPlainText()
                        .contains(QString::fromStdString(row.spec.subject)))
            << generalText(dialog.get())->toPlainText().toStdString();
        EXPECT_FALSE(generalText(dialog.get())->toHtml().contains("<a href"));
    }
}

TEST_F(ViewerTest, EachDetailClassListsItsRows)
{
    enum Box { SupportedOnly, AllExtensions };
    struct Row {
        char const *name;
        testcerts::Spec spec;
        Box box;
        int detailClass;
        QStringList rows;
    };
    Row const rows[] = {
        {"all details", testcerts::endEntity(), SupportedOnly, X509Viewer::DetailAll,
         kBaseFields + kEndEntityCritical + kEndEntityNoncritical},
        {"common", testcerts::endEntity(), SupportedOnly, X509Viewer::DetailCommon, kBaseFields},
        {"extensions", testcerts::endEntity(), SupportedOnly, X509Viewer::DetailExtensions,
         kEndEntityCritical + kEndEntityNoncritical},
        {"noncritical", testcerts::endEntity(), SupportedOnly, X509Viewer::DetailNoncritical,
         kEndEntityNoncritical},
        {"critical", testcerts::endEntity(), SupportedOnly, X509Viewer::DetailCritical,
         kEndEntityCritical},
        {"all details with unsupported", testcerts::endEntity(), AllExtensions,
         X509Viewer::DetailAll,
         kBaseFields + kEndEntityCritical + kEndEntityNoncritical + QStringList{"1.2.3.4"}},
        {"noncritical with unsupported", testcerts::endEntity(), AllExtensions,
         X509Viewer::DetailNoncritical, kEndEntityNoncritical + QStringList{"1.2.3.4"}},
        {"unsupported only",
         testcerts::endEntity(),
         AllExtensions,
         X509Viewer::DetailUnsupported,
         {"1.2.3.4"}},
        {"critical, none there",
         testcerts::noncriticalOnly(),
         AllExtensions,
         X509Viewer::DetailCritical,
         {}},
        {"extensions of a version 1 certificate",
         testcerts::version1(),
         SupportedOnly,
         X509Viewer::DetailExtensions,
         {}},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        auto dialog = open(row.spec);
        tabs(dialog.get())->setCurrentIndex(1);
        supportedOnly(dialog.get())->setChecked(row.box == SupportedOnly);
        ASSERT_FALSE(detailText(dialog.get())->toPlainText().isEmpty());
        chooseClass(dialog.get(), row.detailClass);

        EXPECT_EQ(detailColumn(dialog.get(), 0), row.rows);
        // The first row is chosen and shown; an empty list clears the pane.
        QString shown = detailText(dialog.get())->toPlainText();
        if (row.rows.isEmpty()) {
            EXPECT_TRUE(shown.isEmpty());
        } else {
            EXPECT_EQ(detailTable(dialog.get())->currentRow(), 0);
        }
        if (!row.rows.isEmpty() && row.rows[0] == "Subject") {
            EXPECT_TRUE(shown.contains("Test Holder")) << shown.toStdString();
        }
    }
}

TEST_F(ViewerTest, DetailRowsCarryTheirIconAndPlainValueAndShowTheirRichText)
{
    auto dialog = open(testcerts::endEntity());
    supportedOnly(dialog.get())->setChecked(false);
    chooseClass(dialog.get(), X509Viewer::DetailAll);

    QTableWidget *table = detailTable(dialog.get());
    std::vector<char const *> icons(kBaseFields.size(), ":/image/text");
    icons.insert(icons.end(),
                 {":/image/ex_critical", ":/image/ex_critical", ":/image/ex_noncritical",
                  ":/image/ex_noncritical", ":/image/warning"});
    ASSERT_EQ(table->rowCount(), (int)icons.size());
    for (int row = 0; row < table->rowCount(); ++row) {
        SCOPED_TRACE(table->item(row, 0)->text().toStdString());
        EXPECT_TRUE(sameImage(table->item(row, 0)->icon(), icons[row]));
        EXPECT_FALSE(table->item(row, 0)->toolTip().isEmpty());
    }
    int version = kBaseFields.indexOf("Version");
    EXPECT_EQ(table->item(version, 1)->text(), "V3 (0x02)");

    table->setCurrentCell(version, 0);
    EXPECT_TRUE(detailText(dialog.get())->toPlainText().contains("V3 (0x02)"));
}

TEST_F(ViewerTest, TheSupportedOnlyBoxShowsOnDetailsOnlyWhenThereIsSomethingToHide)
{
    struct Row {
        char const *name;
        testcerts::Spec spec;
        bool hasUnsupported;
    };
    Row const rows[] = {
        {"unsupported extension", testcerts::endEntity(), true},
        {"all extensions supported", testcerts::authority(), false},
        {"no extensions", testcerts::version1(), false},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        auto dialog = open(row.spec);
        QCheckBox *box = supportedOnly(dialog.get());
        EXPECT_TRUE(box->isChecked());
        EXPECT_EQ(classCombo(dialog.get())->count(), 5);
        EXPECT_FALSE(box->isVisibleTo(dialog.get()));
        tabs(dialog.get())->setCurrentIndex(1);
        EXPECT_EQ(box->isVisibleTo(dialog.get()), row.hasUnsupported);
        tabs(dialog.get())->setCurrentIndex(0);
        EXPECT_FALSE(box->isVisibleTo(dialog.get()));
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
         kBaseFields + kEndEntityCritical + kEndEntityNoncritical},
        {X509Viewer::DetailNoncritical, X509Viewer::DetailNoncritical, kEndEntityNoncritical},
        {X509Viewer::DetailCommon, X509Viewer::DetailCommon, kBaseFields},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.chosen);
        auto dialog = open(testcerts::endEntity());
        tabs(dialog.get())->setCurrentIndex(1);
        supportedOnly(dialog.get())->setChecked(false);
        EXPECT_EQ(comboClasses(dialog.get()), withUnsupported);
        EXPECT_EQ(classCombo(dialog.get())->itemText(5), "Unsupported extensions");
        chooseClass(dialog.get(), row.chosen);

        supportedOnly(dialog.get())->setChecked(true);
        EXPECT_EQ(comboClasses(dialog.get()), offered);
        EXPECT_EQ(classCombo(dialog.get())->currentData().toInt(), row.kept);
        EXPECT_EQ(detailColumn(dialog.get(), 0), row.rows);
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
        EXPECT_FALSE(tabs(shown)->isEnabled());
        EXPECT_EQ(generalList(shown)->count(), 0);
        EXPECT_TRUE(generalText(shown)->toPlainText().isEmpty());
        EXPECT_FALSE(supportedOnly(shown)->isVisible());
        shown->accept();
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
        QTemporaryDir directory;
        X509Viewer::setTranslationDirectory(directory.path());
        if (row.catalogueInDirectory) {
            ASSERT_TRUE(QFile::copy(row.catalogueInDirectory, directory.filePath("viewer_cs.qm")));
        }

        std::vector<unsigned char> der =
            testcerts::der(testcerts::make(testcerts::endEntity()).get());
        X509Cert cert(der.data(), (long long)der.size());
        X509Viewer dialog(nullptr, &cert, row.locale);
        ModalDriver driver;
        driver.expect<X509Viewer>([&row](X509Viewer *shown) {
            EXPECT_EQ(shown->windowTitle(), row.title);
            EXPECT_EQ(tabs(shown)->tabText(0), row.general);
            EXPECT_EQ(classCombo(shown)->itemText(0), row.allDetails);
            EXPECT_EQ(generalList(shown)->item(0)->text(), row.summary);
            EXPECT_EQ(detailTable(shown)->horizontalHeaderItem(0)->text(), row.nameHeader);
            QTest::mouseClick(
                child<QDialogButtonBox>(shown, "IDC_OK")->button(QDialogButtonBox::Ok),
                Qt::LeftButton);
        });
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        // Closing the dialog takes its catalogue out of the application.
        EXPECT_EQ(translated("General"), "General");
    }
}
