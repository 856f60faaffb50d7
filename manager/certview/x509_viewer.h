#ifndef VOK_CERTVIEW_X509_VIEWER_H
#define VOK_CERTVIEW_X509_VIEWER_H

#include <memory>
#include <vector>

#include <QDialog>
#include <QLocale>
#include <QString>

#include <openssl/types.h>

class QTranslator;

namespace Ui
{
class X509Viewer;
}

namespace Orvane::Certificate
{

class X509Cert;
class X509Common;
class X509Property;

// The modal dialog that shows one certificate in full. "General" lists up to
// five base fields as icons beside the rich text of the chosen one;
// "Details" lists base fields and extensions (name, plain value), narrowed by
// a detail class, beside the rich text of the chosen row. The dialog keeps its
// own copy of the certificate, so the caller may drop its holder once the
// dialog is constructed.
//
// Texts are English sources in the translation context "X509Viewer". The
// constructor installs the catalogue "viewer_<language>" of the locale given
// (cs_CZ gives "viewer_cs") from translationDirectory(), or, when that holds
// none, the signed copy in the viewer's resources; the catalogue is removed
// from the application again when the dialog closes and installed anew by
// each exec().
class X509Viewer : public QDialog
{
    Q_OBJECT

  public:
    // The value each entry of the detail-class combo carries (Qt::UserRole).
    enum eCertDetailClass {
        DetailAll = 1,
        DetailCommon = 2,
        DetailExtensions = 4,
        DetailCritical = 8,
        DetailNoncritical = 16,
        DetailUnsupported = 32
    };

    // A null certificate leaves the dialog unconstructed: exec() then shows
    // its warning and returns 0 without opening the dialog.
    X509Viewer(QWidget *parent, X509Cert *cert, QLocale locale);
    // These build the certificate from a parsed certificate, DER or PEM
    // bytes, or a file; a source that does not parse still gives a
    // constructed dialog, whose exec() warns and opens with the tabs disabled.
    X509Viewer(QWidget *parent, X509 *cert, QLocale locale);
    X509Viewer(QWidget *parent, unsigned char const *data, long long length, QLocale locale);
    X509Viewer(QWidget *parent, char const *fileName, QLocale locale);
    ~X509Viewer() override;

    int exec() override;

    bool IsCertificateOK() const;
    // A copy of the dialog's certificate (an empty holder when it has none).
    X509Cert GetCertificate() const;
    // Replaces the dialog's copy; with show set, warns about an unusable
    // certificate and fills both tabs.
    void SetCertificate(X509Cert &cert, bool show);
    // Fills both tabs from the certificate.
    void init();

    // Where the catalogues are looked for first:
    // "/usr/local/share/vtorix-cm-nivalo/translations/" unless set.
    static QString translationDirectory();
    static void setTranslationDirectory(QString const &directory);

  public slots:
    virtual void OnGeneralSelected(int index);
    virtual void OnDetailSelectionChange();
    virtual void OnDetailClass(int index = 0);
    virtual void TabSelected(int index);
    virtual void OnSupportedChanged(int state);

  protected:
    void done(int result) override;

    bool initGeneral();
    bool initDetail();
    bool initLocale(QLocale locale);
    bool addDetailItem(X509Property const *item, eCertDetailClass detailClass);

  private:
    X509Viewer(QWidget *parent, QLocale const &locale);
    void showUnusableWarning();
    void installTranslator();
    void removeTranslator();

    bool constructed = false;
    bool hasUnsupported = false;
    std::unique_ptr<Ui::X509Viewer> form;
    QTranslator *translator = nullptr; // child of the dialog
    bool translatorInstalled = false;
    std::unique_ptr<X509Cert> certificate;
    // Items of the copy shown on the General tab and behind each detail row.
    std::vector<X509Common const *> generalItems;
    std::vector<X509Property const *> detailRows;
};

} // namespace Orvane::Certificate

#endif
