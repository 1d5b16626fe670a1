// The simulated string routines behave as the platform's, including the
// leniency of its integer conversion.
#include <gtest/gtest.h>

#include <string>

#include "platform/Kernel.h"
#include "tests/support/KernelTest.h"

namespace {

using UnicodeStrings = KernelTest;

UNICODE_STRING Counted(const std::u16string& text)
{
    UNICODE_STRING s;
    s.Length = static_cast<USHORT>(text.size() * 2);
    s.MaximumLength = s.Length;
    s.Buffer = const_cast<WCHAR*>(text.data());
    return s;
}

TEST_F(UnicodeStrings, IntegerConversionIsAsLenientAsThePlatforms)
{
    struct Case {
        std::u16string Text;
        ULONG Base;
        NTSTATUS Status;
        ULONG Value;
    };
    const Case cases[] = {
        {u"", 0, STATUS_INVALID_PARAMETER, 0xDEAD},
        {u"      ", 10, STATUS_SUCCESS, 0},
        {u"  -345", 10, STATUS_SUCCESS, 0u - 345u},
        {u"   +678abc", 10, STATUS_SUCCESS, 678},
        {u"   +678abc", 16, STATUS_SUCCESS, 0x678ABC},
        {u"789", 8, STATUS_SUCCESS, 7},
        {u"FGH", 16, STATUS_SUCCESS, 15},
        {u"xyz", 10, STATUS_SUCCESS, 0},
        {u"007", 0, STATUS_SUCCESS, 7},
        {u"0x1C2", 0, STATUS_SUCCESS, 0x1C2},
        {u"0o17", 0, STATUS_SUCCESS, 15},
        {u"0b101", 0, STATUS_SUCCESS, 5},
        {u"\t-0x10", 0, STATUS_SUCCESS, 0u - 16u},
        {u"0X10", 0, STATUS_SUCCESS, 0},  // the prefixes are lower case only
        {u"C2", 0, STATUS_SUCCESS, 0},
        {u"12ab", 0, STATUS_SUCCESS, 12},
        {u"1 2", 0, STATUS_SUCCESS, 1},
        {u"4294967297", 10, STATUS_SUCCESS, 1},  // overflow wraps
        {u"12", 3, STATUS_INVALID_PARAMETER, 0xDEAD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Text.begin(), c.Text.end()) + " base " + std::to_string(c.Base));
        UNICODE_STRING s = Counted(c.Text);
        ULONG value = 0xDEAD;
        EXPECT_EQ(RtlUnicodeStringToInteger(&s, c.Base, &value), c.Status);
        EXPECT_EQ(value, c.Value);
    }
}

TEST_F(UnicodeStrings, ConversionStopsAtTheCountedLengthNotAtAZero)
{
    std::u16string text = u"12345";
    UNICODE_STRING s = Counted(text);
    s.Length = 6;
    ULONG value = 0;
    EXPECT_EQ(RtlUnicodeStringToInteger(&s, 0, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 123u);
}

TEST_F(UnicodeStrings, InitCountsBytesWithoutTheZero)
{
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, u"TunerType");
    EXPECT_EQ(s.Length, 18);
    EXPECT_EQ(s.MaximumLength, 20);
    RtlInitUnicodeString(&s, nullptr);
    EXPECT_EQ(s.Length, 0);
    EXPECT_EQ(s.MaximumLength, 0);
    EXPECT_EQ(s.Buffer, nullptr);
}

TEST_F(UnicodeStrings, EqualityComparesWholeCountedStringsWithOrWithoutCase)
{
    struct Case {
        std::u16string First;
        std::u16string Second;
        bool CaseSensitive;
        bool CaseBlind;
    };
    const Case cases[] = {
        {u"FI1216MK2", u"FI1216MK2", true, true},
        {u"fi1216mk2", u"FI1216MK2", false, true},
        {u"FI1216MK2 ", u"FI1216MK2", false, false},
        {u"TAPC-G001P", u"TAPC-G701P", false, false},
        {u"\u00e9", u"\u00c9", false, true},
        {u"", u"", true, true},
    };
    for (const Case& c : cases) {
        UNICODE_STRING a = Counted(c.First);
        UNICODE_STRING b = Counted(c.Second);
        EXPECT_EQ(RtlEqualUnicodeString(&a, &b, FALSE), c.CaseSensitive);
        EXPECT_EQ(RtlEqualUnicodeString(&a, &b, TRUE), c.CaseBlind);
    }
}

TEST_F(UnicodeStrings, WcscpyCopiesTheTerminatingZeroAndNothingBeyond)
{
    WCHAR buffer[8];
    for (WCHAR& c : buffer) c = u'#';
    EXPECT_EQ(wcscpy(buffer, u"FI12"), buffer);
    EXPECT_EQ(std::u16string(buffer), u"FI12");
    EXPECT_EQ(buffer[5], u'#');
}

}  // namespace
