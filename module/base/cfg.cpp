#include "base/cfg.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/hex.h"

namespace
{

enum { LINE_CHARS = 767 };
enum { ERR_NOT_FOUND = 2, ERR_BAD_ARGUMENT = 87, ERR_MORE_DATA = 234 };
enum { LINE_EMPTY = 0, LINE_SECTION = 1, LINE_KEY = 2, LINE_CONTINUED = 3, LINE_MALFORMED = -1 };

bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Splits one line. key and value must hold LINE_CHARS + 1 characters.
int parseline(char *line, char *key, char *value, int inContinuation)
{
    key[0] = '\0';
    value[0] = '\0';
    if (char *hash = std::strchr(line, '#'))
        *hash = '\0';
    char *begin = line;
    while (isSpace(*begin))
        ++begin;
    char *end = begin + std::strlen(begin);
    while (end > begin && isSpace(end[-1]))
        --end;
    *end = '\0';

    bool continued = false;
    if (end > begin && end[-1] == '\\') {
        continued = true;
        *--end = '\0';
        while (end > begin && isSpace(end[-1]))
            *--end = '\0';
        if (end == begin)
            return LINE_MALFORMED; // a line holding only "\"
    }

    if (inContinuation) {
        std::strcpy(value, begin);
        return continued ? LINE_CONTINUED : LINE_KEY;
    }
    if (*begin == '\0')
        return LINE_EMPTY;

    if (*begin == '[') {
        char *close = std::strchr(begin + 1, ']');
        if (close == nullptr || close == begin + 1 || continued)
            return LINE_MALFORMED;
        size_t len = static_cast<size_t>(close - begin - 1);
        std::memcpy(key, begin + 1, len);
        key[len] = '\0';
        return LINE_SECTION;
    }

    char *p = begin;
    while (*p != '\0' && *p != '=' && !isSpace(*p))
        ++p;
    if (p == begin)
        return LINE_MALFORMED;
    size_t keyLen = static_cast<size_t>(p - begin);
    while (isSpace(*p))
        ++p;
    if (*p != '=')
        return LINE_MALFORMED;
    ++p;
    while (isSpace(*p))
        ++p;
    if (*p == '\0' && !continued)
        return LINE_MALFORMED;
    std::memcpy(key, begin, keyLen);
    key[keyLen] = '\0';
    std::strcpy(value, p);
    return continued ? LINE_CONTINUED : LINE_KEY;
}

_t_cfg *newEntry(char const *name, char const *value)
{
    _t_cfg *e = static_cast<_t_cfg *>(std::calloc(1, sizeof(_t_cfg)));
    if (e == nullptr)
        return nullptr;
    e->name = strdup(name);
    e->value = strdup(value);
    if (e->name == nullptr || e->value == nullptr) {
        std::free(e->name);
        std::free(e->value);
        std::free(e);
        return nullptr;
    }
    return e;
}

void append(_t_cfg **head, _t_cfg *e)
{
    while (*head != nullptr)
        head = &(*head)->next;
    *head = e;
}

bool isSection(_t_cfg const *e)
{
    return e->entries != nullptr || e->value == nullptr || e->value[0] == '\0';
}

int b64Digit(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=')
        return 0;
    return -1;
}

// Decodes an escaped binary value into out (when given); returns the number of
// bytes, or -1 for a bad escape.
long decodeBin(char const *v, unsigned char *out)
{
    long n = 0;
    while (*v != '\0') {
        unsigned char byte;
        if (*v == '\\') {
            if (v[1] != 'x' || hexDigit(v[2]) < 0 || hexDigit(v[3]) < 0)
                return -1;
            byte = static_cast<unsigned char>(hexDigit(v[2]) * 16 + hexDigit(v[3]));
            v += 4;
        } else {
            byte = static_cast<unsigned char>(*v++);
        }
        if (out != nullptr)
            out[n] = byte;
        ++n;
    }
    return n;
}

// The size answers of the binary readers: with no buffer the size needed and
// 0, with one too small the size needed and ERR_MORE_DATA. True when answered
// (rv holds the code); false when out can take the value.
bool answerSize(unsigned long needed, unsigned long *len, unsigned char const *out,
                unsigned long &rv)
{
    if (out != nullptr && *len >= needed)
        return false;
    rv = out == nullptr ? 0 : ERR_MORE_DATA;
    *len = needed;
    return true;
}

} // namespace

int cfg_rd(_t_cfg **cfg, char const *path)
{
    if (cfg == nullptr || path == nullptr)
        return -2;
    *cfg = nullptr;
    FILE *f = std::fopen(path, "rt");
    if (f == nullptr)
        return -2;

    char line[LINE_CHARS + 1];
    char key[LINE_CHARS + 1];
    char value[LINE_CHARS + 1];
    _t_cfg *top = nullptr;
    _t_cfg *section = nullptr;
    std::string pendingKey;
    std::string pendingValue;
    bool inContinuation = false;
    int lineNo = 0;
    int result = 0;

    auto addKey = [&](char const *name, char const *text) -> bool {
        _t_cfg *e = newEntry(name, text);
        if (e == nullptr)
            return false;
        append(section != nullptr ? &section->entries : &top, e);
        return true;
    };
    // Stores the key whose value is complete; a key with no value ends the read.
    auto finishKey = [&] {
        if (pendingValue.empty())
            result = lineNo; // nothing ever followed "key ="
        else if (!addKey(pendingKey.c_str(), pendingValue.c_str()))
            result = -4;
    };

    try {
        while (result == 0 && std::fgets(line, sizeof(line), f) != nullptr) {
            ++lineNo;
            int kind = parseline(line, key, value, inContinuation ? 1 : 0);
            switch (kind) {
            case LINE_EMPTY:
                break;
            case LINE_SECTION: {
                _t_cfg *found = nullptr;
                for (_t_cfg *e = top; e != nullptr; e = e->next) {
                    if (isSection(e) && std::strcmp(e->name, key) == 0) {
                        found = e;
                        break;
                    }
                }
                if (found == nullptr) {
                    found = newEntry(key, "");
                    if (found == nullptr) {
                        result = -4;
                        break;
                    }
                    append(&top, found);
                }
                section = found;
                break;
            }
            case LINE_KEY:
            case LINE_CONTINUED:
                if (!inContinuation)
                    pendingKey = key;
                pendingValue += value;
                inContinuation = kind == LINE_CONTINUED;
                if (!inContinuation) {
                    finishKey();
                    pendingValue.clear();
                }
                break;
            default:
                result = lineNo;
                break;
            }
        }
        // A continuation cut short by the end of the file keeps what it has.
        if (result == 0 && inContinuation)
            finishKey();
    } catch (std::bad_alloc const &) {
        result = -4;
    }
    std::fclose(f);
    if (result != 0) {
        cfg_free(top);
        return result;
    }
    *cfg = top;
    return 0;
}

