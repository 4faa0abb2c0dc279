#pragma once
// A scratch folder for one test, removed again (with its permissions
// restored) when the test ends.
#include <juce_core/juce_core.h>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>

namespace storetest
{

class TestFolder
{
public:
    TestFolder()
        : m_folder (MakeUniqueFolder())
    {
    }

    ~TestFolder()
    {
        MakeWritable (m_folder);
        m_folder.deleteRecursively();
    }

    /** The folder itself. */
    const juce::File& Get() const { return m_folder; }
    /** A file or folder inside it. */
    juce::File Child (const juce::String& name) const { return m_folder.getChildFile (name); }

    /** Writes raw bytes into a file inside the folder. */
    juce::File WriteBytes (const juce::String& name, const void* data, size_t size) const
    {
        auto file = Child (name);
        file.replaceWithData (data, size);
        return file;
    }

    /** Writes text (UTF-8, line breaks as given) into a file inside the folder. */
    juce::File WriteText (const juce::String& name, const std::string& text) const
    {
        return WriteBytes (name, text.data(), text.size());
    }

    /** The raw bytes of a file. */
    static std::string ReadBytes (const juce::File& file)
    {
        juce::MemoryBlock block;
        file.loadFileAsData (block);
        return std::string (static_cast<const char*> (block.getData()), block.getSize());
    }

    /** Sets the permission bits of a file or folder. */
    static void SetMode (const juce::File& file, int mode)
    {
        ::chmod (file.getFullPathName().toRawUTF8(), (mode_t) mode);
    }

private:
    // Tests run in parallel processes, so the folder's name must be claimed
    // atomically: a name merely checked to be free could be taken by another
    // test (one that makes its folder read-only, say) before it is created.
    static juce::File MakeUniqueFolder()
    {
        auto pattern = juce::File::getSpecialLocation (juce::File::tempDirectory)
                           .getChildFile ("kestrava-test-XXXXXX").getFullPathName().toStdString();
        if (::mkdtemp (pattern.data()) == nullptr)
            throw std::runtime_error ("cannot create a scratch folder");
        return juce::File (juce::String (pattern));
    }

    static void MakeWritable (const juce::File& folder)
    {
        SetMode (folder, 0755);
        for (const auto& child : folder.findChildFiles (juce::File::findFilesAndDirectories, true, "*"))
            SetMode (child, child.isDirectory() ? 0755 : 0644);
    }

    juce::File m_folder;
};

} // namespace storetest
