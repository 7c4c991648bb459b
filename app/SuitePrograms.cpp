#include "SuitePrograms.h"

#include <windows.h>

namespace {

// The main windows of the suite's programs, by caption.
constexpr const wchar_t* kSuitePrograms[] = {
    L"Tavilo课程同步助手",
    L"Tavilo综合学习平台",
    L"Tavilo综合资源平台",
    L"Tavilo综合资源平台同步助手",
    L"MorvaneTavilo(移动版)同步助手",
    L"MorvaneTavilo(移动版)",
};
// Only the mobile edition and its synchronisation tool hold files the update replaces while they run.
constexpr int kProgramsThatMustBeClosed[] = {4, 5};

// The suite's programs close themselves when they receive this.
constexpr UINT WM_SUITE_CLOSE = WM_USER + 53;
constexpr int kPasses = 3;
constexpr DWORD kWaitAfterRequestMs = 500;

}  // namespace

bool AskSuiteProgramsToClose()
{
    for (int pass = 0; pass < kPasses; ++pass) {
        for (const wchar_t* caption : kSuitePrograms) {
            if (HWND window = FindWindowW(nullptr, caption)) {
                PostMessageW(window, WM_SUITE_CLOSE, 0, 0);
                Sleep(kWaitAfterRequestMs);
            }
        }
    }
    for (int program : kProgramsThatMustBeClosed) {
        if (FindWindowW(nullptr, kSuitePrograms[program]) != nullptr) return false;
    }
    return true;
}
