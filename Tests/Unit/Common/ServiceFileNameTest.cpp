#include "Common/ServiceFileName.h"
#include "Common/ServiceFileSuffixes.h"

#include <gtest/gtest.h>

namespace {

TEST(ServiceFileNameTest, DeviceNamesBeforeADotAndRefusedCharactersAreMapped)
{
    const struct {
        const wchar_t* service;
        const wchar_t* file;
    } cases[] = {
        {L"QxDemo", L"QxDemo"},
        {L"CON", L"CON"}, // "CON(12).log" and "CON_C0000005_....dmp" are ordinary files
        {L"CON.txt", L"CON_.txt"},
        {L"NUL.x", L"NUL_.x"},
        {L"com1.log", L"com1_.log"},
        {L"Aux.Svc", L"Aux_.Svc"},
        {L"PRN.1", L"PRN_.1"},
        {L"LPT9.a.b", L"LPT9_.a.b"},
        {L"CON .x", L"CON_ .x"},
        {L"COM\u00B9.x", L"COM\u00B9_.x"},
        {L"CONOUT$.x", L"CONOUT$_.x"},
        {L"CONSOLE.x", L"CONSOLE.x"},
        {L"COM10.x", L"COM10.x"},
        {L"x.CON", L"x.CON"},
        {L"a\"b*c<d>e?f|g", L"a_b_c_d_e_f_g"},
        {L"PRN?.x", L"PRN_.x"},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(ServiceFileName(entry.service), entry.file);
    }
}

TEST(ServiceFileNameTest, TellsDeviceFileNames)
{
    for (const wchar_t* device : {L"CON", L"con.txt", L"NUL  .log", L"COM0.x", L"lpt3", L"LPT\u00B3.a", L"CONIN$.x"}) {
        EXPECT_TRUE(IsDeviceFileName(device)) << device;
    }
    for (const wchar_t* file : {L"CON(12).log", L"CON_C0000005_2026.dmp", L"CONX.txt", L"COM.x", L" CON.x", L"x"}) {
        EXPECT_FALSE(IsDeviceFileName(file)) << file;
    }
}

// What follows a service's name in its files, "P" taken as the name: "P_av" and "P(1)" are other
// services, whose logs and dumps a rule for "P" must never claim.
TEST(ServiceFileNameTest, SuffixesTellTheServicesFilesFromAnotherServices)
{
    using namespace ServiceFileSuffixes;
    for (const wchar_t* log : {L"(520).log", L"(520).1.log", L"(7).12.LOG"}) {
        EXPECT_TRUE(IsModuleLogSuffix(log)) << log;
    }
    for (const wchar_t* other : {L"(1)(520).log", L"p(520).log", L"(520).log.gz", L"().log", L"(520)..log", L"(5x).log",
                                 L"_C0000005_2026_12_10__14_11_27.dmp"}) {
        EXPECT_FALSE(IsModuleLogSuffix(other)) << other;
    }
    for (const wchar_t* dump : {L"_C0000005_2026_12_10__14_11_27.dmp", L"_00000000_2026_01_02__03_04_05_2.dmp",
                                L"_E06D7363_2026_12_10__14_11_27.DMP"}) {
        EXPECT_TRUE(IsCrashDumpSuffix(dump)) << dump;
    }
    for (const wchar_t* other :
         {L"_av_C0000005_2026_12_10__14_11_27.dmp", L"_shut_av_C0000005_2026_12_10__14_11_27.dmp",
          L"_1_C0000005_2026_12_10__14_11_27.dmp", L"_c0000005_2026_12_10__14_11_27.dmp",
          L"_C0000005_2026_12_10_14_11_27.dmp", L"_C0000005_2026_12_10__14_11_27_.dmp", L"(520).log"}) {
        EXPECT_FALSE(IsCrashDumpSuffix(other)) << other;
    }
}

} // namespace
