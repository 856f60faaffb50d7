// Writes PNGs of the certificate dialog's two tabs, in Czech and in English,
// into the directory given, so that people can look at how the rich texts are
// drawn. Run by scripts/certview-screenshots; the tests never compare pixels.

#include "certview/x509_cert.h"
#include "certview/x509_viewer.h"

#include "cert_builder.h"

#include <cstdio>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QListWidget>
#include <QTabWidget>
#include <QTableWidget>

using Orvane::Certificate::X509Cert;
using Orvane::Certificate::X509Viewer;

namespace
{

certtest::CertSpec showcase()
{
    certtest::CertSpec spec;
    spec.serial = certtest::hex("4F 1A 9C E2 07 B3 58 D1 6E 20 AF 93 C4 0B 7D 15");
    spec.subject = {{"CN", "Jana Nováková"}, {"O", "Example Test Org"}, {"C", "CZ"}};
    spec.extensions = {
        certtest::confExt("basicConstraints", "critical,CA:FALSE"),
        certtest::confExt("keyUsage", "critical,digitalSignature,keyEncipherment"),
        certtest::confExt("extendedKeyUsage", "serverAuth,clientAuth"),
        certtest::confExt("subjectKeyIdentifier", "hash"),
        certtest::confExt("subjectAltName", "email:jana@example.test,DNS:jana.example.test"),
        certtest::confExt("crlDistributionPoints", "URI:http://crl.example.test/root.crl"),
        certtest::confExt("authorityInfoAccess", "OCSP;URI:http://ocsp.example.test/"),
        certtest::confExt("certificatePolicies", "1.2.3.4.5"),
        certtest::rawExt("1.2.3.4", certtest::hex("0C 03 61 62 63")),
    };
    return spec;
}

bool save(QWidget *dialog, QString const &path)
{
    QApplication::processEvents();
    if (dialog->grab().save(path))
        return true;
    std::fprintf(stderr, "certview_screenshots: cannot write %s\n", qPrintable(path));
    return false;
}

bool shoot(X509Cert &cert, QLocale const &locale, QString const &lang, QDir const &out)
{
    X509Viewer dialog(nullptr, &cert, locale);
    dialog.init();
    dialog.show();
    bool ok = save(&dialog, out.filePath("general_" + lang + ".png"));

    // The fingerprints, whose hexadecimal values are the widest texts of the tab.
    auto *general = dialog.findChild<QListWidget *>("IDC_CERT_LIST");
    QString fingerprints = QCoreApplication::translate("X509Viewer", "Fingerprints");
    for (int row = 0; row < general->count(); ++row) {
        if (general->item(row)->text() == fingerprints)
            general->setCurrentRow(row);
    }
    ok = save(&dialog, out.filePath("fingerprints_" + lang + ".png")) && ok;

    // Every extension listed, the distribution points shown.
    dialog.findChild<QTabWidget *>("IDD_CERT_TABS")->setCurrentIndex(1);
    dialog.findChild<QCheckBox *>("IDC_DETAIL_SUPPORTED")->setChecked(false);
    auto *table = dialog.findChild<QTableWidget *>("IDC_DETAIL_LIST");
    QString shown = QCoreApplication::translate("X509Viewer", "CRL Distribution Points");
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 0)->text() == shown)
            table->setCurrentCell(row, 0);
    }
    ok = save(&dialog, out.filePath("details_" + lang + ".png")) && ok;

    // The serial number, in hexadecimal and decimal rows.
    shown = QCoreApplication::translate("X509Viewer", "Serial Number");
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 0)->text() == shown)
            table->setCurrentCell(row, 0);
    }
    ok = save(&dialog, out.filePath("serial_" + lang + ".png")) && ok;
    dialog.hide();
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: certview_screenshots <output directory>\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "certview_screenshots: cannot make %s\n", argv[1]);
        return 1;
    }
    certtest::Bytes der = certtest::derOf(certtest::makeCert(showcase()).get());
    X509Cert cert(der.data(), (long long)der.size());
    bool ok = shoot(cert, QLocale(QLocale::Czech, QLocale::Czechia), "cs", out) &&
              shoot(cert, QLocale(QLocale::English, QLocale::UnitedStates), "en", out);
    return ok ? 0 : 1;
}
