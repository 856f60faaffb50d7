#include "base/linux/linux_log.h"

#include <arpa/inet.h>
#include <cassert>
#include <cctype>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <wchar.h>

namespace vok_log
{

unsigned long _logtypes = 0x3F;
unsigned long _flags = 0x1DF;
unsigned long _maxlvl = static_cast<unsigned long>(-1);
char const *const NULL_TEXT = "(null)";

namespace
{

enum { KIND_CLOSED = 0, KIND_UDP = 1, KIND_FILE = 2 };
enum { MSG_SIZE = 2048, LINE_SIZE = 1024, HEADER_SIZE = 1024, TEMPLATE_SIZE = 512 };
enum { UDP_PORT = 9999 };

const TRNAMES _headerTypes[] = {
    {0x01, ">>"}, {0x02, "<<"}, {0x04, "WA"}, {0x08, "ER"},
    {0x10, "EX"}, {0x20, "IN"}, {0x40, "DB"}, {0x80, "DD"},
};

// One logger lock serialises the target (opening, closing, rotation and each
// header-plus-line write) and the registry of per-thread states.
pthread_mutex_t g_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

struct Lock {
    Lock() { pthread_mutex_lock(&g_lock); }
    ~Lock() { pthread_mutex_unlock(&g_lock); }
    Lock(Lock const &) = delete;
    Lock &operator=(Lock const &) = delete;
};

int g_kind = KIND_CLOSED;

// UDP target
int g_socket = -1;
sockaddr_in addr;

// File target and rotation
FILE *g_file = nullptr;
int g_count = 0;                // 0: no rotation
long fnsmax = 0;                // size at which the next file is begun
int g_index = 1;                // 1-based index of the current file
char g_template[TEMPLATE_SIZE]; // path template holding one "%d"
size_t g_digitPos = 0;          // offset of the "%d" in the template

// Per-thread states. Every state made for the key is also kept in a registry,
// so closing the log can delete the key and free every state: a thread that
// logged must not run a destructor in a module that has been unloaded.
int g_keyMarker = -1; // result of the key creation, -1 no key
pthread_key_t g_key;

struct StateNode {
    tlogthreadptr state; // first member: the node's address is the state's
    StateNode *prev;
    StateNode *next;
};
StateNode *g_states = nullptr;

tlogthreadptr g_shared; // used by every thread while there is no key
bool g_sharedReady = false;

void freeContexts(tlogthreadptr *st)
{
    while (st->context != nullptr) {
        tlogcontext *top = st->context;
        st->context = top->next;
        std::free(top);
    }
}

void resetState(tlogthreadptr *st)
{
    std::memset(st, 0, sizeof(*st));
    st->initialised = 1;
    st->lineReady = 1;
}

void unlinkNode(StateNode *node)
{
    if (node->prev != nullptr)
        node->prev->next = node->next;
    else
        g_states = node->next;
    if (node->next != nullptr)
        node->next->prev = node->prev;
}

extern "C" void cleantls(void *p)
{
    if (p == nullptr)
        return;
    Lock lock;
    StateNode *node = reinterpret_cast<StateNode *>(p);
    freeContexts(&node->state);
    unlinkNode(node);
    std::free(node);
}

void deleteKey()
{
    if (g_keyMarker == 0) {
        pthread_key_delete(g_key);
        g_keyMarker = -1;
    }
    while (g_states != nullptr) {
        StateNode *node = g_states;
        g_states = node->next;
        freeContexts(&node->state);
        std::free(node);
    }
}

// ---- formatting ------------------------------------------------------------

// printf-style formatting into out (cap bytes, always NUL-terminated). Unlike the
// C library it never dereferences a NULL "%s" argument (NULL_TEXT is printed)
// and ignores "%n". Each conversion is handed to snprintf on its own, with a
// format built from the caller's directive: the caller's format is checked by
// the attribute on hl_log and log, these pieces cannot be.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
__attribute__((format(printf, 3, 0))) size_t vformat(char *out, size_t cap, char const *fmt,
                                                     va_list ap)
{
    if (cap == 0)
        return 0;
    size_t n = 0;
    out[0] = '\0';
    if (fmt == nullptr)
        fmt = NULL_TEXT;

    auto append = [&](char const *s, size_t len) {
        size_t room = cap - 1 - n;
        if (len > room)
            len = room;
        std::memcpy(out + n, s, len);
        n += len;
        out[n] = '\0';
    };
    auto emit = [&](char const *sub, auto value) {
        int r = std::snprintf(out + n, cap - n, sub, value);
        if (r > 0)
            n += (static_cast<size_t>(r) < cap - 1 - n) ? static_cast<size_t>(r) : cap - 1 - n;
        out[n] = '\0';
    };

    char const *p = fmt;
    while (*p != '\0') {
        if (*p != '%') {
            char const *q = std::strchr(p, '%');
            size_t len = q != nullptr ? static_cast<size_t>(q - p) : std::strlen(p);
            append(p, len);
            p += len;
            continue;
        }
        char const *spec = p++;
        if (*p == '%') {
            append("%", 1);
            ++p;
            continue;
        }
        char sub[64];
        size_t s = 0;
        bool bad = false;
        auto put = [&](char c) {
            if (s < sizeof(sub) - 1)
                sub[s++] = c;
            else
                bad = true;
        };
        // A width or precision: digits, or "*" taken from the arguments.
        auto putCount = [&]() {
            if (*p == '*') {
                char num[16];
                std::snprintf(num, sizeof(num), "%d", va_arg(ap, int));
                for (char const *c = num; *c != '\0'; ++c)
                    put(*c);
                ++p;
            } else {
                while (*p >= '0' && *p <= '9')
                    put(*p++);
            }
        };
        put('%');
        while (*p != '\0' && std::strchr("-+ #0'", *p) != nullptr)
            put(*p++);
        putCount();
        if (*p == '$') // positional arguments are not supported
            bad = true;
        if (*p == '.') {
            put(*p++);
            putCount();
        }
        char len1 = 0, len2 = 0;
        if (*p == 'h' || *p == 'l') {
            len1 = *p;
            put(*p++);
            if (*p == len1) {
                len2 = *p;
                put(*p++);
            }
        } else if (*p == 'L' || *p == 'q' || *p == 'j' || *p == 'z' || *p == 't') {
            len1 = *p;
            put(*p++);
        }
        char conv = *p;
        if (bad || conv == '\0') {
            append(spec, std::strlen(spec)); // cannot be interpreted: copy the rest as text
            break;
        }
        ++p;
        put(conv);
        sub[s] = '\0';
        bool isLong = len1 == 'l' && len2 == 0;
        bool isLongLong = (len1 == 'l' && len2 == 'l') || len1 == 'q';
        switch (conv) {
        case 'd':
        case 'i':
            if (isLongLong)
                emit(sub, va_arg(ap, long long));
            else if (isLong)
                emit(sub, va_arg(ap, long));
            else if (len1 == 'j')
                emit(sub, va_arg(ap, intmax_t));
            else if (len1 == 'z')
                emit(sub, va_arg(ap, ssize_t));
            else if (len1 == 't')
                emit(sub, va_arg(ap, ptrdiff_t));
            else
                emit(sub, va_arg(ap, int));
            break;
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            if (isLongLong)
                emit(sub, va_arg(ap, unsigned long long));
            else if (isLong)
                emit(sub, va_arg(ap, unsigned long));
            else if (len1 == 'j')
                emit(sub, va_arg(ap, uintmax_t));
            else if (len1 == 'z')
                emit(sub, va_arg(ap, size_t));
            else if (len1 == 't')
                emit(sub, va_arg(ap, ptrdiff_t));
            else
                emit(sub, va_arg(ap, unsigned int));
            break;
        case 'c':
            if (isLong)
                emit(sub, va_arg(ap, wint_t));
            else
                emit(sub, va_arg(ap, int));
            break;
        case 's':
            if (isLong) {
                wchar_t const *w = va_arg(ap, wchar_t const *);
                if (w == nullptr) {
                    sub[s - 2] = 's'; // drop the 'l'
                    sub[s - 1] = '\0';
                    emit(sub, NULL_TEXT);
                } else {
                    emit(sub, w);
                }
            } else {
                char const *str = va_arg(ap, char const *);
                emit(sub, str != nullptr ? str : NULL_TEXT);
            }
            break;
        case 'p':
            emit(sub, va_arg(ap, void *));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (len1 == 'L')
                emit(sub, va_arg(ap, long double));
            else
                emit(sub, va_arg(ap, double));
            break;
        case 'n':
            (void)va_arg(ap, void *); // never written through
            break;
        default:
            append(spec, static_cast<size_t>(p - spec)); // unknown conversion: as text
            break;
        }
    }
    return n;
}
#pragma GCC diagnostic pop

// ---- target ----------------------------------------------------------------

// File name of a rotation index: the template with its "%d" replaced. The
// template is never used as a format, so a "%" in the path is harmless.
void rotationName(int index, char *name, size_t cap)
{
    std::snprintf(name, cap, "%.*s%d%s", static_cast<int>(g_digitPos), g_template, index,
                  g_template + g_digitPos + 2);
}

// Begins the current numbered file afresh.
void rotationCreate()
{
    char name[TEMPLATE_SIZE + 16];
    rotationName(g_index, name, sizeof(name));
    g_file = std::fopen(name, "w");
}

// The walk at open: the first numbered file below the size limit, from the
// current index on, else the start file created afresh.
void rotationOpen()
{
    char name[TEMPLATE_SIZE + 16];
    int start = g_index;
    do {
        rotationName(g_index, name, sizeof(name));
        FILE *f = std::fopen(name, "a");
        if (f != nullptr) {
            std::fseek(f, 0, SEEK_END);
            long size = std::ftell(f);
            if (size >= 0 &&
                static_cast<unsigned long>(size) < static_cast<unsigned long>(fnsmax)) {
                g_file = f;
                return;
            }
            std::fclose(f);
        }
        g_index = g_index % g_count + 1;
    } while (g_index != start);
    rotationCreate();
}

// Before each header: moves to the next numbered file when the current one has
// reached the size limit.
void logreopen_file_std(FILE *f)
{
    if (f == nullptr || g_count == 0)
        return;
    long pos = std::ftell(f);
    if (static_cast<unsigned long>(pos) < static_cast<unsigned long>(fnsmax))
        return;
    g_index = g_index % g_count + 1;
    std::fclose(f);
    rotationCreate();
}

void writeTarget(char const *text, bool rotate)
{
    if (g_kind == KIND_FILE) {
        if (rotate)
            logreopen_file_std(g_file);
        if (g_file != nullptr) {
            std::fputs(text, g_file);
            std::fflush(g_file);
        }
    } else if (g_kind == KIND_UDP) {
        sendto(g_socket, text, std::strlen(text), 0, reinterpret_cast<sockaddr const *>(&addr),
               sizeof(addr));
    }
}

int openUdp(char const *host)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *res = nullptr;
    if (host == nullptr || *host == '\0' || getaddrinfo(host, nullptr, &hints, &res) != 0 ||
        res == nullptr) {
        if (res != nullptr)
            freeaddrinfo(res);
        return -3;
    }
    sockaddr_in found;
    std::memcpy(&found, res->ai_addr, sizeof(found));
    freeaddrinfo(res);
    if (found.sin_addr.s_addr == htonl(INADDR_BROADCAST))
        return -3;
    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return -4;
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr = found.sin_addr;
    addr.sin_port = htons(UDP_PORT);
    g_socket = sock;
    return 0;
}

int openFile(char const *spec)
{
    g_count = 0;
    char const *path = spec;
    if (*spec == '(') {
        int count = 0;
        long size = 0;
        int used = 0;
        if (std::sscanf(spec, "(%i,%li%n", &count, &size, &used) != 2 || spec[used] != ')')
            return -1;
        path = spec + used + 1;
        if (*path == '\0')
            return -1;
        size_t len = std::strlen(path);
        char const *dot = std::strrchr(path, '.');
        char const *slash = std::strrchr(path, '/');
        char const *backslash = std::strrchr(path, '\\');
        char const *lastSep = slash > backslash ? slash : backslash;
        size_t baseLen = len;
        size_t extLen = 0;
        if (dot != nullptr && (lastSep == nullptr || dot > lastSep)) {
            baseLen = static_cast<size_t>(dot - path);
            extLen = len - baseLen;
        }
        // base, ".%d", extension and NUL must fit the template
        if (extLen > TEMPLATE_SIZE - 4)
            return -1;
        if (baseLen > TEMPLATE_SIZE - 4 - extLen)
            baseLen = TEMPLATE_SIZE - 4 - extLen;
        std::memcpy(g_template, path, baseLen);
        std::memcpy(g_template + baseLen, ".%d", 3);
        std::memcpy(g_template + baseLen + 3, path + len - extLen, extLen);
        g_template[baseLen + 3 + extLen] = '\0';
        g_digitPos = baseLen + 1;
        g_count = count > 64 ? 64 : (count < 2 ? 2 : count);
        fnsmax = size;
        g_index = 1;
        g_file = nullptr;
        rotationOpen();
    } else {
        if (*path == '\0')
            return -1;
        g_file = std::fopen(path, "a");
    }
    if (g_file == nullptr) {
        g_count = 0;
        return -1;
    }
    return 0;
}

// ---- line assembly -----------------------------------------------------------

void appendText(char *buf, size_t cap, size_t &n, char const *text)
{
    while (*text != '\0' && n + 1 < cap)
        buf[n++] = *text++;
    buf[n] = '\0';
}

void _header(tlogthreadptr *st, char *buf)
{
    size_t n = 0;
    bool noSep = true;
    buf[0] = '\0';
    char field[64];
    auto addField = [&](char const *sep, char const *text) {
        if (!noSep)
            appendText(buf, HEADER_SIZE, n, sep);
        appendText(buf, HEADER_SIZE, n, text);
        noSep = false;
    };

    appendText(buf, HEADER_SIZE, n, "[");
    time_t now = std::time(nullptr);
    tm local;
    std::memset(&local, 0, sizeof(local));
    if (_flags & 0x003)
        localtime_r(&now, &local);
    if (_flags & 0x001) {
        std::strftime(field, sizeof(field), "%Y-%m-%d", &local);
        addField(" ", field);
    }
    if (_flags & 0x002) {
        std::strftime(field, sizeof(field), "%H:%M:%S", &local);
        addField(" ", field);
    }
    if (_flags & 0x004) {
        std::snprintf(field, sizeof(field), "%08llX",
                      static_cast<unsigned long long>(GetTickCount()));
        addField(".", field);
    }
    if (_flags & 0x008) {
        std::snprintf(field, sizeof(field), "PID=%08X", static_cast<unsigned int>(getpid()));
        addField(" ", field);
    }
    if (_flags & 0x010) {
        std::snprintf(field, sizeof(field), "TID=%08lX",
                      static_cast<unsigned long>(pthread_self()));
        addField(" ", field);
    }
    appendText(buf, HEADER_SIZE, n, "]");
    noSep = false;

    if (st == nullptr) {
        appendText(buf, HEADER_SIZE, n, "\t");
        return;
    }
    if (_flags & 0x100) {
        appendText(buf, HEADER_SIZE, n, " ");
        unsigned long type = st->lineType;
        if (type == 0) {
            appendText(buf, HEADER_SIZE, n, "   ");
        } else {
            bool first = true;
            unsigned long known = 0;
            for (TRNAMES const &row : _headerTypes) {
                known |= row.mask;
                if (type & row.mask) {
                    if (!first)
                        appendText(buf, HEADER_SIZE, n, "|");
                    appendText(buf, HEADER_SIZE, n, row.name);
                    first = false;
                }
            }
            if (type & ~known) {
                std::snprintf(field, sizeof(field), "%s%lX", first ? "" : "|", type & ~known);
                appendText(buf, HEADER_SIZE, n, field);
            }
            appendText(buf, HEADER_SIZE, n, " ");
        }
    }
    if (_flags & 0x020) {
        std::snprintf(field, sizeof(field), "L(%02d)", st->level);
        addField(" ", field);
    }
    if (_flags & 0x040) {
        if (!noSep)
            appendText(buf, HEADER_SIZE, n, " ");
        noSep = true;
        int level = st->level < 0 ? 0 : (st->level > 8 ? 8 : st->level);
        for (int i = 0; i < 2 * level; ++i)
            appendText(buf, HEADER_SIZE, n, " ");
    }
    if (_flags & 0x080)
        noSep = true;
    appendText(buf, HEADER_SIZE, n, noSep ? " " : "\t");
}

void flushLine(tlogthreadptr *st)
{
    char header[HEADER_SIZE];
    _header(st, header);
    writeTarget(header, true);
    writeTarget(st->line, false);
    st->lineReady = 0;
    st->lineLength = 0;
    st->line[0] = '\0';
}

void logText(char const *text)
{
    tlogthreadptr *st = getlogthreadptr();
    if (st == nullptr) {
        writeTarget(text, false);
        return;
    }
    const int last = LINE_SIZE - 1; // room for the NUL
    char const *p = text;
    while (*p != '\0') {
        while (*p != '\0' && *p != '\r' && *p != '\n' && st->lineLength + 4 <= last)
            st->line[st->lineLength++] = *p++;
        if (*p == '\r' || *p == '\n') {
            char partner = *p == '\r' ? '\n' : '\r';
            st->line[st->lineLength++] = *p++;
            // Further line-end characters beyond the buffer are dropped.
            while (*p == partner) {
                if (st->lineLength < last)
                    st->line[st->lineLength++] = *p;
                ++p;
            }
            st->lineReady = 1;
        } else if (st->lineLength + 4 > last) {
            st->line[st->lineLength++] = '\n';
            st->lineReady = 1;
        }
        st->line[st->lineLength] = '\0';
        if (st->lineReady)
            flushLine(st);
    }
}

char *scratchBuffer(char *fallback)
{
    tlogthreadptr *st = getlogthreadptr();
    if (st == nullptr)
        return fallback;
    st->scratchIndex = (st->scratchIndex + 1) % 4;
    return st->scratch[st->scratchIndex];
}

bool tableOk(TRNAMES const *table, unsigned long tableBytes)
{
    assert(table && "t");
    assert(tableBytes % sizeof(TRNAMES) == 0 && "sizeof(TRNAMES)*len==tsize");
    return table != nullptr && tableBytes % sizeof(TRNAMES) == 0;
}

bool isNameChar(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u < 0x80 && (std::isalnum(u) || c == '_' || c == ':');
}

} // namespace

