#include "Common/ServiceFileName.h"

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

} // namespace
