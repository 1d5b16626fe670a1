// The simulated registry answers as the real one: record layouts, the two
// too-small answers, case-blind names, and the checks on how keys are used.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "sim/Kernel.h"
#include "sim/Registry.h"
#include "tests/support/KernelTest.h"

namespace {

class SimulatedRegistry : public KernelTest {
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        device = sim::CreateDevice([](DEVICE_OBJECT*, IRP*) { return STATUS_NOT_SUPPORTED; });
    }

    void TearDown() override
    {
        sim::DeleteDevice(device);
        KernelTest::TearDown();
    }

    HANDLE Open()
    {
        HANDLE key = nullptr;
        EXPECT_EQ(IoOpenDeviceRegistryKey(device, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key), STATUS_SUCCESS);
        return key;
    }

    NTSTATUS Query(HANDLE key, const char16_t* name, KEY_VALUE_INFORMATION_CLASS infoClass,
                   std::vector<uint8_t>& record, ULONG* resultLength)
    {
        UNICODE_STRING valueName;
        RtlInitUnicodeString(&valueName, name);
        return ZwQueryValueKey(key, &valueName, infoClass, record.empty() ? nullptr : record.data(),
                               static_cast<ULONG>(record.size()), resultLength);
    }

    static ULONG At(const std::vector<uint8_t>& record, size_t offset)
    {
        ULONG value;
        std::memcpy(&value, record.data() + offset, sizeof value);
        return value;
    }

    DEVICE_OBJECT* device = nullptr;
};

TEST_F(SimulatedRegistry, FullInformationRecordPutsTheDataOnAFourByteBoundaryBehindTheName)
{
    sim::SetRegistryString(device, u"Address", u"0xC2");
    HANDLE key = Open();
    std::vector<uint8_t> record(64, 0xCC);
    ULONG resultLength = 0;
    ASSERT_EQ(Query(key, u"Address", KeyValueFullInformation, record, &resultLength), STATUS_SUCCESS);

    // 20 fixed bytes and the 14-byte name end at 34; the data starts at 36.
    EXPECT_EQ(resultLength, 36u + 10u);
    EXPECT_EQ(At(record, 0), 0u);       // TitleIndex
    EXPECT_EQ(At(record, 4), REG_SZ);   // Type
    EXPECT_EQ(At(record, 8), 36u);      // DataOffset
    EXPECT_EQ(At(record, 12), 10u);     // DataLength: four characters and the zero
    EXPECT_EQ(At(record, 16), 14u);     // NameLength, no zero
    EXPECT_EQ(std::memcmp(record.data() + 20, u"Address", 14), 0);
    EXPECT_EQ(std::memcmp(record.data() + 36, u"0xC2", 10), 0);
    EXPECT_EQ(record[46], 0xCC);
    ZwClose(key);
}

TEST_F(SimulatedRegistry, OtherRecordClassesAndAnEvenNameLengthNeedNoPadding)
{
    sim::SetRegistryDword(device, u"Mode", 0x11223344);
    HANDLE key = Open();
    ULONG resultLength = 0;

    std::vector<uint8_t> full(64);
    ASSERT_EQ(Query(key, u"Mode", KeyValueFullInformation, full, &resultLength), STATUS_SUCCESS);
    EXPECT_EQ(At(full, 8), 28u);  // 20 + 8 is already aligned
    EXPECT_EQ(At(full, 28), 0x11223344u);

    std::vector<uint8_t> partial(64);
    ASSERT_EQ(Query(key, u"Mode", KeyValuePartialInformation, partial, &resultLength), STATUS_SUCCESS);
    EXPECT_EQ(resultLength, 16u);
    EXPECT_EQ(At(partial, 4), REG_DWORD);
    EXPECT_EQ(At(partial, 8), 4u);
    EXPECT_EQ(At(partial, 12), 0x11223344u);

    std::vector<uint8_t> basic(64);
    ASSERT_EQ(Query(key, u"Mode", KeyValueBasicInformation, basic, &resultLength), STATUS_SUCCESS);
    EXPECT_EQ(resultLength, 20u);
    EXPECT_EQ(At(basic, 8), 8u);
    EXPECT_EQ(std::memcmp(basic.data() + 12, u"Mode", 8), 0);
    ZwClose(key);
}

