#include "card/list_data.h"

#include "base/win32.h"
#include "card/qv_result.h"

#include <cstdlib>
#include <cstring>

namespace
{

bool ready(QV_ListData const *list)
{
    return list != nullptr && list->initialised != 0;
}

// Holds a list's lock (if it has one) for a scope.
class ListLock
{
  public:
    explicit ListLock(QV_ListData *list) : m_lock(list->lock) { EnterCriticalSection(m_lock); }
    ~ListLock() { LeaveCriticalSection(m_lock); }
    ListLock(ListLock const &) = delete;
    ListLock &operator=(ListLock const &) = delete;

  private:
    pthread_mutex_t *m_lock;
};

QV_ListData_Entry *find(QV_ListData *list, uint64_t id, QV_ListData_Entry ***link = nullptr)
{
    QV_ListData_Entry **at = &list->first;
    while (*at != nullptr && (*at)->id != id)
        at = &(*at)->next;
    if (link != nullptr)
        *link = at;
    return *at;
}

// A copy of length bytes from the allocator (null for none).
uint32_t copyOf(QV_Common_Allocator const &a, void const *data, unsigned long length, void **copy)
{
    *copy = nullptr;
    if (length == 0)
        return 0;
    *copy = a.alloc(length);
    if (*copy == nullptr)
        return QV_E_NO_MEMORY;
    std::memcpy(*copy, data, length);
    return 0;
}

void freeEntry(QV_Common_Allocator const &a, QV_ListData_Entry *entry)
{
    if (entry->data != nullptr)
        a.free(entry->data);
    a.free(entry);
}

uint32_t append(QV_ListData *list, QV_ListData_Entry **end, uint64_t id, void *data,
                unsigned long length)
{
    auto *entry =
        static_cast<QV_ListData_Entry *>(list->allocator.alloc(sizeof(QV_ListData_Entry)));
    if (entry == nullptr)
        return QV_E_NO_MEMORY;
    *entry = {id, data, length, nullptr};
    *end = entry;
    return 0;
}

bool sameData(QV_ListData_Entry const *a, QV_ListData_Entry const *b)
{
    return a->length == b->length &&
           (a->length == 0 || std::memcmp(a->data, b->data, a->length) == 0);
}

} // namespace

uint32_t QV_Common_AllocatorInit(QV_Common_Allocator *allocator, void *(*alloc)(size_t),
                                 void *(*realloc)(void *, size_t), void (*free)(void *))
{
    if (allocator == nullptr)
        return QV_ERROR_INVALID_PARAMETER;
    allocator->alloc = alloc != nullptr ? alloc : std::malloc;
    allocator->realloc = realloc != nullptr ? realloc : std::realloc;
    allocator->free = free != nullptr ? free : std::free;
    return 0;
}

void QV_Common_AllocatorClose(QV_Common_Allocator *) {}

uint32_t QV_ListData_Init(QV_ListData *list, QV_Common_Allocator const *allocator,
                          pthread_mutex_t *lock)
{
    if (list == nullptr || allocator == nullptr)
        return QV_ERROR_INVALID_PARAMETER;
    *list = {nullptr, *allocator, lock, 1};
    return 0;
}

uint32_t QV_ListData_Close(QV_ListData *list)
{
    if (!ready(list))
        return QV_E_INVALID_VALUE;
    QV_ListData_DeleteAll(list);
    std::memset(list, 0, sizeof *list);
    return 0;
}

uint32_t QV_ListData_Lock(QV_ListData *list)
{
    if (!ready(list))
        return QV_E_INVALID_VALUE;
    EnterCriticalSection(list->lock);
    return 0;
}

uint32_t QV_ListData_Unlock(QV_ListData *list)
{
    if (!ready(list))
        return QV_E_INVALID_VALUE;
    LeaveCriticalSection(list->lock);
    return 0;
}

