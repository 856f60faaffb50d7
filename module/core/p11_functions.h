// The C_* frame's helpers and the module's function list.
#pragma once

#include <p11-kit/pkcs11.h>

class CP11Token;

// The token of the slot named by bits 16 to 31 of the session handle; a slot ID
// that names no slot is reported as CKR_SESSION_HANDLE_INVALID. Throws CP11Exception.
// The caller holds the shared-data lock.
CP11Token *getSessionToken(CK_SESSION_HANDLE session);

// Version 2.20 and the 68 functions in the standard's order.
extern CK_FUNCTION_LIST const g_functionList;
