// What a running transfer (a download, or the copy of a component) and the
// user tell each other: how far the download has come, and that the user
// asked to stop. The download manager owns the record; the progress window
// reads the progress to see a download stand still and sets the request when
// Cancel is pressed, and the transfer that stops for it clears it.
#pragma once

#include <windows.h>

// One writer each: the progress is written by the download's callback (on
// the worker thread when downloads use one), the request by the window's
// thread. Readers read after a message or a wait; each field is one word.
class TransferState
{
public:
    TransferState() : m_cancelRequested(false), m_progress(0), m_progressMax(0) {}

    void RequestCancel() { m_cancelRequested = true; }
    void ClearCancel() { m_cancelRequested = false; }
    bool CancelRequested() const { return m_cancelRequested; }

    // As the Internet library reports it: bytes so far and in all (0: unknown).
    void SetProgress(DWORD progress, DWORD progressMax)
    {
        m_progress = progress;
        m_progressMax = progressMax;
    }
    DWORD Progress() const { return m_progress; }
    DWORD ProgressMax() const { return m_progressMax; }

private:
    volatile bool m_cancelRequested;
    volatile DWORD m_progress;
    volatile DWORD m_progressMax;
};
