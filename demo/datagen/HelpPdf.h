#pragma once
// "Help.pdf": one A4 page on how to update a module, written as a plain
// PDF 1.4 file with the standard Helvetica fonts.
#include <juce_core/juce_core.h>

/** Builds the help document's bytes. */
juce::MemoryBlock BuildHelpPdf();
