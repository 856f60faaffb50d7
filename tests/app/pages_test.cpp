// The page resources of both languages: their markers, link commands, labels and the
// resources they use; filling markers with values that look like markup or markers; and
// hexadecimal values in the laid-out pages.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSet>
#include <QTextBrowser>
#include <QTextBlock>
#include <QTextLayout>

#include "certview/html_parts.h"
#include "page_fill.h"
#include "page_view.h"
#include "qt_print.h"

namespace
{

struct Label {
    const char *cz, *en;
    int marker;
    bool hex = false; // a hexadecimal value, never split inside a byte (class "hex")
};

// A statement a page makes, in both languages.
struct Notice {
    const char *cz, *en;
};

struct PageSpec {
    const char *name;
    int markers;
    QSet<QString> links;
    std::vector<Label> labels;
    std::vector<Notice> notices = {};
};

const std::vector<Label> kCardLabels = {
    {"Číslo karty:", "Card number:", 1, true},
    {"Počet pokusů zadání PINu akt./nast.[max. nast]:",
     "Number of PIN input attempts current/max[max possible]:", 2},
    {"Počet pokusů zadání PUKu akt./nast.[max. nast]:",
     "Number of PUK input attempts current/max[max possible]:", 3},
    {"Počet kontejnerů použitých/celkem:", "Number of containers (used/total):", 4},
    {"Počet RSA 2048b. klíčů (použitých/celkem):", "Number of 2048b. RSA keys (used/total):", 5},
    {"Volný prostor:", "Free space:", 6},
    {"Celkový prostor:", "Total space:", 7},
};
const std::vector<Label> kKeyLabels = {
    {"Název:", "Name:", 1}, {"Délka:", "Size:", 2}, {"Typ:", "Type:", 3}, {"Klíče:", "Keys:", 4}};

std::vector<Label> plus(std::vector<Label> a, const std::vector<Label> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const PageSpec kPages[] = {
    {"welcome", 1, {"reload"}, {}},
    {"wizard", 1, {}, {}},
    {"diag", 1, {"reload", "toFile", "toClipboard"}, {}},
    {"reader",
     7,
     {"reload"},
     {{"Název:", "Name:", 1},
      {"Výrobce:", "Vendor:", 2},
      {"Typ:", "Type:", 3},
      {"Typ komunikace:", "Communication:", 4},
      {"Připojeno:", "Connected as:", 5},
      {"Název karty:", "Card name:", 6},
      {"ATR:", "ATR:", 7}}},
    {"card", 7, {"changePin", "changePuk", "importKey"}, kCardLabels},
    {"cardblocked",
     7,
     {"changePuk", "unblockPin"},
     kCardLabels,
     {{"PIN karty je zablokovaný. Odblokujte jej pomocí PUK.",
       "The PIN of the card is blocked. Unblock it with the PUK."}}},
    // nothing left to do with either secret
    {"cardbothblocked",
     7,
     {},
     kCardLabels,
     {{"PIN i PUK karty jsou zablokovány. Tento program je nemůže odblokovat.",
       "Both the PIN and the PUK of the card are blocked. This program cannot unblock them."}}},
    {"key",
     8,
     {"exportKey", "testKey", "deleteObject", "toCertificate"},
     plus(kKeyLabels, {{"Sériové číslo:", "Serial number:", 5, true},
                       {"Platnost:", "Validity:", 6},
                       {"Vydal:", "Issuer:", 7},
                       {"Pro:", "Subject:", 8}})},
    // the container may hold another key's certificate
    {"keynocert",
     4,
     {"exportKey", "importCert", "testKey", "deleteObject"},
     kKeyLabels,
     {{"Klíč nemá certifikát.", "The key has no certificate."}}},
    {"cert",
     6,
     {"showCertview", "exportCert", "deleteObject"},
     {{"Sériové číslo:", "Serial number:", 1, true},
      {"Platnost:", "Validity:", 2},
      {"Vydavatel:", "Issuer:", 3},
      {"Subjekt:", "Subject:", 4},
      {"Verze:", "Version:", 5},
      {"SHA1:", "SHA1:", 6, true}}},
};

QString page(const QString &lang, const QString &name)
{
    QFile file(":/pages/" + lang + "/" + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList captures(const QString &text, const char *pattern)
{
    QStringList found;
    auto it = QRegularExpression(QString::fromLatin1(pattern)).globalMatch(text);
    while (it.hasNext())
        found << it.next().captured(1);
    return found;
}

} // namespace

TEST(PageResources, EachPageHasItsMarkersLinksLabelsAndResourcesInBothLanguages)
{
    for (const PageSpec &spec : kPages) {
        for (QString lang : {"cz", "en"}) {
            SCOPED_TRACE(lang.toStdString() + "/" + spec.name);
            QString text = page(lang, spec.name);
            ASSERT_FALSE(text.isEmpty());
            EXPECT_TRUE(
                text.contains(R"(<link rel="stylesheet" type="text/css" href="qrc:/style" />)"));

            QStringList markers = captures(text, "%(\\d+)");
            markers.sort();
            QStringList expected;
            for (int n = 1; n <= spec.markers; ++n)
                expected << QString::number(n);
            EXPECT_EQ(markers, expected);

            QStringList links = captures(text, "<a href=\"([^\"]*)\"");
            EXPECT_EQ(QSet<QString>(links.begin(), links.end()), spec.links);
            EXPECT_EQ(links.size(), spec.links.size()) << "a command linked twice";

            for (const Label &label : spec.labels) {
                const QString hex = label.hex ? " hex" : "";
                QString pair = "<td class=\"label" + hex + "\">" +
                               QString::fromUtf8(lang == "cz" ? label.cz : label.en) +
                               "</td><td class=\"value" + hex + "\">%" +
                               QString::number(label.marker);
                EXPECT_TRUE(text.contains(pair)) << pair.toStdString();
            }

            for (const Notice &notice : spec.notices) {
                const QString said = QString::fromUtf8(lang == "cz" ? notice.cz : notice.en);
                EXPECT_TRUE(text.contains(said)) << said.toStdString();
            }

            for (const QString &resource : captures(text, "\"qrc:(/[^\"]*)\"")) {
                EXPECT_TRUE(QFile::exists(":" + resource)) << resource.toStdString();
                if (resource.startsWith("/buttons/")) {
                    EXPECT_TRUE(resource.startsWith("/buttons/" + lang + "/"))
                        << resource.toStdString();
                }
            }
        }
    }
}

TEST(FillPage, ValuesAreEscapedAndNeverReadAgainAsMarkers)
{
    struct Row {
        const char *page;
        QStringList values;
        const char *filled;
    };
    const Row rows[] = {
        {"%1-%2", {"a", "b"}, "a-b"},
        {"%2 %1", {"a", "b"}, "b a"},
        {"%1|%2|%3", {"%3", "%2", "x"}, "%3|%2|x"},
        {"<td>%1</td>",
         {"<a href=\"reload\">go</a>"},
         "<td>&lt;a href=&quot;reload&quot;&gt;go&lt;/a&gt;</td>"},
        {"%1", {"R&D 'x'"}, "R&amp;D 'x'"},
        {"%1 %2 100%", {"a"}, "a %2 100%"},
        {"%10 %1", QStringList(10, "v"), "v v"},
        {"%0 %", {"a"}, "%0 %"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.page);
        EXPECT_EQ(fillPage(QString::fromUtf8(row.page), row.values), QString::fromUtf8(row.filled));
    }
}

TEST(FillPage, HostileValuesShowLiterallyInTheReaderPage)
{
    const QStringList values = {"Reader <a href=\"changePin\">PIN</a>",
                                "%3",
                                "<b>bold</b>",
                                "PC/SC",
                                "&amp;",
                                "%1%2",
                                "3B 0D "};
    for (QString lang : {"cz", "en"}) {
        SCOPED_TRACE(lang.toStdString());
        QTextBrowser view;
        view.setHtml(fillPage(page(lang, "reader"), values));
        QString shown = view.toPlainText();
        for (const QString &value : values)
            EXPECT_TRUE(shown.contains(value)) << value.toStdString();
        QStringList anchors;
        for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next())
            for (auto f = b.begin(); !f.atEnd(); ++f)
                if (f.fragment().charFormat().isAnchor())
                    anchors << f.fragment().charFormat().anchorHref();
        anchors.removeDuplicates();
        EXPECT_EQ(anchors, QStringList{"reload"});
    }
}

// The buttons of a page (pictures that are links) stand in a line of their own, below
// any sentence of the page: Qt's rich text puts what follows a paragraph into the
// paragraph's block unless it is a block itself, and a short sentence then shares its
// line with the first button.
TEST(PageLayout, ButtonsNeverShareALineWithASentence)
{
    for (const PageSpec &spec : kPages) {
        for (QString lang : {"cz", "en"}) {
            SCOPED_TRACE(lang.toStdString() + "/" + spec.name);
            QTextBrowser view;
            view.setHtml(fillPage(page(lang, spec.name), QStringList(spec.markers, "1")));
            for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next()) {
                bool button = false, words = false;
                for (auto f = b.begin(); !f.atEnd(); ++f) {
                    const QTextCharFormat format = f.fragment().charFormat();
                    if (format.isImageFormat())
                        button = button || format.isAnchor();
                    else
                        words = words || f.fragment().text().contains(QRegularExpression("\\w"));
                }
                EXPECT_FALSE(button && words) << b.text().toStdString();
            }
        }
    }
}

// A card number, certificate serial numbers or a SHA-1 fingerprint, with the break marks
// the window puts between their bytes, in a page laid out at the widths the page area
// takes between the smallest window and a wide screen: a line of such a value ends only
// between two bytes (an even number of digits); and from the page area of a window of
// default width down to 640 pixels the value never makes the page wider than its area
// (no value that refuses to wrap pushes the page under a horizontal scroll bar).
TEST(PageLayout, HexadecimalValuesBreakOnlyBetweenBytesAndNeverWidenThePage)
{
    using Orvane::Certificate::html::breakableHex;
    using Orvane::Certificate::html::withoutBreakMarks;
    const QString serial = "4F1A9CE207B358D16E20AF93C40B7D1580A1B2C3";
    const QString sha1 = "CAAC7B0310339C83409D6A4AA043A25EF1B54AB4";
    const QString card = "1122334455667788";
    struct Row {
        const char *page;
        QStringList values;
        QStringList hex; // of the values
    };
    const QString name = "cardsim-container-00", date = "01.03.2012 - 01.03.2015";
    const QString holder = "Test holder - Exchange key, CZ";
    const QString s = breakableHex(serial), f = breakableHex(sha1), c = breakableHex(card);
    const Row rows[] = {
        {"cert", {s, date, holder, holder, "V3 (0x02)", f}, {serial, sha1}},
        {"key", {name, "2048b.", "AT_KEYEXCHANGE", "x", s, date, holder, holder}, {serial}},
        {"card", {c, "3/3[3]", "5/5[5]", "2/6", "1/4", "31744 B", "65536 B"}, {card}},
        {"cardblocked", {c, "0/3[3]", "5/5[5]", "2/6", "1/4", "31744 B", "65536 B"}, {card}},
        {"cardbothblocked", {c, "0/3[3]", "0/5[5]", "2/6", "1/4", "31744 B", "65536 B"}, {card}},
    };
    constexpr int kNarrowestWithoutScrolling = 640;
    for (const Row &row : rows) {
        for (QString lang : {"cz", "en"}) {
            QTextBrowser view;
            view.setHtml(fillPage(page(lang, row.page), row.values));
            for (int width = 380; width <= 1000; width += 6) {
                SCOPED_TRACE(lang.toStdString() + "/" + row.page + " at " + std::to_string(width));
                view.document()->setTextWidth(width);
                if (width >= kNarrowestWithoutScrolling) {
                    EXPECT_LE(view.document()->size().width(), width);
                }
                QStringList shown;
                for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next()) {
                    const QString text = withoutBreakMarks(b.text());
                    if (!row.hex.contains(text))
                        continue;
                    shown << text;
                    QStringList lines;
                    bool betweenBytes = true;
                    for (int i = 0; i < b.layout()->lineCount(); ++i) {
                        QTextLine line = b.layout()->lineAt(i);
                        lines << withoutBreakMarks(
                            b.text().mid(line.textStart(), line.textLength()));
                        betweenBytes = betweenBytes && (i + 1 == b.layout()->lineCount() ||
                                                        lines.last().size() % 2 == 0);
                    }
                    EXPECT_TRUE(betweenBytes) << lines.join(" | ").toStdString();
                }
                EXPECT_EQ(shown.size(), row.hex.size());
            }
        }
    }
}

