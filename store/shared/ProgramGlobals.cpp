#include "store/shared/ProgramGlobals.h"

std::atomic<bool>    g_bQuitRequested { false };
std::atomic<bool>    g_bPortsOpen { false };
std::atomic<bool>    g_bConnected { false };
std::atomic<uint8_t> g_nDeviceFamily { 0 };
std::atomic<uint8_t> g_nSwitchState { 0 };
std::atomic<uint8_t> g_nJobPhase { 0 };
juce::String         g_strMCUName;
juce::String         g_strFlashName;
std::atomic<int>     g_nFileSize { 0 };
std::atomic<bool>    g_bFullImage { false };
wchar_t              g_szDriverDir[kMaxPath] {};
wchar_t              g_szDriverSearch[kMaxPath] {};
FolderHandle         g_hFind = nullptr;
FolderEntry          g_FindData;
std::atomic<int>     g_nDriverSectorCount { 0 };
uint8_t              g_nSearchTicks = 0;
std::atomic<uint8_t> g_bEraseOnly { 0 };
uint8_t              g_bRestartProgress = 0;
uint8_t              g_nWaitDots = 0;

void ResetGlobalsForTests()
{
    g_bQuitRequested = false;
    g_bPortsOpen = false;
    g_bConnected = false;
    g_nDeviceFamily = 0;
    g_nSwitchState = 0;
    g_nJobPhase = 0;
    g_strMCUName = {};
    g_strFlashName = {};
    g_nFileSize = 0;
    g_bFullImage = false;
    g_szDriverDir[0] = 0;
    g_szDriverSearch[0] = 0;
    if (g_hFind != nullptr)
        FindCloseListing (g_hFind);
    g_hFind = nullptr;
    g_FindData = FolderEntry();
    g_nDriverSectorCount = 0;
    g_nSearchTicks = 0;
    g_bEraseOnly = 0;
    g_bRestartProgress = 0;
    g_nWaitDots = 0;
}