// ---- opening and closing -----------------------------------------------------

void hl_openlog(char const *target)
{
    if (target == nullptr)
        return;
    Lock lock;
    int types = 0, flags = 0, maxlvl = 0, used = 0;
    if (target[0] == '(' &&
        std::sscanf(target, "(%i,%i,%i%n", &types, &flags, &maxlvl, &used) == 3 &&
        target[used] == ')') {
        openlog(target + used + 1);
        unsigned long t = types ? static_cast<unsigned long>(static_cast<long>(types)) : _logtypes;
        unsigned long f = flags ? static_cast<unsigned long>(static_cast<long>(flags)) : _flags;
        unsigned long m = maxlvl ? static_cast<unsigned long>(static_cast<long>(maxlvl)) : _maxlvl;
        hl_setopts(t, f, m);
    } else {
        // also a prefix that is not closed by ")": not a target, the log stays closed
        openlog(target);
    }
}

int openlog(char const *target)
{
    Lock lock;
    if (g_kind != KIND_CLOSED || g_keyMarker == 0)
        closelog();
    if (target == nullptr)
        return -1;
    int rc;
    int kind;
    if (strncasecmp(target, "udp:", 4) == 0) {
        rc = openUdp(target + 4);
        kind = KIND_UDP;
    } else if (strncasecmp(target, "file:", 5) == 0) {
        rc = openFile(target + 5);
        kind = KIND_FILE;
    } else {
        return -2;
    }
    if (rc != 0)
        return rc;
    g_kind = kind;
    g_keyMarker = pthread_key_create(&g_key, cleantls) == 0 ? 0 : -1;
    return 0;
}

