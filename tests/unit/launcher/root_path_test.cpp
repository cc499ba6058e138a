#include "root_path.h"

#include <gtest/gtest.h>

#include <string>

TEST(RootPath, EveryWayOfNamingADriveOrShareRootIsARoot) {
    const wchar_t* roots[] = {
        L"X:\\", L"X:", L"x:/", L"X:\\\\", L"X:\\.", L"X:\\.\\", L"X:\\stage\\..", L"X:\\a\\b\\..\\..\\",
        L"X:\\..", L"X:\\...", L"X:\\stage\\. .", L"\\", L"/", L"\\.\\", L"\\stage\\..",
        L"\\\\server\\share", L"\\\\server\\share\\", L"//server/share/", L"\\\\server", L"\\\\",
        L"\\\\server\\share\\dir\\..", L"\\\\?\\X:\\", L"\\\\?\\X:", L"\\\\.\\X:\\", L"\\??\\X:\\",
        L"\\\\?\\X:\\.", L"\\\\?\\UNC\\server\\share", L"\\\\?\\unc\\server\\share\\", L"\\\\.\\UNC\\server\\share",
        L"\\\\?\\UNC", L"\\\\?\\Volume{0b1b2c3d-0000-0000-0000-100000000000}\\",
        L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\", L"\\\\.\\PhysicalDrive0",
    };
    for (const wchar_t* path : roots) EXPECT_TRUE(namesRoot(path)) << std::wstring(path).c_str();
}

TEST(RootPath, AnythingBelowARootIsNot) {
    const wchar_t* others[] = {
        L"X:\\stage", L"X:\\stage\\setup.exe", L"X:stage", L"X:\\a\\b\\..", L"X:\\.stage", L"X:\\stage.",
        L"\\stage", L"\\\\server\\share\\setup.msi", L"\\\\server\\share\\dir\\", L"\\\\?\\X:\\stage",
        L"\\\\?\\UNC\\server\\share\\dir", L"\\\\?\\Volume{0b1b2c3d-0000-0000-0000-100000000000}\\dir",
        L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\dir", L"setup.exe", L"stage\\..", L".", L"..", L"",
        L"1:\\",
    };
    for (const wchar_t* path : others) EXPECT_FALSE(namesRoot(path)) << std::wstring(path).c_str();
}
