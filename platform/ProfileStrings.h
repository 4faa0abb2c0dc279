#pragma once
// Settings files of the usual "[section]" / "key=value" form. Section and key
// names compare case-insensitively; a missing file, section or key gives the
// default; a write keeps every other section, key and line as it was.
#include <memory>
#include <juce_core/juce_core.h>

/** Reads one value; returns the default when the file, section or key is missing. */
juce::String ReadProfileString (const juce::String& section, const juce::String& key,
                                const juce::String& defaultValue, const juce::String& file);

/** Writes one value, creating the file (not its folder) and the section if needed.
    Returns false when the file cannot be written; the old file is then unchanged. */
bool WriteProfileString (const juce::String& section, const juce::String& key,
                         const juce::String& value, const juce::String& file);

/** A settings file held in memory: loaded once, read and changed many times,
    written back in one atomic step. Every line it does not change (comments,
    unknown sections and keys, blank lines, even bytes that are no text) is
    written back exactly as it was read. When a section appears twice, the
    first one is read and written. */
class ProfileFile
{
public:
    /** A settings file at `path`; nothing is read until Load. */
    explicit ProfileFile (const juce::String& path);
    ~ProfileFile();
    ProfileFile (const ProfileFile&) = delete;
    ProfileFile& operator= (const ProfileFile&) = delete;

    /** Reads the file. A missing file reads as empty and is no failure. Returns
        false when the file exists but cannot be read; Save then refuses, so the
        file is never replaced by what little was understood of it. */
    bool Load();
    /** Whether the file has the key in the section. */
    bool Has (const juce::String& section, const juce::String& key) const;
    /** One value, with white space (and a pair of enclosing quotes) removed;
        the default when the section or the key is missing. */
    juce::String Get (const juce::String& section, const juce::String& key,
                      const juce::String& defaultValue) const;
    /** Sets one value in memory, adding the key (and the section) when missing.
        Line breaks in the value are turned into blanks. */
    void Set (const juce::String& section, const juce::String& key, const juce::String& value);
    /** Writes the whole file in one atomic replace; false when it could not be
        written, the old file then being unchanged. */
    bool Save() const;
    /** The path given at construction. */
    const juce::String& GetPath() const { return m_strPath; }

private:
    struct Contents;
    juce::String m_strPath;
    std::unique_ptr<Contents> m_pContents;
};