void closelog()
{
    Lock lock;
    int kind = g_kind;
    g_kind = KIND_CLOSED;
    if (kind == KIND_UDP && g_socket >= 0) {
        close(g_socket);
        g_socket = -1;
    } else if (kind == KIND_FILE && g_file != nullptr) {
        std::fclose(g_file);
        g_file = nullptr;
    }
    deleteKey();
}

void hl_setopts(unsigned long logtypes, unsigned long flags, unsigned long maxlvl)
{
    Lock lock;
    _logtypes = logtypes & ~(HL_DEBUG | HL_DEBUG_DATA);
    _flags = flags;
    _maxlvl = maxlvl;
}

// ---- writing -----------------------------------------------------------------

void hl_log(unsigned long type, char const *fmt, ...)
{
    Lock lock;
    if (g_kind == KIND_CLOSED)
        return;
    bool enabled = (type & _logtypes) != 0;
    if (!enabled && !(type & (HL_ENTER | HL_LEAVE)))
        return;
    tlogthreadptr *st = getlogthreadptr();
    if (st != nullptr)
        st->lineType = static_cast<uint32_t>(type);

    char msg[MSG_SIZE];
    msg[0] = '\0';
    if (enabled || (type & HL_ENTER)) {
        va_list ap;
        va_start(ap, fmt);
        vformat(msg, sizeof(msg), fmt, ap);
        va_end(ap);
    }
    if (type & HL_ENTER) {
        char name[256];
        size_t n = 0;
        while (n < 255 && isNameChar(msg[n])) {
            name[n] = msg[n];
            ++n;
        }
        name[n] = '\0';
        incloglevel();
        pushlogcontext(n > 0 ? name : "undefined");
    }
    if (enabled && st != nullptr &&
        static_cast<unsigned long>(static_cast<long>(st->level)) <= _maxlvl) {
        char const *prefix = (type & (HL_ENTER | HL_LEAVE)) ? "" : "  ";
        log("%s%s", prefix, msg);
    }
    if (type & HL_LEAVE) {
        poplogcontext();
        decloglevel();
    }
    if (st != nullptr)
        st->lineType = 0;
}

