#include "jobs/JobRunner.h"
#include <algorithm>
#include <cstring>
#include "jobs/JobObserver.h"

namespace
{
    _STR_JOB_STEP NewStep (int32_t kind)
    {
        _STR_JOB_STEP s;
        std::memset (&s, 0, sizeof (s));
        s.nKind = kind;
        return s;
    }
}

CJobRunner::CJobRunner (CLogger* logger, juce::MessageListener* listener)
    : m_Current (NewStep (0))
{
    m_Link.SetLogger (logger);
    m_Link.SetListener (listener);
}

CJobRunner::~CJobRunner() = default;

void CJobRunner::Append (const _STR_JOB_STEP& step)
{
    const bool writes = step.nKind == kStepEraseProgram || step.nKind == kStepProgramZero
                     || step.nKind == kStepProgram || step.nKind == kStepErase;
    if (! (writes && m_bReadOnly))
        m_Steps.push_back (step);
}

bool CJobRunner::RunNext()
{
    if (m_nNext >= (int) m_Steps.size())
    {
        m_Current.nKind = 0;
        return true;
    }
    if (m_nNext == m_nPassCheckAt)
    {
        // A retried group writes again without checking first.
        m_nPassCheckAt = -1;
        if (m_Steps[(size_t) m_nNext].nKind == kStepCheck && ++m_nNext >= (int) m_Steps.size())
            return RunNext();
    }
    m_Current = m_Steps[(size_t) m_nNext];
    const auto& s = m_Current;
    if (m_pObserver != nullptr)
        m_pObserver->OnStep (m_nNext, (int) m_Steps.size(), s);
    bool failed = false;
    switch (s.nKind)
    {
        case kStepSendDriver:   failed = m_Link.SendDriver (s.szPath); break;
        case kStepCheckFlash:   m_Link.CheckFlash (s.nValue); break;
        case kStepEraseProgram: failed = m_Link.EraseAndProgramFile (s.nArg0, ToString (s.szPath), s.nArg1, s.nArg2, s.nArg3); break;
        case kStepRead:         failed = m_Link.ReadToFile (ToString (s.szPath), s.nArg0, s.nArg1, s.nArg2); break;
        case kStepCompare:      failed = m_Link.CompareFiles (ToString (s.szPath), s.nArg0, ToString (s.szPath2)); break;
        case kStepProgramZero:  m_Link.ProgramZeroBlock (s.nArg0, s.nArg1, s.nArg2, s.nArg3); break;
        case kStepProgram:      m_Link.ProgramFile (s.nArg0, ToString (s.szPath), s.nArg1, s.nArg2, s.nArg3); break;
        case kStepErase:        m_Link.EraseRange (s.nArg0, s.nArg2, s.nArg3); break;
        case kStepCheck:        failed = m_Link.CheckRange (s.nArg0, ToString (s.szPath), s.nArg1, s.nArg2, s.nArg3, s.nFill); break;
        default: break;
    }
    if (failed)
        ClearSteps();
    m_nNext += 1;
    return false;
}

void CJobRunner::ClearSteps()
{
    m_Steps.clear();
    m_nNext = 0;
    m_nPassCheckAt = -1;
    m_Current.nKind = 0;
}

void CJobRunner::Retry()
{
    m_nNext = m_nNext < 4 ? 0 : m_nNext - 4;
    if (m_nNext > 0 && m_nNext < (int) m_Steps.size() && m_Steps[(size_t) m_nNext].nKind == kStepCheck
        && m_Steps[(size_t) m_nNext - 1].nKind == kStepSendDriver)
    {
        m_nPassCheckAt = m_nNext;
        m_nNext -= 1;
    }
    RunNext();
}

bool CJobRunner::RetryFromDriver()
{
    const int current = m_nNext - 1;
    int driver = std::min (current, (int) m_Steps.size() - 1);
    while (driver >= 0 && m_Steps[(size_t) driver].nKind != kStepSendDriver)
        --driver;
    if (driver < 0)
        return false;
    m_nNext = driver;
    if (driver + 1 < current && m_Steps[(size_t) driver + 1].nKind == kStepCheck)
        m_nPassCheckAt = driver + 1;
    RunNext();
    return true;
}

bool CJobRunner::SkipChecked()
{
    if (m_Current.nKind == kStepCheck)
        m_nNext = std::min ((int) m_Steps.size(), m_nNext + std::max (0, (int) m_Current.nSkip));
    return RunNext();
}

const _STR_JOB_STEP* CJobRunner::GetCurrentStep() const
{
    return m_Current.nKind == 0 ? nullptr : &m_Current;
}

void CJobRunner::Connect()                  { m_Link.Connect(); }
void CJobRunner::SetWordMode (bool wordMode) { m_Link.SetWordMode (wordMode); }

void CJobRunner::AddSendDriver (const wchar_t* path)
{
    auto s = NewStep (kStepSendDriver);
    PathCopy (s.szPath, path);
    Append (s);
}

void CJobRunner::AddCheckFlash (int page)
{
    auto s = NewStep (kStepCheckFlash);
    s.nValue = page;
    Append (s);
}

void CJobRunner::AddEraseProgram (const wchar_t* path, int page, int srcOffset, int flashOffset, int length)
{
    auto s = NewStep (kStepEraseProgram);
    PathCopy (s.szPath, path);
    s.nArg0 = page; s.nArg1 = srcOffset; s.nArg2 = flashOffset; s.nArg3 = length;
    Append (s);
}

void CJobRunner::AddRead (const wchar_t* path, int page, int flashOffset, int length)
{
    auto s = NewStep (kStepRead);
    PathCopy (s.szPath, path);
    s.nArg0 = page; s.nArg1 = flashOffset; s.nArg2 = length;
    Append (s);
}

void CJobRunner::AddCompare (const wchar_t* path, int byteOffset, const wchar_t* readPath)
{
    auto s = NewStep (kStepCompare);
    PathCopy (s.szPath, path);
    s.nArg0 = byteOffset;
    PathCopy (s.szPath2, readPath);
    Append (s);
}

void CJobRunner::AddProgramZero (int page, int flashOffset)
{
    auto s = NewStep (kStepProgramZero);
    s.nArg0 = page; s.nArg1 = 0; s.nArg2 = flashOffset; s.nArg3 = 0x800;
    Append (s);
}

void CJobRunner::AddProgram (const wchar_t* path, int page, int srcOffset, int flashOffset, int length)
{
    auto s = NewStep (kStepProgram);
    PathCopy (s.szPath, path);
    s.nArg0 = page; s.nArg1 = srcOffset; s.nArg2 = flashOffset; s.nArg3 = length;
    Append (s);
}

void CJobRunner::AddCheck (const wchar_t* path, int page, int srcOffset, int flashOffset, int length, int fill, int skip, int dataBytes)
{
    auto s = NewStep (kStepCheck);
    PathCopy (s.szPath, path);
    s.nArg0 = page; s.nArg1 = srcOffset; s.nArg2 = flashOffset; s.nArg3 = length;
    s.nFill = fill; s.nSkip = skip; s.nData = dataBytes;
    Append (s);
}

void CJobRunner::AddErase (int page, int flashOffset, int length)
{
    auto s = NewStep (kStepErase);
    s.nArg0 = page; s.nArg2 = flashOffset; s.nArg3 = length;
    Append (s);
}
