// SPDX-License-Identifier: GPL-3.0-or-later
// A manual-reset event that threads wait on, and that the packet driver signals.
#pragma once

#include <atomic>

// The waitable handle of an event, as handed to the packet driver.
using EventHandle = int;
constexpr EventHandle kNullEventHandle = -1;

// A manual-reset event, non-signalled when made. set() keeps it signalled until reset().
// Besides its own flag the event can be tied to sources of its own (the packet driver ties
// an adapter's frame queues to the event registered for that adapter): the event then
// also counts as signalled for as long as any such source has data waiting, so nothing
// that arrives between the last empty read and reset() can be missed.
class WaitEvent
{
public:
    WaitEvent();
    ~WaitEvent();
    WaitEvent(const WaitEvent &) = delete;
    WaitEvent &operator=(const WaitEvent &) = delete;

    // False when the operating system refused the event's resources.
    bool isValid() const;

    // set() may be called from any thread, and from a signal handler.
    void set();
    // Costs no system call when the event's own flag was not set since the last reset.
    void reset();
    // True when the event or one of its sources is signalled; never waits.
    bool isSignalled() const;

    // The handle to give the packet driver (kNullEventHandle when invalid).
    EventHandle nativeHandle() const;

    enum WaitResult { FirstSignalled, SecondSignalled, TimedOut, WaitFailed };
    // Waits until either event is signalled; when both are, the first wins. A negative
    // timeout waits without time limit.
    static WaitResult waitAny(const WaitEvent &first, const WaitEvent &second, int timeoutMs = -1);

private:
    int m_flagFd = -1;    // the event's own flag
    int m_waitSetFd = -1; // the flag plus every tied source; the native handle
    std::atomic<bool> m_flagWritten{false}; // set() wrote the flag since the last reset()
};
