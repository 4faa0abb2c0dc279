#pragma once
// A log sink with a pane, and a way to read everything logged so far.
#include "store/Logger.h"
#include "TestUtil.h"

namespace storetest
{

class LogCapture
{
public:
    LogCapture()
    {
        pane.setSize (400, 200);
        log.SetEditor (&pane);
    }
    ~LogCapture() { log.SetEditor (nullptr); }

    /** Everything logged before this call, once it has reached the pane. */
    juce::String Text()
    {
        static const juce::String marker ("\x01end-of-capture\x01");
        log.Write (marker);
        const bool arrived = RunLoopUntil ([this] { return pane.getText().endsWith (marker); });
        auto text = pane.getText();
        if (arrived)
        {
            text = text.dropLastCharacters (marker.length());
            pane.setText (text, false);
        }
        return text;
    }

    CLogEditor pane;   ///< the pane the text arrives in
    CLogger log;       ///< the sink under test or handed to the code under test
};

} // namespace storetest
