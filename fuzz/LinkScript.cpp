#include "fuzz/LinkScript.h"
#include "link/SysExCodec.h"

LinkScriptWriter::LinkScriptWriter (int state, int flags, int driver, int image,
                                    int page, int source, int offset, int length)
{
    m_Bytes = { (uint8_t) state, (uint8_t) flags, (uint8_t) driver, (uint8_t) image,
                (uint8_t) page, (uint8_t) source, (uint8_t) offset, (uint8_t) length };
}

void LinkScriptWriter::Raw (const juce::MidiMessage& message)
{
    const int n = message.getRawDataSize();
    m_Bytes.push_back ((uint8_t) kEventRaw);
    m_Bytes.push_back ((uint8_t) (n & 0xFF));
    m_Bytes.push_back ((uint8_t) (n >> 8));
    m_Bytes.insert (m_Bytes.end(), message.getRawData(), message.getRawData() + n);
}

void LinkScriptWriter::Status (int status)
{
    m_Bytes.push_back ((uint8_t) kEventStatus);
    m_Bytes.push_back ((uint8_t) status);
}

void LinkScriptWriter::ReadBlock (int flags, int seed)
{
    m_Bytes.push_back ((uint8_t) kEventReadBlock);
    m_Bytes.push_back ((uint8_t) flags);
    m_Bytes.push_back ((uint8_t) seed);
}

void LinkScriptWriter::LoaderIdentity (int index, int fsFlag)
{
    m_Bytes.push_back ((uint8_t) kEventLoaderIdentity);
    m_Bytes.push_back ((uint8_t) index);
    m_Bytes.push_back ((uint8_t) fsFlag);
    m_Bytes.push_back (1);
}

void LinkScriptWriter::Tick()
{
    m_Bytes.push_back ((uint8_t) kEventTick);
}

void LinkScriptWriter::Start (int state)
{
    m_Bytes.push_back ((uint8_t) kEventStart);
    m_Bytes.push_back ((uint8_t) state);
}

std::vector<juce::MidiMessage> MakeReadBlockReplies (const uint8_t* block, int blockBytes,
                                                      int chunks, bool announce)
{
    std::vector<uint8_t> encoded ((size_t) Encoded8to7Length (blockBytes));
    Encode8to7 (block, blockBytes, encoded.data());

    // Chunks end on whole 8-byte groups, as the parser cuts groups from each chunk's start.
    const int groups = ((int) encoded.size() + 7) / 8;
    chunks = juce::jlimit (1, groups, chunks);
    std::vector<juce::MidiMessage> out;
    int group = 0;
    for (int c = 0; c < chunks; ++c)
    {
        const int endGroup = c == chunks - 1 ? groups : group + groups / chunks;
        const size_t from = (size_t) group * 8;
        const size_t to = std::min (encoded.size(), (size_t) endGroup * 8);
        std::vector<uint8_t> m { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x01,
                                 (uint8_t) (announce && c < chunks - 1 ? 1 : 0) };
        m.insert (m.end(), encoded.begin() + (std::ptrdiff_t) from, encoded.begin() + (std::ptrdiff_t) to);
        m.push_back (0xF7);
        out.emplace_back (m.data(), (int) m.size(), 0.0);
        group = endGroup;
    }
    return out;
}
