// Where the board EEPROM records the tuner module, and the names its codes
// stand for.
#include "config/EepromTables.h"

const uint8_t EepromOffsets[EepromByteCount] = {0x00, 0x01, 0x02, 0x03, 0x59, 0x5A,
                                                0x5B, 0x5C, 0x5D, 0x5E, 0x5F};

const WCHAR* const EepromModelNames[EepromNameCount] = {
    //  high nibble 0  1               2               3
    u"FI1236",       u"FM1236",      u"TAPC-H701P",  u"TAPC-H001P",  // low nibble 1
    u"FI1216MK2",    u"FM1216MK2",   u"TAPC-G701P",  u"TAPC-G001P",  // 2
    u"FI1216MP",     u"TPI8PSB02P",  u"TAPC-G702P",  u"- None -",    // 3
    u"FI1256",       u"FM1256",      u"TAPC-Q703P",  u"TAPC-Q001P",  // 4
    u"FI1256MP",     u"- None -",    u"TAPC-Q704P",  u"- None -",    // 5
    u"FI1246",       u"FM1246",      u"TAPC-W701P",  u"TAPC-W001P",  // 6
    u"FQ1216ME",     u"FM1216ME",                                    // 7
};

// Codes that boards with layout marker 0xFF (and byte 0x5C below 5) store
// for an older numbering.
const EepromCodePair EepromRemap[EepromRemapCount] = {
    {0x03, 0x01},
    {0x01, 0x02},
    {0x05, 0x04},
    {0x04, 0x06},
};

const EepromNameOverride EepromMarker3Names[EepromMarker3Count] = {
    {0x21, u"TCL2002N-6A"},
    {0x31, u"TCL2002N-1F"},
    {0x13, u"TCL2002MB-1F"},
    {0x23, u"TCL2002MB-3"},
    {0x15, u"TCL2002MI-1F"},
    {0x25, u"TCL2002MI-3"},
};

const EepromNameOverride EepromMarker4Names[EepromMarker4Count] = {
    {0x01, u"FI1236"},
    {0x11, u"FM1236"},
    {0x02, u"FI1216MK2"},
    {0x12, u"FM1216MK2"},
    {0x03, u"FI1216MP"},
    {0x13, u"TPI8PSB02P"},
    {0x04, u"FI1256"},
    {0x05, u"FI1256MP"},
    {0x15, u"TVF6831-DIFF"},
    {0x06, u"FI1246"},
};
