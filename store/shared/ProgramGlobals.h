#pragma once
// Program-wide state shared by the device link, the job engine and the panel.
// Whatever the MIDI input thread touches is atomic.
#include <atomic>
#include <cstdint>
#include <juce_core/juce_core.h>
#include "platform/Paths.h"
#include "platform/FolderListing.h"

extern std::atomic<bool>    g_bQuitRequested;     ///< the close button was pressed
extern std::atomic<bool>    g_bPortsOpen;         ///< the discovery ports are open
extern std::atomic<bool>    g_bConnected;         ///< the module answered the last probe cycle
extern std::atomic<uint8_t> g_nDeviceFamily;      ///< 0 none yet, 1 application probe, 2 loader probe
extern std::atomic<uint8_t> g_nSwitchState;       ///< 0 idle, 1 wait for application answer, 2 wait for loader
extern std::atomic<uint8_t> g_nJobPhase;          ///< update-flow phase; non-zero makes the timer a watchdog
extern juce::String         g_strMCUName;         ///< MCU expected by the update flow (message thread)
extern juce::String         g_strFlashName;       ///< flash type chosen by the update flow (message thread)
extern std::atomic<int>     g_nFileSize;          ///< size of the chosen file
extern std::atomic<bool>    g_bFullImage;         ///< the chosen file is exactly 0x0C000000 bytes
extern wchar_t              g_szDriverDir[kMaxPath];     ///< the driver folder
extern wchar_t              g_szDriverSearch[kMaxPath];  ///< driver being tried, or the search pattern
extern FolderHandle         g_hFind;              ///< open enumeration of the driver folder
extern FolderEntry          g_FindData;           ///< its current entry
extern std::atomic<int>     g_nDriverSectorCount; ///< sectors of the driver being tried
extern uint8_t              g_nSearchTicks;       ///< unanswered probe cycles
extern std::atomic<uint8_t> g_bEraseOnly;         ///< two-chip flow: erase steps end after erasing
extern uint8_t              g_bRestartProgress;   ///< the next program-only step restarts progress
extern uint8_t              g_nWaitDots;          ///< Waiting animation counter

/** Puts every global back to its start value (tests). */
void ResetGlobalsForTests();