void log(char const *fmt, ...)
{
    Lock lock;
    if (g_kind == KIND_CLOSED)
        return;
    char msg[MSG_SIZE];
    va_list ap;
    va_start(ap, fmt);
    vformat(msg, sizeof(msg), fmt, ap);
    va_end(ap);
    logText(msg);
}

void hexdump(void const *p, int n)
{
    Lock lock;
    if (g_kind == KIND_CLOSED)
        return;
    if (p == nullptr) {
        log("  NULL pointer\n");
        return;
    }
    if (n <= 0) {
        log("  Invalid length %d\n", n);
        return;
    }
    if (n > 4096) {
        log("  First 4K of %d..\n", n);
        n = 4096;
    }
    unsigned char const *bytes = static_cast<unsigned char const *>(p);
    for (int row = 0; row < n; row += 16) {
        char hex[8 + 48 + 1];
        char chars[17];
        size_t h = static_cast<size_t>(std::snprintf(hex, sizeof(hex), "  %04X ", row));
        int c = 0;
        for (int i = 0; i < 16; ++i) {
            if (row + i < n) {
                unsigned char b = bytes[row + i];
                std::snprintf(hex + h, sizeof(hex) - h, "%02X ", b);
                signed char sb = static_cast<signed char>(b);
                chars[c++] =
                    (sb > 0x20 && b != 0x7F && b != '{' && b != '}') ? static_cast<char>(b) : '.';
            } else {
                std::memcpy(hex + h, "   ", 4);
            }
            h += 3;
        }
        chars[c] = '\0';
        log("%s %s\n", hex, chars);
    }
}

