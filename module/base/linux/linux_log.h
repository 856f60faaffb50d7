// Module trace log: one target (a file, optionally rotated, or a UDP endpoint),
// typed lines with a configurable header, per-thread nesting and contexts.
//
// Everything lives in namespace vok_log. The names openlog, closelog, log and err
// are also libc/libm symbols, so they must never be exported or interposed as
// globals; the using-declarations at the end of this header make every logger
// name callable unqualified from module code (log("x") picks the logger's
// overload over libm's log(double)). A translation unit that also includes
// <syslog.h> must call vok_log::closelog() qualified.
#pragma once

#include <cstdint>

namespace vok_log
{

// Line-type bits. Callers pass a line type by these names, never as a number.
enum : unsigned long {
    HL_ENTER = 0x01,
    HL_LEAVE = 0x02,
    HL_WARNING = 0x04,
    HL_ERROR = 0x08,
    HL_EXCEPTION = 0x10,
    HL_INFO = 0x20,
    HL_DEBUG = 0x40,
    HL_DEBUG_DATA = 0x80,
};

// One row of a flag or parameter name table.
struct TRNAMES {
    unsigned long mask;
    char const *name;
};

struct tlogcontext {
    char name[256];
    tlogcontext *next;
};

// Per-thread logger state.
struct tlogthreadptr {
    uint32_t initialised;
    int level;
    uint32_t lineReady;
    int lineLength;
    char scratch[4][1024];
    int scratchIndex;
    char line[1024];
    tlogcontext *context;
    uint32_t lineType;
};

// Process-wide settings.
extern unsigned long _logtypes; // written line types, default 0x3F
extern unsigned long _flags;    // header flags, default 0x1DF
extern unsigned long _maxlvl;   // highest written nesting level, default all ones

void hl_openlog(char const *target);
int openlog(char const *target);
// Closes the target and drops the per-thread key with every thread's state, so
// no thread runs logger code at its exit once the module is unloaded.
void closelog();
void hl_setopts(unsigned long logtypes, unsigned long flags, unsigned long maxlvl);
// printf-style; a NULL "%s" argument prints NULL_TEXT, "%n" is ignored.
void hl_log(unsigned long type, char const *fmt, ...) __attribute__((format(printf, 2, 3)));
void log(char const *fmt, ...) __attribute__((format(printf, 1, 2)));
void hexdump(void const *p, int n);
void hl_hd(unsigned long type, void const *p, int n);

void setloglevel(int level);
void incloglevel();
int decloglevel();
void pushlogcontext(char const *name);
int poplogcontext();
void setlogcontext(char const *name);

void openlogthread();
void closelogthread();
tlogthreadptr *getlogthreadptr();

uint64_t GetTickCount();
char const *translateFlags(TRNAMES const *table, unsigned long tableBytes, unsigned long value);
char const *translateParam(TRNAMES const *table, unsigned long tableBytes, unsigned long value);
char const *datetime();
char *_strtime(char *buf);
char *_strdate(char *buf);
void err(int);

// The text substituted for a NULL string argument of a "%s" conversion.
extern char const *const NULL_TEXT;

} // namespace vok_log

using vok_log::_flags;
using vok_log::_logtypes;
using vok_log::_maxlvl;
using vok_log::_strdate;
using vok_log::_strtime;
using vok_log::closelog;
using vok_log::closelogthread;
using vok_log::datetime;
using vok_log::decloglevel;
using vok_log::err;
using vok_log::getlogthreadptr;
using vok_log::GetTickCount;
using vok_log::hexdump;
using vok_log::HL_DEBUG;
using vok_log::HL_DEBUG_DATA;
using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_EXCEPTION;
using vok_log::hl_hd;
using vok_log::HL_INFO;
using vok_log::HL_LEAVE;
using vok_log::hl_log;
using vok_log::hl_openlog;
using vok_log::hl_setopts;
using vok_log::HL_WARNING;
using vok_log::incloglevel;
using vok_log::log;
using vok_log::openlog;
using vok_log::openlogthread;
using vok_log::poplogcontext;
using vok_log::pushlogcontext;
using vok_log::setlogcontext;
using vok_log::setloglevel;
using vok_log::tlogcontext;
using vok_log::tlogthreadptr;
using vok_log::translateFlags;
using vok_log::translateParam;
using vok_log::TRNAMES;
