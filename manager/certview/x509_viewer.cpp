#include "certview/x509_viewer.h"

#include "certview/translation_loader.h"
#include "certview/x509_cert.h"
#include "certview/x509_common.h"
#include "certview/x509_v3ext.h"

#include "ui_x509_viewer.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTranslator>

namespace Orvane::Certificate
{

namespace
{

// The dialog's texts belong to the context "X509Viewer" whatever the class
// is called in C++.
QString translated(char const *source)
{
    return QCoreApplication::translate("X509Viewer", source);
}

struct DetailClassEntry {
    X509Viewer::eCertDetailClass value;
    char const *text;
    char const *icon;
};

// In combo order; the last entry is offered only while unsupported
// extensions may be shown.
DetailClassEntry const kDetailClasses[] = {
    {X509Viewer::DetailAll, QT_TRANSLATE_NOOP("X509Viewer", "<All details>"), ":/image/star"},
    {X509Viewer::DetailCommon, QT_TRANSLATE_NOOP("X509Viewer", "Common"), ":/image/text"},
    {X509Viewer::DetailExtensions, QT_TRANSLATE_NOOP("X509Viewer", "Extensions"),
     ":/image/ex_noncritical"},
    {X509Viewer::DetailNoncritical, QT_TRANSLATE_NOOP("X509Viewer", "Only noncritical extensions"),
     ":/image/ex_noncritical"},
    {X509Viewer::DetailCritical, QT_TRANSLATE_NOOP("X509Viewer", "Only critical extensions"),
     ":/image/ex_critical"},
    {X509Viewer::DetailUnsupported, QT_TRANSLATE_NOOP("X509Viewer", "Unsupported extensions"),
     ":/image/warning"},
};
int const kAlwaysOffered = 5;

QString gDirectory = QStringLiteral("/usr/local/share/vtorix-cm-nivalo/translations/");

// "cs_CZ" gives "cs", a two-letter name stays as it is, anything else is "en".
QString languageCode(QString const &localeName)
{
    if (localeName.size() == 5)
        return localeName.left(2);
    if (localeName.size() == 2)
        return localeName;
    return QStringLiteral("en");
}

bool isExtension(X509Property const *item)
{
    return item->GetVersion() == 2;
}

QString textOf(X509Property const *item, eTextReturnType form)
{
    if (isExtension(item))
        return static_cast<X509v3Ext const *>(item)->GetText(form);
    return static_cast<X509Common const *>(item)->GetText(form);
}

// Which extensions a class shows, before the unsupported ones are weighed.
bool classTakes(int detailClass, X509v3Ext const *ext)
{
    switch (detailClass) {
    case X509Viewer::DetailAll:
    case X509Viewer::DetailExtensions:
        return true;
    case X509Viewer::DetailCritical:
        return ext->IsCritical();
    case X509Viewer::DetailNoncritical:
        return !ext->IsCritical();
    case X509Viewer::DetailUnsupported:
        return !ext->IsSupported();
    default:
        return false;
    }
}

char const *extensionIcon(X509v3Ext const *ext)
{
    if (!ext->IsSupported())
        return ":/image/warning";
    return ext->IsCritical() ? ":/image/ex_critical" : ":/image/ex_noncritical";
}

} // namespace

X509Viewer::X509Viewer(QWidget *parent, QLocale const &locale)
    : QDialog(parent), form(std::make_unique<Ui::X509Viewer>())
{
    initLocale(locale);
    form->setupUi(this);
    connect(form->IDC_OK, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(form->IDC_DETAIL_SUPPORTED, &QCheckBox::stateChanged, this,
            &X509Viewer::OnSupportedChanged);
    connect(form->IDD_CERT_TABS, &QTabWidget::currentChanged, this, &X509Viewer::TabSelected);
    connect(form->IDC_DETAIL_CLASS, &QComboBox::activated, this, &X509Viewer::OnDetailClass);
    connect(form->IDC_DETAIL_LIST, &QTableWidget::itemSelectionChanged, this,
            &X509Viewer::OnDetailSelectionChange);
    connect(form->IDC_CERT_LIST, &QListWidget::clicked, this, [this] { setFocus(); });
    connect(form->IDC_CERT_LIST, &QListWidget::currentRowChanged, this,
            &X509Viewer::OnGeneralSelected);
}

X509Viewer::X509Viewer(QWidget *parent, X509Cert *cert, QLocale locale) : X509Viewer(parent, locale)
{
    if (!cert)
        return;
    SetCertificate(*cert, false);
    constructed = true;
}

X509Viewer::X509Viewer(QWidget *parent, X509 *cert, QLocale locale) : X509Viewer(parent, locale)
{
    X509Cert source(cert);
    SetCertificate(source, false);
    constructed = true;
}

X509Viewer::X509Viewer(QWidget *parent, unsigned char const *data, long long length, QLocale locale)
    : X509Viewer(parent, locale)
{
    X509Cert source(data, length);
    SetCertificate(source, false);
    constructed = true;
}

X509Viewer::X509Viewer(QWidget *parent, char const *fileName, QLocale locale)
    : X509Viewer(parent, locale)
{
    X509Cert source(fileName);
    SetCertificate(source, false);
    constructed = true;
}

X509Viewer::~X509Viewer()
{
    removeTranslator();
}

QString X509Viewer::translationDirectory()
{
    return gDirectory;
}

void X509Viewer::setTranslationDirectory(QString const &directory)
{
    gDirectory = directory;
}

int X509Viewer::exec()
{
    if (!IsCertificateOK())
        showUnusableWarning();
    if (!constructed)
        return 0;
    installTranslator();
    init();
    return QDialog::exec();
}

void X509Viewer::done(int result)
{
    removeTranslator();
    QDialog::done(result);
}

bool X509Viewer::IsCertificateOK() const
{
    return certificate && certificate->IsCertificateOK();
}

X509Cert X509Viewer::GetCertificate() const
{
    if (certificate)
        return X509Cert(*certificate);
    return X509Cert(static_cast<X509 const *>(nullptr));
}

void X509Viewer::SetCertificate(X509Cert &cert, bool show)
{
    // The items shown belong to the copy that is about to go.
    generalItems.clear();
    detailRows.clear();
    certificate = std::make_unique<X509Cert>(cert);
    if (!show)
        return;
    if (!IsCertificateOK())
        showUnusableWarning();
    init();
}

void X509Viewer::showUnusableWarning()
{
    QMessageBox::warning(
        this, QCoreApplication::translate("X509Viewer", "Warning"),
        QCoreApplication::translate("X509Viewer", "Application can't show this certificate."),
        QMessageBox::Ok);
}

void X509Viewer::init()
{
    if (!form)
        return;
    if (!initGeneral()) {
        form->IDD_CERT_TABS->setEnabled(false);
    } else if (initDetail()) {
        OnDetailClass(form->IDC_DETAIL_CLASS->currentIndex());
    } else {
        form->IDD_CERT_TABS->setTabEnabled(form->IDD_CERT_TABS->indexOf(form->IDD_CERT_DETAILS),
                                           false);
    }
    TabSelected(form->IDD_CERT_TABS->currentIndex());
}

bool X509Viewer::initGeneral()
{
    if (!IsCertificateOK())
        return false;
    generalItems.clear();
    form->IDC_CERT_LIST->clear();
    X509Common const **list = nullptr;
    int count = 0;
    if (certificate->GetCommonList(&list, &count, X509Cert::SortByType, true) && count >= 5) {
        // Summary, Subject, Issuer, Validity and Fingerprints; the other base
        // fields are shown on the Details tab only.
        for (int i = 0; i < 5; ++i) {
            X509Common const *item = list[i];
            if (!item || !item->IsAvailable())
                continue;
            generalItems.push_back(item);
            auto *entry =
                new QListWidgetItem(item->GetIcon(), item->GetName(), form->IDC_CERT_LIST);
            entry->setToolTip(item->GetTooltip());
        }
    }
    delete[] list;
    form->IDC_CERT_LIST->setCurrentRow(0);
    return true;
}

bool X509Viewer::initDetail()
{
    if (!IsCertificateOK())
        return false;
    QComboBox *combo = form->IDC_DETAIL_CLASS;
    combo->clear();
    for (int i = 0; i < kAlwaysOffered; ++i)
        combo->addItem(QIcon(kDetailClasses[i].icon), translated(kDetailClasses[i].text),
                       kDetailClasses[i].value);
    hasUnsupported = certificate->ExtensionCount(FilterUnsupported) > 0;
    if (!hasUnsupported) {
        form->IDC_DETAIL_SUPPORTED->hide();
    } else if (!form->IDC_DETAIL_SUPPORTED->isChecked()) {
        DetailClassEntry const &last = kDetailClasses[kAlwaysOffered];
        combo->addItem(QIcon(last.icon), translated(last.text), last.value);
    }
    return true;
}

void X509Viewer::OnDetailClass(int index)
{
    int detailClass = form->IDC_DETAIL_CLASS->itemData(index).toInt();
    detailRows.clear();
    form->IDC_DETAIL_LIST->setRowCount(0);
    if (IsCertificateOK()) {
        if (detailClass & (DetailAll | DetailCommon)) {
            X509Common const **list = nullptr;
            int count = 0;
            if (certificate->GetCommonList(&list, &count, X509Cert::SortByIndex, true)) {
                for (int i = 0; i < count; ++i) {
                    // The summary is a General-tab page, never a detail row.
                    if (list[i] && list[i]->GetType() != X509Common::Summary)
                        addDetailItem(list[i], eCertDetailClass(detailClass));
                }
            }
            delete[] list;
        }
        if (detailClass & (DetailAll | DetailExtensions | DetailCritical | DetailNoncritical |
                           DetailUnsupported)) {
            X509v3Ext const **list = nullptr;
            int count = 0;
            if (certificate->GetExtensionList(&list, &count, X509Cert::SortByIndex, true)) {
                for (int i = 0; i < count; ++i)
                    addDetailItem(list[i], eCertDetailClass(detailClass));
            }
            delete[] list;
        }
    }
    if (form->IDC_DETAIL_LIST->rowCount() == 0) {
        form->IDC_DETAIL_DATA->clear();
        return;
    }
    form->IDC_DETAIL_LIST->setCurrentCell(0, 0);
    OnDetailSelectionChange();
}

bool X509Viewer::addDetailItem(X509Property const *item, eCertDetailClass detailClass)
{
    if (!item || !form || !item->IsAvailable())
        return false;
    char const *icon = ":/image/text";
    if (item->GetVersion() < 2) {
        if (detailClass != DetailAll && detailClass != DetailCommon)
            return false;
    } else if (isExtension(item)) {
        auto const *ext = static_cast<X509v3Ext const *>(item);
        if (!classTakes(detailClass, ext))
            return false;
        if (!ext->IsSupported() && (form->IDC_DETAIL_SUPPORTED->isChecked() || !hasUnsupported))
            return false;
        icon = extensionIcon(ext);
    } else {
        return false;
    }
    QTableWidget *table = form->IDC_DETAIL_LIST;
    int row = table->rowCount();
    detailRows.push_back(item);
    table->setRowCount(row + 1);
    auto *name = new QTableWidgetItem(QIcon(icon), item->GetName());
    name->setToolTip(item->GetTooltip());
    table->setItem(row, 0, name);
    table->setItem(row, 1, new QTableWidgetItem(textOf(item, TextPlain)));
    return true;
}

void X509Viewer::OnDetailSelectionChange()
{
    int row = form->IDC_DETAIL_LIST->currentRow();
    if (row < 0 || row >= (int)detailRows.size() || detailRows[row]->GetVersion() > 2) {
        form->IDC_DETAIL_DATA->clear();
        return;
    }
    X509Property const *item = detailRows[row];
    if (item->IsAvailable())
        form->IDC_DETAIL_DATA->setHtml(textOf(item, TextRich));
}

void X509Viewer::OnGeneralSelected(int index)
{
    if (IsCertificateOK() && index >= 0 && index < (int)generalItems.size() &&
        generalItems[index]->IsAvailable()) {
        form->IDC_CERT_DATA->setHtml(generalItems[index]->GetText(TextRich));
        return;
    }
    form->IDC_CERT_DATA->clear();
}

void X509Viewer::TabSelected(int index)
{
    form->IDC_DETAIL_SUPPORTED->setVisible(hasUnsupported && index == 1);
}

void X509Viewer::OnSupportedChanged(int)
{
    QComboBox *combo = form->IDC_DETAIL_CLASS;
    int index = combo->currentIndex();
    int detailClass = combo->itemData(index).toInt();
    if (!initDetail())
        return;
    // The unsupported class goes when only supported extensions are shown.
    if (detailClass == DetailUnsupported)
        index = 0;
    combo->setCurrentIndex(index);
    OnDetailClass(index);
}

bool X509Viewer::initLocale(QLocale locale)
{
    if (!translator)
        translator = new QTranslator(this);
    QString name = "viewer_" + languageCode(locale.name());
    if (translator->load(name, translationDirectory())) {
        installTranslator();
    } else if (Helper::TraslationLoader::LoadLibrary(translator, ":/translation/" + name,
                                                     ":/translation/sign/" + name,
                                                     ":/security/pubkey")) {
        translatorInstalled = true;
    }
    setLocale(locale);
    return true;
}

void X509Viewer::installTranslator()
{
    if (translator && !translatorInstalled && !translator->isEmpty())
        translatorInstalled = QCoreApplication::installTranslator(translator);
}

void X509Viewer::removeTranslator()
{
    if (translatorInstalled)
        QCoreApplication::removeTranslator(translator);
    translatorInstalled = false;
}

} // namespace Orvane::Certificate
