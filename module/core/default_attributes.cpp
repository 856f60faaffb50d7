#include "core/default_attributes.h"

#include <new>

namespace vok_core
{

bool pushDefaultAttributes(CList<CAttribute *> &list, DefaultAttribute const *rows, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        DefaultAttribute const &d = rows[i];
        CAttribute *a = new (std::nothrow) CAttribute();
        bool ok = a != nullptr;
        if (ok && d.kind == DefaultAttribute::BYTE)
            ok = a->Set(d.name, d.id, (unsigned char)d.value);
        else if (ok && d.kind == DefaultAttribute::LONG)
            ok = a->Set(d.name, d.id, d.value);
        else if (ok)
            ok = a->Set(d.name, d.id, (char const *)nullptr);
        unsigned int before = list.Count();
        if (ok)
            list.PushBack(a);
        if (!ok || list.Count() == before) {
            delete a;
            return false;
        }
    }
    return true;
}

} // namespace vok_core
