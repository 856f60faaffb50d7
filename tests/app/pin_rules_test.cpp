#include <gtest/gtest.h>

#include "pin_rules.h"

namespace
{

using pin_rule::Fault;

TEST(PinRules, DigitsWithinBoundsOnly)
{
    struct Row {
        const char16_t *entry;
        int shortest, longest;
        Fault fault;
    };
    const Row rows[] = {
        {u"", 1, 8, Fault::Empty},
        {u"12345", 5, 8, Fault::None},
        {u"1234", 5, 8, Fault::TooShort},
        {u"12345678", 5, 8, Fault::None},
        {u"123456789", 5, 8, Fault::TooLong},
        {u"123456789012", 5, 0, Fault::None}, // no upper bound
        {u"12a45", 5, 8, Fault::NotDigits},
        {u"1234 ", 5, 8, Fault::NotDigits},
        {u"\u0661\u0662\u0663\u0664\u0665", 5, 8, Fault::NotDigits}, // digits of another script
        {u"１２３４５", 5, 8, Fault::NotDigits},                     // full-width digits
        {u"12", 5, 8, Fault::TooShort},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(QString::fromUtf16(row.entry).toStdString());
        EXPECT_EQ(pin_rule::check(QString::fromUtf16(row.entry), row.shortest, row.longest),
                  row.fault);
    }
}

TEST(PinRules, BoundsFollowTheToken)
{
    EXPECT_EQ(pin_rule::shortest(pin_rule::kNewPin, 1), 5);
    EXPECT_EQ(pin_rule::shortest(pin_rule::kNewPin, 6), 6);
    EXPECT_EQ(pin_rule::shortest(1, 0), 1);
    EXPECT_EQ(pin_rule::longest(8), 8);
    EXPECT_EQ(pin_rule::longest(0), 0);
    EXPECT_GT(pin_rule::longest(~0ULL), 1000) << "an unknown maximum bounds nothing";
}

} // namespace
