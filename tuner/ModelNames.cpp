#include "tuner/ModelNames.h"

const WCHAR* const TunerModelNames[TunerModelCount] = {
    u"FI1216MK2",    u"FI1216MF",     u"FM1216MK2",    u"FI1236",       //  0 -  3
    u"FM1236",       u"FI1246",       u"FM1246",       u"FI1256",       //  4 -  7
    u"FM1256",       u"FI1286",       u"FQ1236MK3",    u"FM1236MK3",    //  8 - 11
    u"FM1216ME",     u"FQ1216ME",     u"FQ1286MK3",    u"FI1256MP",     // 12 - 15
    u"FI1216MP",     u"MT2032",       u"TAPC-H701P",   u"TAPC-H001P",   // 16 - 19
    u"TAPC-G701P",   u"TAPC-G001P",   u"TAPC-Q703P",   u"TAPC-Q001P",   // 20 - 23
    u"TAPC-W701P",   u"TAPC-W001P",   u"TAPC-Q704P",   u"TPI8PSB02P",   // 24 - 27
    u"TAPC-G702P",   u"TCL2002N-6A",  u"TCL2002N-1F",  u"TCL2002MB-1F", // 28 - 31
    u"TCL2002MB-3",  u"TCL2002MI-1F", u"TCL2002MI-3",  u"TVF6831-DIFF", // 32 - 35
};
