// SPDX-License-Identifier: GPL-3.0-or-later
// Which processor a thread runs on, and keeping a thread on one processor (Linux).
#include "platform/threadplacement.h"

#include <pthread.h>
#include <sched.h>

int currentProcessor()
{
    return sched_getcpu();
}

bool keepCallingThreadOn(int processor)
{
    if (processor < 0 || processor >= CPU_SETSIZE)
        return false;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed) != 0 || !CPU_ISSET(processor, &allowed))
        return false;
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(processor, &only);
    return pthread_setaffinity_np(pthread_self(), sizeof only, &only) == 0;
}
