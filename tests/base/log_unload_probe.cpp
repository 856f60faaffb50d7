// A loadable module that logs through the base logger, for the unload test.
#include "base/linux/linux_log.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

PROBE_EXPORT void probe_open(char const *target)
{
    hl_openlog(target);
}

PROBE_EXPORT void probe_log(char const *text)
{
    hl_log(HL_INFO, "%s", text);
}

PROBE_EXPORT void probe_close()
{
    closelog();
}
