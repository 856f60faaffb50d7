// A small keyed list: entries with a 64-bit id and a private copy of their data, kept
// in insertion order, with an optional recursive lock around every operation that
// says so. Entries and data come from the list's allocator. Results are 0 or a code:
// 0x80100011 for a null or uninitialised list, 1168 for a missing id, 122 for a too
// small buffer, 87 for a bad argument to an init call, 0x80100006 when memory runs out.
#pragma once

#include "card/qv_result.h"

#include <cstddef>
#include <cstdint>
#include <pthread.h>

const uint32_t QV_ERROR_INVALID_PARAMETER = 87;
const uint32_t QV_ERROR_INSUFFICIENT_BUFFER = 122;
const uint32_t QV_ERROR_NOT_FOUND = 1168;

struct QV_Common_Allocator {
    void *(*alloc)(size_t size);
    void *(*realloc)(void *p, size_t size);
    void (*free)(void *p);
};

// Null hooks are replaced by malloc, realloc and free.
uint32_t QV_Common_AllocatorInit(QV_Common_Allocator *allocator, void *(*alloc)(size_t),
                                 void *(*realloc)(void *, size_t), void (*free)(void *));
void QV_Common_AllocatorClose(QV_Common_Allocator *allocator);

struct QV_ListData_Entry {
    uint64_t id;
    void *data; // null when the entry holds no data
    unsigned long length;
    QV_ListData_Entry *next;
};

struct QV_ListData {
    QV_ListData_Entry *first;
    QV_Common_Allocator allocator;
    pthread_mutex_t *lock; // a recursive critical section, or null for none
    uint16_t initialised;
};

typedef uint32_t (*QV_ListData_GoThroughFunction)(QV_Common_Allocator *allocator,
                                                  QV_ListData_Entry *entry, void *user);
// Called for each pair of entries with the same id (either side may be null).
typedef uint32_t (*QV_ListData_ProcessFunction)(void *context, QV_ListData_Entry *entry1,
                                                QV_ListData_Entry *entry2, QV_ListData *out);
typedef uint32_t (*QV_ListData_CmpFunction)(void *context, QV_ListData_Entry *entry1,
                                            QV_ListData_Entry *entry2, bool *equal);

uint32_t QV_ListData_Init(QV_ListData *list, QV_Common_Allocator const *allocator,
                          pthread_mutex_t *lock);
uint32_t QV_ListData_Close(QV_ListData *list);
uint32_t QV_ListData_Lock(QV_ListData *list);
uint32_t QV_ListData_Unlock(QV_ListData *list);

// Replaces the data of the entry with id (length 0 leaves it without data) or appends
// a new entry.
uint32_t QV_ListData_Set(QV_ListData *list, uint64_t id, void const *data, unsigned long length);
// On entry *length is the room at out; a smaller room gives 122 and the needed length.
uint32_t QV_ListData_Get(QV_ListData *list, uint64_t id, void *out, unsigned long *length);
uint32_t QV_ListData_GetDirectNoLock(QV_ListData *list, uint64_t id, void **data,
                                     unsigned long *length);
uint32_t QV_ListData_GetItemNoLock(QV_ListData *list, uint64_t id, QV_ListData_Entry **entry);
uint32_t QV_ListData_Delete(QV_ListData *list, uint64_t id);
uint32_t QV_ListData_DeleteNoLock(QV_ListData *list, uint64_t id);
uint32_t QV_ListData_DeleteAll(QV_ListData *list);
// Stops at the first non-zero result of the callback and returns it.
uint32_t QV_ListData_GoThrough(QV_ListData *list, QV_ListData_GoThroughFunction callback,
                               void *user);

// Calls callback(context, entry of list1, entry of list2 with the same id or null, out)
// for every entry of list1 with data, then callback(context, null, entry, out) for
// every entry of list2 with data; stops at the first non-zero result.
uint32_t QV_ListData_ProcessById(void *context, QV_ListData *list1, QV_ListData *list2,
                                 QV_ListData *out, QV_ListData_ProcessFunction callback);
// Deletes from both lists every entry (with data) that compare finds equal to an entry
// of the other list. compare gets the allocator as its context.
uint32_t QV_ListData_CompareAndDeleteIdentical(QV_Common_Allocator *allocator, QV_ListData *list1,
                                               QV_ListData *list2, QV_ListData_CmpFunction compare);
// equal: same id, length and bytes.
uint32_t QV_ListData_CmpFunctionDefault(void *context, QV_ListData_Entry *entry1,
                                        QV_ListData_Entry *entry2, bool *equal);
// equal: same length and bytes, whatever the ids.
uint32_t QV_ListData_CmpFunctionDefaultData(void *context, QV_ListData_Entry *entry1,
                                            QV_ListData_Entry *entry2, bool *equal);