void hl_hd(unsigned long type, void const *p, int n)
{
    Lock lock;
    if (type == 0 || (type & _logtypes) == 0)
        return;
    tlogthreadptr *st = getlogthreadptr();
    if (st == nullptr || static_cast<unsigned long>(static_cast<long>(st->level)) > _maxlvl)
        return;
    hexdump(p, n);
}

// ---- per-thread state --------------------------------------------------------

tlogthreadptr *getlogthreadptr()
{
    Lock lock;
    if (g_keyMarker == 0) {
        void *p = pthread_getspecific(g_key);
        if (p != nullptr)
            return static_cast<tlogthreadptr *>(p);
        StateNode *node = static_cast<StateNode *>(std::calloc(1, sizeof(StateNode)));
        if (node == nullptr)
            return nullptr;
        resetState(&node->state);
        if (pthread_setspecific(g_key, node) != 0) {
            std::free(node);
            return nullptr;
        }
        node->next = g_states;
        if (g_states != nullptr)
            g_states->prev = node;
        g_states = node;
        return &node->state;
    }
    if (!g_sharedReady) {
        resetState(&g_shared);
        g_sharedReady = true;
    }
    return &g_shared;
}

void openlogthread()
{
    getlogthreadptr();
}

void closelogthread()
{
    Lock lock;
    tlogthreadptr *st = getlogthreadptr();
    if (st == nullptr || st->initialised == 0)
        return;
    freeContexts(st);
    resetState(st);
}

