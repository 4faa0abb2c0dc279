#pragma once
// Listing a folder the way the driver catalog and the driver search expect:
// entries in name order (case-insensitive), "." and ".." first, each with its
// directory attribute. A name the system gives as bytes that are no UTF-8 is
// carried whole (see NativeNameToString), so every listed file can be opened.
#include "platform/Paths.h"

struct FolderEntry
{
    wchar_t szName[kMaxPath] {};   ///< file name without folder
    bool bDirectory = false;       ///< the entry is a folder
    bool bNameCut = false;         ///< the name is longer than szName holds: it cannot be opened by it
};

struct FolderListingState;
using FolderHandle = FolderListingState*;   ///< null when no listing is open

/** Starts a listing for a pattern "folder<sep>mask" (mask may use * and ?).
    Returns null when the folder cannot be read or nothing matches; otherwise
    fills the first entry. */
FolderHandle FindFirstEntry (const wchar_t* pattern, FolderEntry* entry);
/** Fills the next entry; false when the listing is exhausted. */
bool FindNextEntry (FolderHandle handle, FolderEntry* entry);
/** Ends a listing; null is accepted. */
void FindCloseListing (FolderHandle handle);
