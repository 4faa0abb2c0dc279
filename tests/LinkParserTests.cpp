// The receive parser fed by the simulated module: read blocks cut into chunks
// of every size, announced or waiting for Continue, with and without the FS
// trailer, and blocks that carry more data than a block holds.
#include <gtest/gtest.h>
#include "tests/LinkTestRig.h"

using namespace linktest;

namespace
{
    // Encoded size of a read block: 4096 bytes, or 4100 with the trailer.
    int EncodedBlock (bool fs) { return fs ? 585 * 8 + 6 : 585 * 8 + 2; }

    void ReadsEveryChunkShape (int fsFlag)
    {
        Rig rig;
        SimModuleConfig c;
        c.fsFlag = fsFlag;
        auto module = rig.AddModule (c);
        ASSERT_TRUE (rig.ReadyForFlash());
        ASSERT_EQ (rig.link->IsFS(), fsFlag == 1);

        constexpr int kBlocks = 3;
        const auto flash = Pattern (kBlocks * 4096, 3);
        module->preloadFlash (0x20000, flash);
        const auto out = rig.folder.getChildFile ("read.bin");

        // 0: the whole block in one chunk; 585 groups leave a last chunk of one
        // byte and its top-bit byte (HS) or of five bytes (FS).
        for (const int groups : { 0, 1, 2, 7, 64, 585, 586, 587 })
            for (const bool announce : { true, false })
            {
                SCOPED_TRACE (juce::String (groups) + (announce ? " announced" : " continue"));
                module->setReadChunking (groups, announce);
                module->clearRecords();
                const auto from = rig.Mark();
                ASSERT_FALSE (rig.link->ReadToFile (out.getFullPathName(), 0, 0x20000, kBlocks * 4096));
                ASSERT_TRUE (rig.WaitStepEnd (from));
                ASSERT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1) << rig.timeline.Log (from);
                EXPECT_EQ (Rig::ReadFile (out), flash);

                ASSERT_TRUE (rig.bus->waitForIdle());
                const int encoded = EncodedBlock (fsFlag == 1);
                const int chunks = groups == 0 ? 1 : (encoded + groups * 8 - 1) / (groups * 8);
                EXPECT_EQ (module->receivedCount (SimCommand::ReadBlock), kBlocks);
                EXPECT_EQ (module->receivedCount (SimCommand::Continue), announce ? 0 : kBlocks * (chunks - 1));
                EXPECT_EQ (rig.timeline.Log (from), "Reading 10000\nRead finished.\n");
            }
        EXPECT_TRUE (rig.timeline.Boxes().isEmpty());
    }
}

TEST (LinkParser, ReadChunksOfEveryShapeWithTheTrailer)
{
    ReadsEveryChunkShape (1);
}

TEST (LinkParser, ReadChunksOfEveryShapeWithoutTheTrailer)
{
    ReadsEveryChunkShape (0);
}

TEST (LinkParser, DataBeyondTheBlockIsDroppedAndTheBlockCountsAsDamaged)
{
    // The link took the module for HS; the module then sends the 4-byte trailer
    // too, so every block arrives four bytes too long.
    for (const int groups : { 0, 64 })
    {
        SCOPED_TRACE (groups);
        Rig rig;
        SimModuleConfig c;
        c.fsFlag = 0;
        auto module = rig.AddModule (c);
        ASSERT_TRUE (rig.ReadyForFlash());
        ASSERT_FALSE (rig.link->IsFS());
        module->setFsFlag (1);
        module->setReadChunking (groups, false);
        module->preloadFlash (0, Pattern (4096));

        const auto out = rig.folder.getChildFile ("read.bin");
        bool openAtBox = true;
        rig.onBox = [&] (const juce::String&) { openAtBox = rig.link->IsReadFileOpen(); };
        const auto from = rig.Mark();
        ASSERT_FALSE (rig.link->ReadToFile (out.getFullPathName(), 0, 0, 0x1000));
        ASSERT_TRUE (rig.WaitStepEnd (from));

        // Ten repeats of the block, then the read gives up; nothing was stored.
        EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 6\n"));
        EXPECT_EQ (rig.timeline.Log (from), "Reading 0\n" + juce::String::repeatedString (".", 11));
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);
        ASSERT_TRUE (rig.bus->waitForIdle());
        EXPECT_EQ (module->receivedCount (SimCommand::ReadBlock), 11);
        EXPECT_FALSE (openAtBox);
        EXPECT_EQ (out.getSize(), 0);
    }
}
