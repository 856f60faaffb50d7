// The few Windows calls the card layer is written against, over POSIX.
#pragma once

#include <pthread.h>

void InitializeCriticalSection(pthread_mutex_t *cs);
void DeleteCriticalSection(pthread_mutex_t *cs);
void EnterCriticalSection(pthread_mutex_t *cs);
void LeaveCriticalSection(pthread_mutex_t *cs);
bool TryEnterCriticalSection(pthread_mutex_t *cs);

// UTF-16 to UTF-8 whatever the code page; codePage, flags, defaultChar and
// usedDefault are ignored. Returns the bytes needed or written including the NUL,
// or 0 on failure.
int WideCharToMultiByte(unsigned int codePage, unsigned long flags, unsigned short const *src,
                        int srcUnits, char *dst, int dstBytes, char const *defaultChar,
                        short *usedDefault);
