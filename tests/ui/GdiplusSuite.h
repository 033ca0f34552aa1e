#pragma once

// Windows only: GDI+ started once for a test suite whose windows draw with it.

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <gtest/gtest.h>

class GdiplusSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr);
    }
    static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(gdiplusToken); }
    static inline ULONG_PTR gdiplusToken = 0;
};