uint32_t QV_ListData_Set(QV_ListData *list, uint64_t id, void const *data, unsigned long length)
{
    if (!ready(list) || (data == nullptr && length > 0))
        return QV_E_INVALID_VALUE;
    ListLock hold(list);
    void *copy;
    uint32_t rv = copyOf(list->allocator, data, length, &copy);
    if (rv != 0)
        return rv;
    QV_ListData_Entry **end;
    QV_ListData_Entry *entry = find(list, id, &end);
    if (entry == nullptr) {
        rv = append(list, end, id, copy, length);
        if (rv != 0 && copy != nullptr)
            list->allocator.free(copy);
        return rv;
    }
    if (entry->data != nullptr)
        list->allocator.free(entry->data);
    entry->data = copy;
    entry->length = length;
    return 0;
}

uint32_t QV_ListData_Get(QV_ListData *list, uint64_t id, void *out, unsigned long *length)
{
    if (!ready(list) || length == nullptr)
        return QV_E_INVALID_VALUE;
    ListLock hold(list);
    QV_ListData_Entry *entry = find(list, id);
    if (entry == nullptr)
        return QV_ERROR_NOT_FOUND;
    unsigned long room = *length;
    *length = entry->length;
    if (room < entry->length)
        return QV_ERROR_INSUFFICIENT_BUFFER;
    if (out != nullptr && entry->length > 0)
        std::memcpy(out, entry->data, entry->length);
    return 0;
}

uint32_t QV_ListData_GetDirectNoLock(QV_ListData *list, uint64_t id, void **data,
                                     unsigned long *length)
{
    if (!ready(list) || data == nullptr || length == nullptr)
        return QV_E_INVALID_VALUE;
    QV_ListData_Entry *entry = find(list, id);
    if (entry == nullptr)
        return QV_ERROR_NOT_FOUND;
    *data = entry->data;
    *length = entry->length;
    return 0;
}

uint32_t QV_ListData_GetItemNoLock(QV_ListData *list, uint64_t id, QV_ListData_Entry **entry)
{
    if (!ready(list) || entry == nullptr)
        return QV_E_INVALID_VALUE;
    *entry = find(list, id);
    return *entry != nullptr ? 0 : QV_ERROR_NOT_FOUND;
}

uint32_t QV_ListData_DeleteNoLock(QV_ListData *list, uint64_t id)
{
    if (!ready(list))
        return QV_E_INVALID_VALUE;
    QV_ListData_Entry **link;
    QV_ListData_Entry *entry = find(list, id, &link);
    if (entry == nullptr)
        return QV_ERROR_NOT_FOUND;
    *link = entry->next;
    freeEntry(list->allocator, entry);
    return 0;
}

uint32_t QV_ListData_Delete(QV_ListData *list, uint64_t id)
{
    if (!ready(list))
        return QV_E_INVALID_VALUE;
    ListLock hold(list);
    return QV_ListData_DeleteNoLock(list, id);
}

uint32_t QV_ListData_DeleteAll(QV_ListData *list)
{
    if (!ready(list))
        return QV_E_INVALID_VALUE;
    ListLock hold(list);
    while (list->first != nullptr) {
        QV_ListData_Entry *entry = list->first;
        list->first = entry->next;
        freeEntry(list->allocator, entry);
    }
    return 0;
}

uint32_t QV_ListData_GoThrough(QV_ListData *list, QV_ListData_GoThroughFunction callback,
                               void *user)
{
    if (!ready(list) || callback == nullptr)
        return QV_E_INVALID_VALUE;
    ListLock hold(list);
    for (QV_ListData_Entry *e = list->first; e != nullptr; e = e->next) {
        uint32_t rv = callback(&list->allocator, e, user);
        if (rv != 0)
            return rv;
    }
    return 0;
}