// What the user copies from a page reads as the page shows it: without the break marks.
TEST(PageLayout, ACopyOfAPageHoldsItsHexadecimalValuesWhole)
{
    const QString sha1 = "CAAC7B0310339C83409D6A4AA043A25EF1B54AB4";
    PageView view;
    view.setHtml(fillPage(page("en", "cert"), {"02 [2]", "", "", "", "",
                                               Orvane::Certificate::html::breakableHex(sha1)}));
    view.selectAll();
    view.copy();
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.contains("SHA1:\n" + sha1 + "\n")) << copied.toStdString();
    EXPECT_FALSE(copied.contains(QChar(0x200B)));
}

// The marks go between the bytes of the leading hexadecimal digits only; a one-byte
// serial's value in brackets and any other text stay as they are.
TEST(PageLayout, BreakMarksStandBetweenBytesOnly)
{
    const QString m(QChar(0x200B));
    const struct {
        QString hex, marked;
    } rows[] = {
        {"", ""},
        {"0A", "0A"},
        {"0a1B2c", "0a" + m + "1B" + m + "2c"},
        {"0A1B2", "0A" + m + "1B" + m + "2"},
        {"02 [2]", "02 [2]"},
        {"0A1B [-5]", "0A" + m + "1B [-5]"},
        {"GA1B", "GA1B"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.hex.toStdString());
        EXPECT_EQ(Orvane::Certificate::html::breakableHex(row.hex), row.marked);
    }
}
