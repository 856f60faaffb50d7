// The item pages of a card read over the real card service, as the user reads and
// copies them: the shipped module with a simulated vOK card in the first virtual
// reader, the PIN typed into the prompt by the dialog driver.
#include "card_window_fixture.h"

#include <QClipboard>
#include <QMimeData>
#include <QTextDocument>

using namespace app_test;

namespace
{

const QChar kBreakMark(0x200B); // zero width space

using CardPagesTest = CardWindowTest;

// The value's digits two by two, a break mark between every two.
QString marked(const QString &hex)
{
    QStringList bytes;
    for (int i = 0; i < hex.size(); i += 2)
        bytes << hex.mid(i, 2);
    return bytes.join(kBreakMark);
}

// The card number on the card's page and the SHA-1 fingerprint on a certificate's
// carry a break mark between every two digits, so that a narrow page wraps them between
// bytes only; what the user copies of the page (all of it selected), as text and as the
// HTML a rich-text editor pastes, holds the values whole, without a mark.
TEST_F(CardPagesTest, HexadecimalValuesWrapBetweenBytesAndCopyWhole)
{
    start(oneContainer());
    reloadWithPin();
    ASSERT_EQ(certificates.size(), 1u);
    const struct {
        const char *what;
        std::initializer_list<int> path;
        QString value;
    } rows[] = {
        {"card number", {0, 0}, "1122334455667788"},
        {"certificate's SHA-1", {0, 0, 0, 0}, factsOf(certificates[0]).sha1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_FALSE(row.value.isEmpty());
        click(item(row.path));
        const QString shown = page()->toPlainText();
        EXPECT_TRUE(shown.split('\n').contains(marked(row.value))) << shown.toStdString();

        page()->selectAll();
        page()->copy();
        const QMimeData *copied = QGuiApplication::clipboard()->mimeData();
        ASSERT_NE(copied, nullptr);
        EXPECT_TRUE(copied->text().split('\n').contains(row.value)) << copied->text().toStdString();
        EXPECT_FALSE(copied->text().contains(kBreakMark));
        ASSERT_TRUE(copied->hasHtml());
        QTextDocument pasted;
        pasted.setHtml(copied->html());
        EXPECT_TRUE(pasted.toPlainText().split('\n').contains(row.value))
            << copied->html().toStdString();
        EXPECT_FALSE(pasted.toPlainText().contains(kBreakMark));
        EXPECT_FALSE(copied->html().contains(kBreakMark));
    }
}

} // namespace
