/* A library for the system probes to look into. Loading it would run its constructor, which
   ends the process: a probe that loads it, or runs any of its code, fails the test loudly. */
#include <stdlib.h>

#define EXPORTED __attribute__((visibility("default")))

EXPORTED int probe_fixture_function(int x)
{
    return x + 1;
}

EXPORTED int probe_fixture_data = 7;

EXPORTED __thread int probe_fixture_thread_local;

__attribute__((visibility("hidden"))) int probe_fixture_hidden(int x)
{
    return x * 2;
}

__attribute__((constructor)) static void refuse_to_run(void)
{
    abort();
}
