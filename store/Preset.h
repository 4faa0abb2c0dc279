#pragma once
// The preset store: the LastSave record and up to 40 named presets, read
// from the settings file once and written back in one piece.
#include <cstdint>
#include <memory>
#include <vector>
#include <juce_core/juce_core.h>
#include "platform/Paths.h"

class ProfileFile;

/** Named presets the table holds at most. */
constexpr int kMaxPresets = 40;

/** One preset: the panel's settings; each field is stored under the key of its name. */
struct _STR_PRESET
{
    wchar_t PresetName[kMaxPath];   ///< empty in a panel record; "LastSave" once stored as LastSave
    wchar_t MCUName[kMaxPath];      ///< text of the MCU box
    wchar_t FlashName[kMaxPath];    ///< text of the flash type box
    int32_t FlashPage;              ///< flash chip-select page
    wchar_t NameWrite[kMaxPath];    ///< path of the file to write
    int32_t FileOffset;             ///< offset into the file
    int32_t WriteLength;            ///< length to write
    int32_t FlashOffset;            ///< offset into the flash
    wchar_t NameRead[kMaxPath];     ///< path of the file to read into
    int32_t ReadOffset;             ///< flash offset to read from
    int32_t ReadLength;             ///< length to read
    bool UserWordAddress;           ///< word (true) or byte (false) units
    bool BeepWhenDone;              ///< beep at the end of a job
    bool ReadAndCheckAfterWrite;    ///< verify after writing
};

/** The store; subclasses say how one section is read and written. */
class CPreset
{
public:
    /** Allocates the LastSave record and the 40 table records (zero-filled). */
    CPreset();
    /** Frees the 41 records and the table. */
    virtual ~CPreset();
    CPreset (const CPreset&) = delete;
    CPreset& operator= (const CPreset&) = delete;

    /** Reads one section into a record. */
    virtual void LoadSection (const wchar_t* section, _STR_PRESET* record) = 0;
    /** Writes one record into a section. */
    virtual void SaveSection (const wchar_t* section, const _STR_PRESET* record) = 0;

    /** Reads the whole settings file; returns 0. A TotalPreset above 40 loads
        the first 40 presets, one below 0 loads none. */
    int LoadAll (const wchar_t* fileName);
    /** Writes the whole file in one atomic replace, keeping every section, key
        and line it does not write. Returns 0, or 1 when nothing was written
        (no file name yet, or the write failed; the old file is then unchanged). */
    int SaveAll();
    /** Stores a record: an empty name makes it the LastSave record (its name
        becomes "LastSave", returns 0); otherwise returns its position in the
        sorted table, -1 when the table is full (or the record is null). */
    int Put (_STR_PRESET* record);
    /** The named preset at 0 <= index < count, the LastSave record for -1, else null. */
    _STR_PRESET* Get (int index);
    /** The number of named presets in use. */
    int GetCount() const;
    /** A setting outside the presets, as the file held it when it was loaded
        (or as the program has set it since); the default when missing. */
    juce::String GetSetting (const juce::String& section, const juce::String& key, const juce::String& defaultValue) const;
    /** Sets such a setting. Only the settings the program sets are written
        back, so that an edit of the file while the program runs stands; and
        one the file does not have only when its value differs from the
        default, so that a file without it stays without it. */
    void SetSetting (const juce::String& section, const juce::String& key, const juce::String& value,
                     const juce::String& defaultValue);
    /** The pace of SysEx sends, [Pacing] Pace, as the file holds it (empty when missing). */
    juce::String GetPaceText() const;
    /** The pace "auto" found for a port, [Pacing] Found.<port name>, as stored (empty when none). */
    juce::String GetFoundPace (const juce::String& portName) const;
    /** Remembers the pace "auto" found for a port (written back with the file). */
    void SetFoundPace (const juce::String& portName, const juce::String& pace);
    /** "Only what changed", [Update] OnlyChanged: each range is read first and
        written only when it differs. Off when missing. */
    bool GetOnlyChanged() const;
    void SetOnlyChanged (bool onlyChanged);

protected:
    /** The file LoadAll or SaveAll is working on, null outside them. Sections
        read or written then go through it, so the file is read and written once. */
    ProfileFile* GetOpenFile() const { return m_pOpenFile; }

    _STR_PRESET* m_pLastSave;          ///< the LastSave record
    _STR_PRESET** m_ppPresets;         ///< the table of kMaxPresets records
    wchar_t m_szFileName[kMaxPath];    ///< path of the settings file; empty until LoadAll
    int m_nCount;                      ///< named presets in use (0 to kMaxPresets)

private:
    int m_nTotalAsRead = 0;            ///< TotalPreset as read, written back while it was below 0
    bool m_bKeepTotalAsRead = false;   ///< no preset added since a TotalPreset below 0 was read
    ProfileFile* m_pOpenFile = nullptr;

    /** A setting the program has set. */
    struct SetByProgram
    {
        juce::String section, key, value, defaultValue;
    };
    std::unique_ptr<ProfileFile> m_pAsLoaded;   ///< the file as LoadAll read it
    std::vector<SetByProgram> m_SetByProgram;   ///< to be written back, in the order set
};

/** The store on the settings-file layer. */
class CLocalPreset : public CPreset
{
public:
    /** Reads the 14 keys of a section, with their defaults. */
    void LoadSection (const wchar_t* section, _STR_PRESET* record) override;
    /** Writes the 14 keys of a section in field order. */
    void SaveSection (const wchar_t* section, const _STR_PRESET* record) override;
};

/** The key of a port's found pace: "Found." and its name, with every byte that
    a key cannot hold as it is ('%', '=', control characters, bytes beyond ASCII,
    a blank at the end) written as %XX. Keys are compared ignoring case, so names
    that differ only in case share one. */
juce::String FoundPaceKey (const juce::String& portName);

/** A stored number: leading white space and a sign are accepted, reading
    stops at the first character that is no digit, no digits give 0, and
    values beyond 32 bits give the nearest limit. */
int32_t ProfileTextToInt (const juce::String& text);

/** Copies the fields the panel has no controls for (NameRead, ReadOffset,
    ReadLength, BeepWhenDone, ReadAndCheckAfterWrite) from one record into
    another, so that storing the panel's values does not wipe them. */
void CopyFieldsWithoutControls (const _STR_PRESET& from, _STR_PRESET& to);
