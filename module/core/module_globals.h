// The module-wide objects. They are built by the load hook and destroyed by the
// unload hook (module_entry.cpp), never by the C++ run-time's exit handlers, so the
// unload hook's forced finalise always finds them alive.
#pragma once

#include <cstdint>

#include "base/mutex.h"
#include "core/p11_manager.h"

#define VOK_EXPORT __attribute__((visibility("default")))

extern "C" {
// 0 in normal use, 1 once the module is being unloaded: C_Finalize then finalises
// by force.
extern VOK_EXPORT int32_t m_gForceFinal;
// Serialises the C_* calls.
extern VOK_EXPORT CMutex m_gMtx;
// The one manager of channels, slots and tokens.
extern VOK_EXPORT CP11Manager m_gManager;
}
