// Identifying the tuner module from the board EEPROM, read over the
// simulated bus from a simulated EEPROM chip.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/TunerEeprom.h"
#include "sim/bus/Eeprom.h"
#include "tests/support/I2cBench.h"
#include "tests/support/KernelTest.h"

namespace {

constexpr uint8_t EepromAddress = 0xA0;
const std::vector<uint8_t> OffsetsInReadOrder = {0x00, 0x01, 0x02, 0x03, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F};

class EepromIdentification : public KernelTest {
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        bench = std::make_unique<I2cBench>();
        bench->Bus.Attach(EepromAddress, &chip);
        bench->Client()->SetAddress(EepromAddress);
        for (WCHAR& c : name) c = u'#';
    }

    void TearDown() override
    {
        bench->Bus.Detach(EepromAddress);
        bench.reset();
        KernelTest::TearDown();
    }

    // A board image with the layout marker, the remap gate and the tuner code.
    void Board(uint8_t marker, uint8_t gate, uint8_t code)
    {
        std::vector<uint8_t> image(0x60, 0x00);
        image[0x59] = marker;
        image[0x5C] = gate;
        image[0x5E] = code;
        chip.Load(image);
    }

    // The offsets the driver wrote to the EEPROM, one per read, in order.
    std::vector<uint8_t> OffsetsWritten() const
    {
        std::vector<uint8_t> offsets;
        for (const sim::BusSegment& segment : bench->Bus.Trace()) {
            if (segment.Address == EepromAddress && !segment.Read && !segment.Data.empty()) {
                offsets.push_back(segment.Data[0]);
            }
        }
        return offsets;
    }

    std::u16string Decode()
    {
        TunerEeprom eeprom(bench->Client());
        if (!eeprom.DecodeModelName(name)) return u"(none)";
        return name;
    }

    std::unique_ptr<I2cBench> bench;
    sim::Eeprom chip;
    WCHAR name[32];
};

TEST_F(EepromIdentification, ElevenBytesAreReadOneTransferEachAndTheCodeIsDecoded)
{
    Board(0x00, 0x00, 0x17);
    EXPECT_EQ(Decode(), u"FM1216ME");
    EXPECT_EQ(OffsetsWritten(), OffsetsInReadOrder);
    for (const sim::BusSegment& segment : bench->Bus.Trace()) {
        if (segment.Read) {
            EXPECT_EQ(segment.Data.size(), 1u);
        }
    }
}

TEST_F(EepromIdentification, CodesDecodeThroughRemapOverridesAndTheNameGrid)
{
    struct Case {
        uint8_t Marker;
        uint8_t Gate;
        uint8_t Code;
        std::u16string Name;
    };
    const Case cases[] = {
        // The grid: index = high nibble + 4 * low nibble - 4; out of range is 0.
        {0x00, 0x00, 0x01, u"FI1236"},
        {0x00, 0x00, 0x31, u"TAPC-H001P"},
        {0x00, 0x00, 0x17, u"FM1216ME"},
        {0x00, 0x00, 0x81, u"FI1216MP"},      // high nibble above 3 lands elsewhere in the table
        {0x00, 0x00, 0x40, u"FI1236"},
        {0x00, 0x00, 0x00, u"FI1236"},        // index -4
        {0x00, 0x00, 0x37, u"FI1236"},        // index 27
        {0x00, 0x00, 0xF0, u"- None -"},
        {0x00, 0x00, 0x35, u"- None -"},
        // Remap: marker 0xFF and byte 0x5C below 5.
        {0xFF, 0x00, 0x03, u"FI1236"},
        {0xFF, 0x04, 0x01, u"FI1216MK2"},
        {0xFF, 0x04, 0x05, u"FI1256"},
        {0xFF, 0x04, 0x04, u"FI1246"},
        {0xFF, 0x04, 0x02, u"FI1216MK2"},     // not in the remap table
        {0xFF, 0x05, 0x03, u"FI1216MP"},      // gate not below 5
        {0xFF, 0x10, 0x03, u"FI1216MP"},
        {0x03, 0x00, 0x03, u"FI1216MP"},      // remap only under marker 0xFF
        // Marker 3 overrides.
        {0x03, 0x00, 0x21, u"TCL2002N-6A"},
        {0x03, 0x00, 0x31, u"TCL2002N-1F"},
        {0x03, 0x00, 0x13, u"TCL2002MB-1F"},
        {0x03, 0x00, 0x23, u"TCL2002MB-3"},
        {0x03, 0x00, 0x15, u"TCL2002MI-1F"},
        {0x03, 0x00, 0x25, u"TCL2002MI-3"},
        {0x03, 0x00, 0x12, u"FM1216MK2"},
        // Marker 4 overrides.
        {0x04, 0x00, 0x01, u"FI1236"},
        {0x04, 0x00, 0x11, u"FM1236"},
        {0x04, 0x00, 0x02, u"FI1216MK2"},
        {0x04, 0x00, 0x12, u"FM1216MK2"},
        {0x04, 0x00, 0x03, u"FI1216MP"},
        {0x04, 0x00, 0x13, u"TPI8PSB02P"},
        {0x04, 0x00, 0x04, u"FI1256"},
        {0x04, 0x00, 0x05, u"FI1256MP"},
        {0x04, 0x00, 0x15, u"TVF6831-DIFF"},
        {0x04, 0x00, 0x06, u"FI1246"},
        {0x04, 0x00, 0x21, u"TAPC-H701P"},
        {0x04, 0x00, 0x25, u"TAPC-Q704P"},    // marker 3's override does not apply under 4
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "marker " << int(c.Marker) << " gate " << int(c.Gate) << " code "
                                        << int(c.Code));
        Board(c.Marker, c.Gate, c.Code);
        EXPECT_EQ(Decode(), c.Name);
    }
}

TEST_F(EepromIdentification, AnEepromThatDoesNotAnswerGivesNoNameAfterAllElevenReads)
{
    Board(0x00, 0x00, 0x17);
    chip.SetAnswering(false);
    EXPECT_EQ(Decode(), u"(none)");
    for (WCHAR c : name) EXPECT_EQ(c, u'#');

    std::vector<uint8_t> attempts;
    for (const sim::BusSegment& segment : bench->Bus.Trace()) {
        if (segment.Address == EepromAddress && !segment.Read) attempts.push_back(segment.Address);
    }
    EXPECT_EQ(attempts.size(), OffsetsInReadOrder.size());
}

TEST_F(EepromIdentification, AFailedFirstReadStillLetsTheOtherTenRunAndGivesNoName)
{
    Board(0x00, 0x00, 0x17);
    bench->Bridge.ErrorAtByte(1);  // the bridge refuses the first byte of the first read
    EXPECT_EQ(Decode(), u"(none)");
    for (WCHAR c : name) EXPECT_EQ(c, u'#');
    const std::vector<uint8_t> rest(OffsetsInReadOrder.begin() + 1, OffsetsInReadOrder.end());
    EXPECT_EQ(OffsetsWritten(), rest);
}

}  // namespace