void setloglevel(int level)
{
    Lock lock;
    if (tlogthreadptr *st = getlogthreadptr())
        st->level = level;
}

void incloglevel()
{
    Lock lock;
    if (tlogthreadptr *st = getlogthreadptr())
        ++st->level;
}

int decloglevel()
{
    Lock lock;
    tlogthreadptr *st = getlogthreadptr();
    if (st == nullptr)
        return 0;
    if (st->level >= 1)
        --st->level;
    return st->level;
}

void pushlogcontext(char const *name)
{
    Lock lock;
    tlogthreadptr *st = getlogthreadptr();
    if (st == nullptr)
        return;
    tlogcontext *entry = static_cast<tlogcontext *>(std::calloc(1, sizeof(tlogcontext)));
    if (entry == nullptr)
        return;
    std::snprintf(entry->name, sizeof(entry->name), "%s", name != nullptr ? name : NULL_TEXT);
    entry->next = st->context;
    st->context = entry;
}

int poplogcontext()
{
    Lock lock;
    tlogthreadptr *st = getlogthreadptr();
    if (st == nullptr || st->context == nullptr)
        return 0;
    tlogcontext *top = st->context;
    st->context = top->next;
    std::free(top);
    return st->context != nullptr ? 1 : 0;
}

void setlogcontext(char const *name)
{
    Lock lock;
    tlogthreadptr *st = getlogthreadptr();
    if (st == nullptr)
        return;
    if (st->context == nullptr) {
        pushlogcontext(name);
        return;
    }
    std::snprintf(st->context->name, sizeof(st->context->name), "%s",
                  name != nullptr ? name : NULL_TEXT);
}

