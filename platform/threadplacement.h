// SPDX-License-Identifier: GPL-3.0-or-later
// Which processor a thread runs on, and keeping a thread on one processor.
#pragma once

// The processor the calling thread runs on right now; -1 when the system cannot tell.
int currentProcessor();

// Restricts the calling thread to `processor`; false (and nothing changed) when that
// processor is unknown or not allowed to this process.
bool keepCallingThreadOn(int processor);
