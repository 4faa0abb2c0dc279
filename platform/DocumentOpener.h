#pragma once
// Opening a document (the help) with the desktop's opener.

/** Opens a document with the desktop's opener, never running the file itself
    and never through a shell; true when the opener was started (callers ignore
    the result). No child process is left behind to be waited for. */
bool OpenDocument (const wchar_t* path);
