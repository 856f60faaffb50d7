#include "base/linux/linux_log.h"

namespace vok_log {

unsigned long _logtypes = 0x3F;
unsigned long _flags = 0x1DF;
unsigned long _maxlvl = static_cast<unsigned long>(-1);
char const* const NULL_TEXT = "(null)";

void hl_openlog(char const*) {}
int openlog(char const*) { return -1; }
void closelog() {}
void hl_setopts(unsigned long logtypes, unsigned long flags, unsigned long maxlvl)
{
    _logtypes = logtypes & ~0xC0UL;
    _flags = flags;
    _maxlvl = maxlvl;
}
void hl_log(unsigned long, char const*, ...) {}
void log(char const*, ...) {}
void hexdump(void const*, int) {}
void hl_hd(unsigned long, void const*, int) {}
void setloglevel(int) {}
void incloglevel() {}
int decloglevel() { return 0; }
void pushlogcontext(char const*) {}
int poplogcontext() { return 0; }
void setlogcontext(char const*) {}
void openlogthread() {}
void closelogthread() {}
tlogthreadptr* getlogthreadptr() { return nullptr; }
uint64_t GetTickCount() { return 0; }
char const* translateFlags(TRNAMES const*, unsigned long, unsigned long) { return ""; }
char const* translateParam(TRNAMES const*, unsigned long, unsigned long) { return ""; }
char const* datetime() { return ""; }
char* _strtime(char* buf) { return buf; }
char* _strdate(char* buf) { return buf; }
void err(int) {}

} // namespace vok_log