namespace
{

uint32_t processPairs(void *context, QV_ListData *list1, QV_ListData *list2, QV_ListData *out,
                      QV_ListData_ProcessFunction callback)
{
    for (QV_ListData_Entry *e = list1->first; e != nullptr; e = e->next) {
        if (e->data == nullptr)
            continue;
        uint32_t rv = callback(context, e, find(list2, e->id), out);
        if (rv != 0)
            return rv;
    }
    for (QV_ListData_Entry *e = list2->first; e != nullptr; e = e->next) {
        uint32_t rv = e->data != nullptr ? callback(context, nullptr, e, out) : 0;
        if (rv != 0)
            return rv;
    }
    return 0;
}

} // namespace

uint32_t QV_ListData_ProcessById(void *context, QV_ListData *list1, QV_ListData *list2,
                                 QV_ListData *out, QV_ListData_ProcessFunction callback)
{
    if (!ready(list1) || !ready(list2) || !ready(out) || list1 == list2 || callback == nullptr)
        return QV_E_INVALID_VALUE;
    ListLock hold2(list2), hold1(list1), holdOut(out);
    return processPairs(context, list1, list2, out, callback);
}

namespace
{

// Notes in marks1 and marks2 the ids of the entries that have an equal partner.
uint32_t markIdentical(QV_Common_Allocator *allocator, QV_ListData *list1, QV_ListData *list2,
                       QV_ListData_CmpFunction compare, QV_ListData *marks1, QV_ListData *marks2)
{
    for (QV_ListData_Entry *a = list1->first; a != nullptr; a = a->next) {
        for (QV_ListData_Entry *b = list2->first; a->data != nullptr && b != nullptr; b = b->next) {
            bool equal = false;
            uint32_t rv = b->data != nullptr ? compare(allocator, a, b, &equal) : 0;
            if (rv == 0 && equal)
                rv = QV_ListData_Set(marks1, a->id, nullptr, 0);
            if (rv == 0 && equal)
                rv = QV_ListData_Set(marks2, b->id, nullptr, 0);
            if (rv != 0)
                return rv;
        }
    }
    return 0;
}

void deleteMarked(QV_ListData *list, QV_ListData *marks)
{
    for (QV_ListData_Entry *m = marks->first; m != nullptr; m = m->next)
        QV_ListData_DeleteNoLock(list, m->id);
}

} // namespace

uint32_t QV_ListData_CompareAndDeleteIdentical(QV_Common_Allocator *allocator, QV_ListData *list1,
                                               QV_ListData *list2, QV_ListData_CmpFunction compare)
{
    if (allocator == nullptr || !ready(list1) || !ready(list2) || list1 == list2 ||
        compare == nullptr)
        return QV_E_INVALID_VALUE;
    QV_ListData marks1, marks2;
    QV_ListData_Init(&marks1, allocator, nullptr);
    QV_ListData_Init(&marks2, allocator, nullptr);
    uint32_t rv;
    {
        ListLock hold1(list1), hold2(list2);
        rv = markIdentical(allocator, list1, list2, compare, &marks1, &marks2);
        if (rv == 0) {
            deleteMarked(list1, &marks1);
            deleteMarked(list2, &marks2);
        }
    }
    QV_ListData_Close(&marks1);
    QV_ListData_Close(&marks2);
    return rv;
}

uint32_t QV_ListData_CmpFunctionDefault(void *, QV_ListData_Entry *entry1,
                                        QV_ListData_Entry *entry2, bool *equal)
{
    if (entry1 == nullptr || entry2 == nullptr || equal == nullptr)
        return QV_E_INVALID_VALUE;
    *equal = entry1->id == entry2->id && sameData(entry1, entry2);
    return 0;
}

uint32_t QV_ListData_CmpFunctionDefaultData(void *, QV_ListData_Entry *entry1,
                                            QV_ListData_Entry *entry2, bool *equal)
{
    if (entry1 == nullptr || entry2 == nullptr || equal == nullptr)
        return QV_E_INVALID_VALUE;
    *equal = sameData(entry1, entry2);
    return 0;
}
