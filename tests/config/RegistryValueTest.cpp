// Reading a configuration value as a string, parsing it strictly and
// comparing names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/RegistryValues.h"
#include "sim/Kernel.h"
#include "sim/Registry.h"
#include "tests/support/KernelTest.h"
#include "tuner/Memory.h"

namespace {

class RegistryValues : public KernelTest {
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        device = sim::CreateDevice([](DEVICE_OBJECT*, IRP*) { return STATUS_NOT_SUPPORTED; });
        ASSERT_EQ(IoOpenDeviceRegistryKey(device, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key), STATUS_SUCCESS);
        for (WCHAR& c : buffer) c = u'#';  // what an earlier value left
    }

    void TearDown() override
    {
        ZwClose(key);
        sim::DeleteDevice(device);
        KernelTest::TearDown();
    }

    NTSTATUS Read(const char16_t* name = u"Address")
    {
        const ULONG nameBytes = static_cast<ULONG>((std::u16string(name).size() + 1) * sizeof(WCHAR));
        return ReadRegistryValue(key, name, nameBytes, buffer, sizeof buffer);
    }

    static std::vector<uint8_t> Bytes(const std::u16string& text)
    {
        std::vector<uint8_t> bytes(text.size() * 2);
        std::memcpy(bytes.data(), text.data(), bytes.size());
        return bytes;
    }

    DEVICE_OBJECT* device = nullptr;
    HANDLE key = nullptr;
    WCHAR buffer[32];
};

TEST_F(RegistryValues, AStringIsTakenUpToItsDataAndTerminatedThere)
{
    sim::SetRegistryString(device, u"Address", u"0xC2");
    EXPECT_EQ(Read(), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"0xC2");
    for (WCHAR c : buffer) EXPECT_NE(c, u'#');

    // Binary data without a zero: the rest of the buffer does not take part.
    sim::SetRegistryBinary(device, u"Address", Bytes(u"C2"));
    EXPECT_EQ(Read(), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"C2");
}

TEST_F(RegistryValues, AValueThatLeavesNoTerminatorInTheBufferIsUnreadable)
{
    struct Case {
        std::vector<uint8_t> Data;
        NTSTATUS Status;
    };
    const std::u16string longest(31, u'7');
    const Case cases[] = {
        {Bytes(longest + u'\0'), STATUS_SUCCESS},            // 64 bytes with the zero last
        {Bytes(longest + u'7'), STATUS_BUFFER_TOO_SMALL},     // 64 bytes, no zero
        {Bytes(longest + u"7\0"), STATUS_BUFFER_TOO_SMALL},   // 66 bytes: fits the record, not the buffer
        {Bytes(std::u16string(100, u'7')), STATUS_BUFFER_OVERFLOW},  // does not even fit the record
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Data.size());
        sim::SetRegistryBinary(device, u"Address", c.Data);
        for (WCHAR& ch : buffer) ch = u'#';
        EXPECT_EQ(Read(), c.Status);
        if (c.Status == STATUS_SUCCESS) {
            EXPECT_EQ(std::u16string(buffer), longest);
        } else {
            for (WCHAR ch : buffer) EXPECT_EQ(ch, 0);
        }
    }
}

TEST_F(RegistryValues, QueryFailuresComeBackAsTheyAre)
{
    EXPECT_EQ(Read(u"InterCarrierMode"), STATUS_OBJECT_NAME_NOT_FOUND);
    sim::FailRegistryQuery(device, u"DefaultStandard", STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Read(u"DefaultStandard"), STATUS_UNSUCCESSFUL);

    sim::SetRegistryString(device, u"Address", u"0xC2");
    sim::FailAllocationsWithTag(DriverPoolTag);
    EXPECT_EQ(Read(), STATUS_INSUFFICIENT_RESOURCES);
    sim::ClearPoolFaults();
    ASSERT_EQ(sim::RegistryQueries().size(), 2u);  // the last read never reached the registry
}

TEST_F(RegistryValues, ParseIntegerTakesOnlyAWholeNumberWhereThePlatformTakesAnyPrefix)
{
    struct Case {
        std::u16string Text;
        ULONG Lenient;  // what RtlUnicodeStringToInteger makes of it (base 0)
        bool Parses;
        uint32_t Strict;
    };
    const Case cases[] = {
        {u"0xC2", 0xC2, true, 0xC2},
        {u"0x1C2", 0x1C2, true, 0x1C2},
        {u"  16 ", 16, true, 16},
        {u"\t0o17\t", 15, true, 15},
        {u"0b101", 5, true, 5},
        {u"0", 0, true, 0},
        {u"0xffffffff", 0xFFFFFFFF, true, 0xFFFFFFFF},
        {u"4294967295", 0xFFFFFFFF, true, 0xFFFFFFFF},
        {u"C2", 0, false, 0},
        {u"12ab", 12, false, 0},
        {u"0x", 0, false, 0},
        {u"   ", 0, false, 0},
        {u"", 0xDEAD, false, 0},
        {u"4294967296", 0, false, 0},
        {u"0x100000000", 0, false, 0},
        {u"-1", 0xFFFFFFFF, false, 0},
        {u"+1", 1, false, 0},
        {u"0X10", 0, false, 0},
        {u"0b102", 2, false, 0},
        {u"1 2", 1, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Text.begin(), c.Text.end()));
        UNICODE_STRING s;
        RtlInitUnicodeString(&s, c.Text.c_str());
        ULONG lenient = 0xDEAD;
        RtlUnicodeStringToInteger(&s, 0, &lenient);
        EXPECT_EQ(lenient, c.Lenient);

        uint32_t strict = 0xBEEF;
        EXPECT_EQ(ParseInteger(c.Text.c_str(), &strict), c.Parses);
        EXPECT_EQ(strict, c.Parses ? c.Strict : 0xBEEFu);
    }
}

TEST_F(RegistryValues, NamesCompareWholeAndWithoutCase)
{
    EXPECT_TRUE(EqualNameNoCase(u"fi1216mk2", u"FI1216MK2"));
    EXPECT_TRUE(EqualNameNoCase(u"Tapc-G001p", u"TAPC-G001P"));
    EXPECT_FALSE(EqualNameNoCase(u"fi1216mk2 ", u"FI1216MK2"));
    EXPECT_FALSE(EqualNameNoCase(u"FI1216MK", u"FI1216MK2"));
    EXPECT_FALSE(EqualNameNoCase(u"", u"FI1216MK2"));
}

}  // namespace