TEST_F(SimulatedRegistry, BufferTooSmallForTheFixedPartGetsNothingAndOneTooSmallForTheRestAPartialRecord)
{
    sim::SetRegistryString(device, u"TunerType", u"FM1216ME");  // name 18 bytes, data 18 bytes at 40
    HANDLE key = Open();
    struct Case {
        ULONG Length;
        NTSTATUS Status;
        size_t NameBytesWritten;
    };
    const Case cases[] = {
        {0, STATUS_BUFFER_TOO_SMALL, 0},  {19, STATUS_BUFFER_TOO_SMALL, 0}, {20, STATUS_BUFFER_OVERFLOW, 0},
        {30, STATUS_BUFFER_OVERFLOW, 10}, {38, STATUS_BUFFER_OVERFLOW, 18}, {57, STATUS_BUFFER_OVERFLOW, 18},
        {58, STATUS_SUCCESS, 18},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Length);
        std::vector<uint8_t> record(c.Length, 0xCC);
        ULONG resultLength = 0;
        EXPECT_EQ(Query(key, u"TunerType", KeyValueFullInformation, record, &resultLength), c.Status);
        EXPECT_EQ(resultLength, 58u);
        if (c.Status == STATUS_BUFFER_TOO_SMALL) {
            EXPECT_EQ(std::count(record.begin(), record.end(), 0xCC), static_cast<long>(c.Length));
            continue;
        }
        EXPECT_EQ(At(record, 8), 40u);
        EXPECT_EQ(At(record, 12), 18u);
        EXPECT_EQ(At(record, 16), 18u);
        EXPECT_EQ(std::memcmp(record.data() + 20, u"TunerType", c.NameBytesWritten), 0);
        const bool dataWritten = c.Status == STATUS_SUCCESS;
        for (size_t i = 40; i < c.Length; ++i) EXPECT_EQ(record[i] == 0xCC, !dataWritten) << "byte " << i;
    }
    ZwClose(key);
}

TEST_F(SimulatedRegistry, NamesMatchWithoutRegardToCaseAndEachDeviceHasItsOwnKey)
{
    DEVICE_OBJECT* other = sim::CreateDevice([](DEVICE_OBJECT*, IRP*) { return STATUS_NOT_SUPPORTED; });
    sim::SetRegistryString(device, u"EEPROMAddr", u"0xA0");
    sim::SetRegistryString(other, u"TunerType", u"MT2032");
    HANDLE key = Open();
    std::vector<uint8_t> record(64);
    ULONG resultLength = 0;
    EXPECT_EQ(Query(key, u"eepromaddr", KeyValueFullInformation, record, &resultLength), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(record.data() + 20, u"EEPROMAddr", 20), 0);  // the stored spelling
    EXPECT_EQ(Query(key, u"TunerType", KeyValueFullInformation, record, &resultLength),
              STATUS_OBJECT_NAME_NOT_FOUND);
    sim::DeleteRegistryValue(device, u"EEPROMADDR");
    EXPECT_EQ(Query(key, u"EEPROMAddr", KeyValueFullInformation, record, &resultLength),
              STATUS_OBJECT_NAME_NOT_FOUND);
    ZwClose(key);
    sim::DeleteDevice(other);
}

TEST_F(SimulatedRegistry, InjectedFaultsFailTheOpenOrTheQueryOfOneValue)
{
    sim::SetRegistryString(device, u"Address", u"0xC2");
    sim::SetRegistryString(device, u"TunerType", u"MT2032");
    sim::FailRegistryQuery(device, u"address", STATUS_INSUFFICIENT_RESOURCES);
    sim::FailRegistryQuery(device, u"Missing", STATUS_UNSUCCESSFUL);
    HANDLE key = Open();
    std::vector<uint8_t> record(64);
    ULONG resultLength = 0;
    EXPECT_EQ(Query(key, u"Address", KeyValueFullInformation, record, &resultLength), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(Query(key, u"Missing", KeyValueFullInformation, record, &resultLength), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Query(key, u"TunerType", KeyValueFullInformation, record, &resultLength), STATUS_SUCCESS);
    ZwClose(key);

    sim::FailRegistryKeyOpen(device, STATUS_OBJECT_NAME_NOT_FOUND);
    HANDLE none = nullptr;
    EXPECT_EQ(IoOpenDeviceRegistryKey(device, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &none),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0u);
    ASSERT_EQ(sim::RegistryKeyOpens().size(), 2u);
    EXPECT_EQ(sim::RegistryKeyOpens()[1].Status, STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(SimulatedRegistry, MisuseIsReported)
{
    sim::ViolationCapture capture;
    HANDLE key = Open();
    {
        sim::IrqlScope dispatch(DISPATCH_LEVEL);
        std::vector<uint8_t> record(64);
        ULONG resultLength = 0;
        Query(key, u"Address", KeyValueFullInformation, record, &resultLength);
    }
    EXPECT_TRUE(capture.Contains("ZwQueryValueKey called at"));

    sim::CheckClean();
    EXPECT_TRUE(capture.Contains("registry key left open"));

    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_NE(ZwClose(key), STATUS_SUCCESS);
    EXPECT_TRUE(capture.Contains("ZwClose of a handle that is not open"));
}

}  // namespace
