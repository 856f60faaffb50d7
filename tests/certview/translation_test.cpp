// The model in Czech: texts pass through the viewer's translation context, names
// and tooltips in the language installed when the items are made.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTranslator>

#include "cert_builder.h"
#include "certview/x509_cert.h"
#include "html_expect.h"

using namespace certtest;
using namespace Orvane::Certificate;

namespace
{

class Czech : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(VOK_CERTVIEW_QM)));
        ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    int argc = 1;
    char name[16] = "translation";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTranslator translator;
};

TEST_F(Czech, SummaryTextAndItemNames)
{
    CertSpec spec;
    spec.extensions = {confExt("inhibitAnyPolicy", "1"), rawExt("1.2.3.4.5", hex("05 00"))};
    X509Ptr x = makeCert(spec);
    X509Cert holder(x.get());
    EXPECT_EQ(holder.GetCertInfo(TextPlain),
              QString::fromUtf8("Vydavatel: Test Holder, Test Org, CZ\n"
                                "Předmět: Test Holder, Test Org, CZ\n"
                                "Sériové číslo: 0x(01)\n"
                                "Počet rozšíření: 2\n"
                                "Rozšíření: Zákaz Any-Policy, 1.2.3.4.5"));
    const X509Common **list = nullptr;
    int count = 0;
    ASSERT_TRUE(holder.GetCommonList(&list, &count, X509Cert::SortByType, true));
    EXPECT_EQ(list[8]->GetName(), QString::fromUtf8("Sériové číslo"));
    EXPECT_EQ(list[3]->GetTooltip(), QString::fromUtf8("Platnost tohoto certifikátu"));
    delete[] list;

    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(X509Cert(x.get()).GetCertInfo(TextPlain).left(8), "Issuer: ");
    // items keep the language they were made in
    EXPECT_TRUE(
        holder.GetCertInfo(TextPlain).endsWith(QString::fromUtf8("Zákaz Any-Policy, 1.2.3.4.5")));
}

TEST_F(Czech, PurposesAndLabelsOfTheSummary)
{
    X509Ptr x = makeCert({});
    Page summary = pageParts(X509Common(x.get(), X509Common::Summary).GetText(TextRich));
    const char *rows[] = {"SSL Server", "Podpis seznamu zrušených certifikátů (CRL)",
                          "Kterékoliv/Všechny účely(CA)"};
    for (const char *row : rows) {
        SCOPED_TRACE(row);
        EXPECT_TRUE(summary.heading.contains(indent(10, QString::fromUtf8(row))));
    }
    EXPECT_TRUE(summary.heading.startsWith(bold(QString::fromUtf8("Účel certifikátu: "))));
    EXPECT_TRUE(summary.body.startsWith(bold("Vydavatel: ")));
}

TEST_F(Czech, ExtensionTextsWithTheirUntranslatedExceptions)
{
    CertSpec spec;
    spec.extensions = {confExt("nsCertType", "objsign,sslCA"),
                       confExt("nameConstraints", "permitted;DNS:.test,excluded;DNS:.bad"),
                       confExt("extendedKeyUsage", "timeStamping,codeSigning")};
    X509Ptr x = makeCert(spec);
    X509Cert holder(x.get());
    EXPECT_EQ(holder.GetExtensionText(X509v3Ext::NetscapeCertType, TextPlain),
              QString::fromUtf8("Podepisování objektů, Certifikační úřad pro SSL"));
    EXPECT_TRUE(holder.GetExtensionText(X509v3Ext::NetscapeCertType, TextRich)
                    .contains(QString::fromUtf8("k vydání certifikátů pro SSL spojení.")));
    Page constraints = pageParts(holder.GetExtensionText(X509v3Ext::NameConstraints, TextRich));
    EXPECT_EQ(constraints.heading, QString::fromUtf8("Omezení jmenného prostoru - Nekritické"));
    EXPECT_TRUE(constraints.body.startsWith(bold(QString::fromUtf8("Vyloučené podstromy"))));
    EXPECT_TRUE(constraints.body.contains(bold("Permitted subtrees")));
    EXPECT_EQ(holder.GetExtensionText(X509v3Ext::ExtendedKeyUsage, TextPlain),
              QString::fromUtf8("Timestamping, Podpis kódu"));
}

} // namespace