// ---- text helpers --------------------------------------------------------------

uint64_t GetTickCount()
{
    timeval tv;
    if (gettimeofday(&tv, nullptr) != 0)
        return 0;
    return static_cast<uint64_t>(tv.tv_sec) * 1000 + static_cast<uint64_t>(tv.tv_usec) / 1000;
}

char const *translateFlags(TRNAMES const *table, unsigned long tableBytes, unsigned long value)
{
    static char own[1024];
    char *out = scratchBuffer(own);
    size_t n = 0;
    out[0] = '\0';
    if (value == 0) {
        appendText(out, 1024, n, "0");
        return out;
    }
    unsigned long covered = 0;
    if (tableOk(table, tableBytes)) {
        for (unsigned long i = 0; i < tableBytes / sizeof(TRNAMES); ++i) {
            if (table[i].mask & value) {
                if (n > 0)
                    appendText(out, 1024, n, "|");
                appendText(out, 1024, n, table[i].name != nullptr ? table[i].name : NULL_TEXT);
                covered |= table[i].mask;
            }
        }
    }
    unsigned long rest = value & ~covered;
    if (rest != 0) {
        char num[32];
        std::snprintf(num, sizeof(num), "%s0x%08lX", n > 0 ? "|" : "", rest);
        appendText(out, 1024, n, num);
    }
    return out;
}

char const *translateParam(TRNAMES const *table, unsigned long tableBytes, unsigned long value)
{
    if (tableOk(table, tableBytes)) {
        for (unsigned long i = 0; i < tableBytes / sizeof(TRNAMES); ++i) {
            if (table[i].mask == value && table[i].name != nullptr)
                return table[i].name;
        }
    }
    static char own[1024];
    char *out = scratchBuffer(own);
    std::snprintf(out, 1024, "0x%lX", value);
    return out;
}

char const *datetime()
{
    static char own[1024];
    char *out = scratchBuffer(own);
    time_t now = std::time(nullptr);
    char text[64];
    if (ctime_r(&now, text) == nullptr)
        text[0] = '\0';
    size_t len = std::strlen(text);
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r'))
        text[--len] = '\0';
    std::snprintf(out, 1024, "%s", text);
    return out;
}

// The local time now.
static tm localNow()
{
    time_t now = std::time(nullptr);
    tm local;
    localtime_r(&now, &local);
    return local;
}

char *_strtime(char *buf)
{
    if (buf != nullptr) {
        tm local = localNow();
        std::strftime(buf, 64, "%X", &local);
    }
    return buf;
}

char *_strdate(char *buf)
{
    if (buf != nullptr) {
        tm local = localNow();
        // the date as the locale writes it, two-digit years included
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
        std::strftime(buf, 64, "%x", &local);
#pragma GCC diagnostic pop
    }
    return buf;
}

void err(int) {}

} // namespace vok_log
