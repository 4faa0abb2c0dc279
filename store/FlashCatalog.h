#pragma once
// The catalogs of flash drivers: every readable driver file of the driver
// folder, the MCU names they name (each once), and the drivers of one MCU.
#include <cstring>
#include <juce_core/juce_core.h>
#include "platform/Paths.h"

class CLogger;

/** One flash driver file. */
struct _STR_FLASH_INFO
{
    char szMCUName[20];               ///< MCU name, ASCII, NUL-terminated, at most 16 characters
    char szFlashName[20];             ///< flash chip name, same form
    wchar_t szDriverPath[kMaxPath];   ///< full path of the driver file
    _STR_FLASH_INFO* pNext;           ///< next record; null at the end
};

/** One MCU name. */
struct _STR_FLASH_NAME
{
    char szName[20];           ///< MCU name, copied from szMCUName
    _STR_FLASH_NAME* pNext;    ///< next record; null at the end
};

/** A singly linked list of records with a pNext field; owns its records.
    The head is a zero-filled record that is no item. */
template <typename T>
class CSimpleLinkList
{
public:
    /** An empty list with its head record. */
    CSimpleLinkList() : m_pHead (new T {}), m_pCur (nullptr), m_pTail (m_pHead) {}
    /** Frees every record. */
    virtual ~CSimpleLinkList() { RemoveAll(); }
    CSimpleLinkList (const CSimpleLinkList&) = delete;
    CSimpleLinkList& operator= (const CSimpleLinkList&) = delete;

    /** Called for each item just before its record is freed. */
    virtual void FreeItem (T* /*item*/) {}
    /** Orders two items; no operation of the list uses it. */
    virtual int CompareItems (const T* /*a*/, const T* /*b*/) const { return 0; }
    /** The duplicate test of Add: is the candidate the same as an item already listed? */
    virtual bool IsSameItem (const T* /*item*/, const T* /*candidate*/) const { return false; }

    /** Appends a record and takes it over (returns 0); returns 1 and leaves the
        list unchanged when an equal item is already listed or the record is null
        (the caller keeps and frees it). */
    int Add (T* record)
    {
        if (record == nullptr)
            return 1;
        if (m_pHead == nullptr)
            Reset();
        for (T* item = m_pHead->pNext; item != nullptr; item = item->pNext)
            if (IsSameItem (item, record))
                return 1;
        record->pNext = nullptr;
        m_pTail->pNext = record;
        m_pTail = record;
        return 0;
    }

    /** Puts the cursor before the first item. */
    void MoveFirst() { m_pCur = m_pHead; }

    /** Advances the cursor and returns the item it then stands on; null after the last. */
    T* GetNext()
    {
        if (m_pCur != nullptr)
            m_pCur = m_pCur->pNext;
        return m_pCur;
    }

    /** The item at a 1-based position; null for 0 or less and beyond the end. */
    T* GetAt (int position) const
    {
        if (position <= 0 || m_pHead == nullptr)
            return nullptr;
        T* item = m_pHead->pNext;
        for (int i = 1; item != nullptr && i < position; ++i)
            item = item->pNext;
        return item;
    }

    /** The first item (null when empty), for walks that do not move the cursor. */
    const T* GetFirst() const { return m_pHead != nullptr ? m_pHead->pNext : nullptr; }

    /** The number of items. */
    int GetCount() const
    {
        int n = 0;
        for (const T* item = GetFirst(); item != nullptr; item = item->pNext)
            ++n;
        return n;
    }

    /** Frees the head and every item; the list is unusable until Reset (Add resets it). */
    void RemoveAll()
    {
        if (m_pHead != nullptr)
        {
            T* item = m_pHead->pNext;
            while (item != nullptr)
            {
                T* next = item->pNext;
                FreeItem (item);
                delete item;
                item = next;
            }
            delete m_pHead;
        }
        m_pHead = nullptr;
        m_pTail = nullptr;
        m_pCur = nullptr;
    }

    /** Empties the list and makes it usable again. */
    void Reset()
    {
        RemoveAll();
        m_pHead = new T {};
        m_pTail = m_pHead;
    }

protected:
    T* m_pHead;   ///< zero-filled record before the first item
    T* m_pCur;    ///< iteration cursor
    T* m_pTail;   ///< the last record; the head while empty
};

/** Every driver, in folder-listing order; equal names are kept. */
class CFlashLinkList : public CSimpleLinkList<_STR_FLASH_INFO>
{
};

/** Each MCU name once, in order of first appearance. */
class CMCUList : public CSimpleLinkList<_STR_FLASH_NAME>
{
public:
    /** Equal when the names are equal byte for byte. */
    bool IsSameItem (const _STR_FLASH_NAME* item, const _STR_FLASH_NAME* candidate) const override
    {
        return std::strncmp (item->szName, candidate->szName, sizeof (item->szName)) == 0;
    }
};

/** Fills a record from the driver file `fileName` in g_szDriverDir. Returns 0,
    or 1 after writing "Can't open file %s\n" or "Can't get flash infomation
    from %s\n" to the log. Never reads past the end of the file. */
int ReadFlashInfo (CLogger& log, const wchar_t* fileName, _STR_FLASH_INFO* info);

/** Lists the ".bin" files of g_szDriverDir in name order, appends every
    readable one to `all` and each new MCU name to `mcus`. Entries "." and ".."
    and folders are skipped. Returns the number of ".bin" files seen, readable
    or not; 0 when the folder is missing. The lists are not emptied first. */
int ScanFlashDrivers (CLogger& log, CFlashLinkList& all, CMCUList& mcus);

/** Empties `out` and fills it with copies of the drivers of one MCU (names
    equal byte for byte), in the order of `all`. When `flashNames` is given it
    is cleared and receives their flash names, entry k for position k + 1 of
    `out`. Returns the number of drivers copied. */
int CopyFlashRecordsForMCU (const CFlashLinkList& all, const char* mcuName,
                            CFlashLinkList& out, juce::StringArray* flashNames);

/** The MCU names in list order, entry k for position k + 1. */
juce::StringArray GetMCUNames (const CMCUList& mcus);

/** A catalog name (char[20], NUL-terminated) as text; bytes that are no
    valid UTF-8 are taken as Latin-1. */
juce::String CatalogNameToString (const char* name);