void cfg_free(_t_cfg *cfg)
{
    while (cfg != nullptr) {
        _t_cfg *next = cfg->next;
        cfg_free(cfg->entries);
        std::free(cfg->name);
        std::free(cfg->value);
        std::free(cfg);
        cfg = next;
    }
}

char const *cfg_getv(_t_cfg *cfg, char const *key, int *index)
{
    if (key == nullptr)
        return nullptr;
    int wanted = index != nullptr ? *index : 0;
    int seen = 0;
    for (_t_cfg *e = cfg; e != nullptr; e = e->next) {
        if (isSection(e) || std::strcmp(e->name, key) != 0)
            continue;
        if (seen++ == wanted) {
            if (index != nullptr)
                ++*index;
            return e->value;
        }
    }
    return nullptr;
}

_t_cfg *cfg_gets(_t_cfg *cfg, char const *name)
{
    if (name == nullptr)
        return nullptr;
    for (_t_cfg *e = cfg; e != nullptr; e = e->next) {
        if (e->entries != nullptr && std::strcmp(e->name, name) == 0)
            return e->entries;
    }
    return nullptr;
}

unsigned long cfg_getv_int(_t_cfg *cfg, char const *key, int *out)
{
    char const *v = cfg_getv(cfg, key, nullptr);
    if (v == nullptr)
        return ERR_NOT_FOUND;
    if (out == nullptr)
        return 0;
    if (*v == '\0')
        return ERR_NOT_FOUND;
    char *end = nullptr;
    errno = 0;
    long n = std::strtol(v, &end, 0);
    if (*end != '\0' || errno == ERANGE || n < INT_MIN || n > INT_MAX)
        return ERR_NOT_FOUND;
    *out = static_cast<int>(n);
    return 0;
}

unsigned long cfg_getv_ulong(_t_cfg *cfg, char const *key, unsigned long *out)
{
    char const *v = cfg_getv(cfg, key, nullptr);
    if (v == nullptr)
        return ERR_NOT_FOUND;
    if (out == nullptr)
        return 0;
    if (*v == '\0')
        return ERR_NOT_FOUND;
    char *end = nullptr;
    errno = 0;
    unsigned long n = std::strtoul(v, &end, 0);
    if (*end != '\0' || errno == ERANGE)
        return ERR_NOT_FOUND;
    *out = n;
    return 0;
}

unsigned long cfg_getv_b64(_t_cfg *cfg, char const *key, unsigned long *len, unsigned char *out)
{
    if (key == nullptr || len == nullptr)
        return ERR_BAD_ARGUMENT;
    char const *v = cfg_getv(cfg, key, nullptr);
    if (v == nullptr)
        return ERR_NOT_FOUND;
    size_t chars = std::strlen(v);
    for (size_t i = 0; i < chars; ++i) {
        if (b64Digit(v[i]) < 0)
            return ERR_NOT_FOUND;
    }
    unsigned long estimate = static_cast<unsigned long>((chars + 3) / 4 * 3);
    unsigned long rv;
    if (answerSize(estimate, len, out, rv))
        return rv;
    unsigned long n = 0;
    for (size_t g = 0; g < chars; g += 4) {
        char group[4] = {'=', '=', '=', '='};
        for (size_t i = 0; i < 4 && g + i < chars; ++i)
            group[i] = v[g + i];
        unsigned long bits = 0;
        for (char c : group)
            bits = (bits << 6) | static_cast<unsigned long>(b64Digit(c));
        out[n++] = static_cast<unsigned char>(bits >> 16);
        out[n++] = static_cast<unsigned char>(bits >> 8);
        out[n++] = static_cast<unsigned char>(bits);
        if (g + 4 >= chars) {
            // padding at the end of the last group removes bytes
            for (int i = 3; i >= 1 && group[i] == '='; --i)
                --n;
        }
    }
    *len = n;
    return 0;
}

unsigned long cfg_getv_bin(_t_cfg *cfg, char const *key, unsigned long *len, unsigned char *out)
{
    if (key == nullptr || len == nullptr)
        return ERR_BAD_ARGUMENT;
    char const *v = cfg_getv(cfg, key, nullptr);
    if (v == nullptr)
        return ERR_NOT_FOUND;
    long needed = decodeBin(v, nullptr);
    if (needed < 0)
        return ERR_NOT_FOUND;
    unsigned long rv;
    if (answerSize(static_cast<unsigned long>(needed), len, out, rv))
        return rv;
    decodeBin(v, out);
    *len = static_cast<unsigned long>(needed);
    return 0;
}
