// The 68 exported C_* functions and the function list. Each function is a thin
// frame: it logs the call, takes the global mutex, finds its target (the manager, a
// slot or a token), calls one operation of it, turns what that throws into the
// return value and logs the result.
#include <cxxabi.h>

#include <p11-kit/pkcs11.h>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "core/module_globals.h"
#include "core/p11_functions.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"

#define P11_EXPORT extern "C" VOK_EXPORT

namespace
{

void logExit(char const *name, CK_RV rv)
{
    char const *text = CP11Convert::CKR2String(rv);
    hl_log(HL_LEAVE, "%s( 0x%.8lX ) [ %s ]\n", name, rv, text != nullptr ? text : "UNKNOWN");
}

// The call of a target under the global mutex (and the shared-data lock when
// shared), with every exception turned into the return value.
template <class Op> CK_RV frame(char const *name, bool shared, Op op)
{
    CMutexLocker global(m_gMtx);
    CK_RV rv = CKR_OK;
    if (shared)
        m_gManager.BeginShareData();
    try {
        op();
    } catch (CP11Exception &e) {
        rv = e.GetErrorCode();
    } catch (abi::__forced_unwind &) {
        // the calling thread is being cancelled: let the unwinding go on
        if (shared)
            m_gManager.EndSharedData();
        throw;
    } catch (...) {
        rv = CKR_GENERAL_ERROR;
    }
    if (shared)
        m_gManager.EndSharedData();
    logExit(name, rv);
    return rv;
}

template <class Op> CK_RV slotCall(char const *name, CK_SLOT_ID slotID, Op op)
{
    return frame(name, true, [&] {
        CP11Slot *slot = m_gManager.GetSlot(slotID);
        hl_log(HL_DEBUG, "Slot(0x%.8lx) = %p\n", slotID, (void *)slot);
        op(slot);
    });
}

template <class Op> CK_RV tokenCall(char const *name, CK_SLOT_ID slotID, Op op)
{
    return frame(name, true, [&] {
        CP11Token *token = m_gManager.GetToken(slotID);
        hl_log(HL_DEBUG, "Token(0x%.8lx) = %p\n", slotID, (void *)token);
        op(token);
    });
}

template <class Op> CK_RV sessionCall(char const *name, CK_SESSION_HANDLE session, Op op)
{
    return frame(name, true, [&] { op(getSessionToken(session)); });
}

} // namespace

CP11Token *getSessionToken(CK_SESSION_HANDLE session)
{
    unsigned long slotID = (session & 0xFFFF0000UL) >> 16;
    try {
        hl_log(HL_DEBUG, "SlotId = 0x%.8lx\n", slotID);
        CP11Token *token = m_gManager.GetToken(slotID);
        hl_log(HL_DEBUG, "Token(0x%.8lx) = %p\n", slotID, (void *)token);
        return token;
    } catch (CP11Exception &e) {
        if (e.GetErrorCode() == CKR_SLOT_ID_INVALID)
            throw CP11Exception(CKR_SESSION_HANDLE_INVALID);
        throw CP11Exception(e.GetErrorCode());
    }
}

// ---------------------------------------------------------------------------
// Functions without a target

P11_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList)
{
    hl_log(HL_ENTER, "C_GetFunctionList(%p)\n", (void *)ppFunctionList);
    CMutexLocker global(m_gMtx);
    CK_RV rv = CKR_OK;
    if (ppFunctionList == nullptr)
        rv = CKR_ARGUMENTS_BAD;
    else
        *ppFunctionList = const_cast<CK_FUNCTION_LIST_PTR>(&g_functionList);
    logExit("C_GetFunctionList", rv);
    return rv;
}

P11_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE hSession)
{
    hl_log(HL_ENTER, "C_GetFunctionStatus(0x%.8lx)\n", hSession);
    CMutexLocker global(m_gMtx);
    logExit("C_GetFunctionStatus", CKR_FUNCTION_NOT_PARALLEL);
    return CKR_FUNCTION_NOT_PARALLEL;
}

P11_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE hSession)
{
    hl_log(HL_ENTER, "C_CancelFunction(0x%.8lx)\n", hSession);
    CMutexLocker global(m_gMtx);
    logExit("C_CancelFunction", CKR_FUNCTION_NOT_PARALLEL);
    return CKR_FUNCTION_NOT_PARALLEL;
}

// ---------------------------------------------------------------------------
// The manager

P11_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs)
{
    hl_log(HL_ENTER, "C_Initialize(%p)\n", pInitArgs);
    return frame("C_Initialize", false, [&] { m_gManager.Initialize(pInitArgs); });
}

P11_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved)
{
    hl_log(HL_ENTER, "C_Finalize(%p)\n", pReserved);
    return frame("C_Finalize", false, [&] { m_gManager.Finalize(pReserved, m_gForceFinal != 0); });
}

P11_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo)
{
    hl_log(HL_ENTER, "C_GetInfo(%p)\n", (void *)pInfo);
    return frame("C_GetInfo", false, [&] { m_gManager.GetInfo(pInfo); });
}

P11_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList,
                               CK_ULONG_PTR pulCount)
{
    hl_log(HL_ENTER, "C_GetSlotList(CK_%s,%p,%p)\n", tokenPresent ? "TRUE" : "FALSE",
           (void *)pSlotList, (void *)pulCount);
    return frame("C_GetSlotList", false,
                 [&] { m_gManager.GetSlotList(tokenPresent, pSlotList, pulCount); });
}

P11_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved)
{
    hl_log(HL_ENTER, "C_WaitForSlotEvent(0x%.8lx,%p,%p)\n", flags, (void *)pSlot, pReserved);
    // no lock: a waiting thread must not stop the others
    CK_RV rv = CKR_OK;
    try {
        m_gManager.WaitForSlotEvent(flags, pSlot, pReserved);
    } catch (CP11Exception &e) {
        rv = e.GetErrorCode();
    } catch (abi::__forced_unwind &) {
        throw;
    } catch (...) {
        rv = CKR_GENERAL_ERROR; // nothing may leave the module
    }
    logExit("C_WaitForSlotEvent", rv);
    return rv;
}

// ---------------------------------------------------------------------------
// Slots and tokens by slot ID

P11_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo)
{
    hl_log(HL_ENTER, "C_GetSlotInfo(0x%.8lx,%p)\n", slotID, (void *)pInfo);
    return slotCall("C_GetSlotInfo", slotID, [&](CP11Slot *slot) { slot->GetInfo(pInfo); });
}

P11_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo)
{
    hl_log(HL_ENTER, "C_GetTokenInfo(0x%.8lx,%p)\n", slotID, (void *)pInfo);
    return tokenCall("C_GetTokenInfo", slotID,
                     [&](CP11Token *token) { token->CP11Token::GetInfo(pInfo); });
}

P11_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList,
                                    CK_ULONG_PTR pulCount)
{
    hl_log(HL_ENTER, "C_GetMechanismList(0x%.8lx,%p,%p)\n", slotID, (void *)pMechanismList,
           (void *)pulCount);
    return tokenCall("C_GetMechanismList", slotID, [&](CP11Token *token) {
        token->CP11Token::GetMechanismList(pMechanismList, pulCount);
    });
}

P11_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type,
                                    CK_MECHANISM_INFO_PTR pInfo)
{
    hl_log(HL_ENTER, "C_GetMechanismInfo(0x%.8lx,0x%.8lx,%p)\n", slotID, type, (void *)pInfo);
    return tokenCall("C_GetMechanismInfo", slotID,
                     [&](CP11Token *token) { token->GetMechanismInfo(type, pInfo); });
}

P11_EXPORT CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen,
                             CK_UTF8CHAR_PTR pLabel)
{
    hl_log(HL_ENTER, "C_InitToken(0x%.8lx,%p,0x%.8lx,%p)\n", slotID, (void *)pPin, ulPinLen,
           (void *)pLabel);
    return tokenCall("C_InitToken", slotID,
                     [&](CP11Token *token) { token->InitToken(pPin, ulPinLen, pLabel); });
}

P11_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication,
                               CK_NOTIFY Notify, CK_SESSION_HANDLE_PTR phSession)
{
    hl_log(HL_ENTER, "C_OpenSession(0x%.8lx,0x%.8lx,%p,%p,%p)\n", slotID, flags, pApplication,
           (void *)Notify, (void *)phSession);
    return tokenCall("C_OpenSession", slotID, [&](CP11Token *token) {
        token->OpenSession(flags, pApplication, Notify, phSession);
    });
}

P11_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID)
{
    hl_log(HL_ENTER, "C_CloseAllSessions(0x%.8lx)\n", slotID);
    return tokenCall("C_CloseAllSessions", slotID,
                     [&](CP11Token *token) { token->CloseAllSessions(); });
}

// ---------------------------------------------------------------------------
// Session operations: the token is found by the slot ID in the session handle

P11_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    hl_log(HL_ENTER, "C_InitPIN(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pPin, ulPinLen);
    return sessionCall("C_InitPIN", hSession,
                       [&](CP11Token *token) { token->InitPIN(hSession, pPin, ulPinLen); });
}

P11_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
                          CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen)
{
    hl_log(HL_ENTER, "C_SetPIN(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pOldPin,
           ulOldLen, (void *)pNewPin, ulNewLen);
    return sessionCall("C_SetPIN", hSession, [&](CP11Token *token) {
        token->SetPIN(hSession, pOldPin, ulOldLen, pNewPin, ulNewLen);
    });
}

P11_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession)
{
    hl_log(HL_ENTER, "C_CloseSession(0x%.8lx)\n", hSession);
    return sessionCall("C_CloseSession", hSession,
                       [&](CP11Token *token) { token->CloseSession(hSession); });
}

P11_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo)
{
    hl_log(HL_ENTER, "C_GetSessionInfo(0x%.8lx,%p)\n", hSession, (void *)pInfo);
    return sessionCall("C_GetSessionInfo", hSession,
                       [&](CP11Token *token) { token->GetSessionInfo(hSession, pInfo); });
}

P11_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                     CK_ULONG_PTR pulOperationStateLen)
{
    hl_log(HL_ENTER, "C_GetOperationState(0x%.8lx,%p,%p)\n", hSession, (void *)pOperationState,
           (void *)pulOperationStateLen);
    return sessionCall("C_GetOperationState", hSession, [&](CP11Token *token) {
        token->GetOperationState(hSession, pOperationState, pulOperationStateLen);
    });
}

P11_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                     CK_ULONG ulOperationStateLen, CK_OBJECT_HANDLE hEncryptionKey,
                                     CK_OBJECT_HANDLE hAuthenticationKey)
{
    hl_log(HL_ENTER, "C_SetOperationState(0x%.8lx,%p,0x%.8lx,0x%.8lx,0x%.8lx)\n", hSession,
           (void *)pOperationState, ulOperationStateLen, hEncryptionKey, hAuthenticationKey);
    return sessionCall("C_SetOperationState", hSession, [&](CP11Token *token) {
        token->SetOperationState(hSession, pOperationState, ulOperationStateLen, hEncryptionKey,
                                 hAuthenticationKey);
    });
}

P11_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin,
                         CK_ULONG ulPinLen)
{
    hl_log(HL_ENTER, "C_Login(0x%.8lx,0x%.8lx,%p,0x%.8lx)\n", hSession, userType, (void *)pPin,
           ulPinLen);
    return sessionCall("C_Login", hSession,
                       [&](CP11Token *token) { token->Login(hSession, userType, pPin, ulPinLen); });
}

P11_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE hSession)
{
    hl_log(HL_ENTER, "C_Logout(0x%.8lx)\n", hSession);
    return sessionCall("C_Logout", hSession, [&](CP11Token *token) { token->Logout(hSession); });
}

P11_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate,
                                CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phObject)
{
    hl_log(HL_ENTER, "C_CreateObject(0x%.8lx,%p,0x%.8lx,%p)\n", hSession, (void *)pTemplate,
           ulCount, (void *)phObject);
    return sessionCall("C_CreateObject", hSession, [&](CP11Token *token) {
        token->CreateObject(hSession, pTemplate, ulCount, phObject);
    });
}

P11_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                              CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                              CK_OBJECT_HANDLE_PTR phNewObject)
{
    hl_log(HL_ENTER, "C_CopyObject(0x%.8lx,0x%.8lx,%p,0x%.8lx,%p)\n", hSession, hObject,
           (void *)pTemplate, ulCount, (void *)phNewObject);
    return sessionCall("C_CopyObject", hSession, [&](CP11Token *token) {
        token->CopyObject(hSession, hObject, pTemplate, ulCount, phNewObject);
    });
}

P11_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    hl_log(HL_ENTER, "C_DestroyObject(0x%.8lx,0x%.8lx)\n", hSession, hObject);
    return sessionCall("C_DestroyObject", hSession,
                       [&](CP11Token *token) { token->DestroyObject(hSession, hObject); });
}

P11_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                 CK_ULONG_PTR pulSize)
{
    hl_log(HL_ENTER, "C_GetObjectSize(0x%.8lx,0x%.8lx,%p)\n", hSession, hObject, (void *)pulSize);
    return sessionCall("C_GetObjectSize", hSession,
                       [&](CP11Token *token) { token->GetObjectSize(hSession, hObject, pulSize); });
}

P11_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                     CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    hl_log(HL_ENTER, "C_GetAttributeValue(0x%.8lx,0x%.8lx,%p,0x%.8lx)\n", hSession, hObject,
           (void *)pTemplate, ulCount);
    return sessionCall("C_GetAttributeValue", hSession, [&](CP11Token *token) {
        token->GetAttributeValue(hSession, hObject, pTemplate, ulCount);
    });
}

P11_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                     CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    hl_log(HL_ENTER, "C_SetAttributeValue(0x%.8lx,0x%.8lx,%p,0x%.8lx)\n", hSession, hObject,
           (void *)pTemplate, ulCount);
    return sessionCall("C_SetAttributeValue", hSession, [&](CP11Token *token) {
        token->SetAttributeValue(hSession, hObject, pTemplate, ulCount);
    });
}

P11_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate,
                                   CK_ULONG ulCount)
{
    hl_log(HL_ENTER, "C_FindObjectsInit(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pTemplate,
           ulCount);
    return sessionCall("C_FindObjectsInit", hSession, [&](CP11Token *token) {
        token->FindObjectsInit(hSession, pTemplate, ulCount);
    });
}

P11_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject,
                               CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount)
{
    hl_log(HL_ENTER, "C_FindObjects(0x%.8lx,%p,0x%.8lx,%p)\n", hSession, (void *)phObject,
           ulMaxObjectCount, (void *)pulObjectCount);
    return sessionCall("C_FindObjects", hSession, [&](CP11Token *token) {
        token->FindObjects(hSession, phObject, ulMaxObjectCount, pulObjectCount);
    });
}

P11_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    hl_log(HL_ENTER, "C_FindObjectsFinal(0x%.8lx)\n", hSession);
    return sessionCall("C_FindObjectsFinal", hSession,
                       [&](CP11Token *token) { token->FindObjectsFinal(hSession); });
}

P11_EXPORT CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                               CK_OBJECT_HANDLE hKey)
{
    hl_log(HL_ENTER, "C_EncryptInit(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pMechanism, hKey);
    return sessionCall("C_EncryptInit", hSession,
                       [&](CP11Token *token) { token->EncryptInit(hSession, pMechanism, hKey); });
}

P11_EXPORT CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                           CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen)
{
    hl_log(HL_ENTER, "C_Encrypt(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession, (void *)pData, ulDataLen,
           (void *)pEncryptedData, (void *)pulEncryptedDataLen);
    return sessionCall("C_Encrypt", hSession, [&](CP11Token *token) {
        token->Encrypt(hSession, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
    });
}

P11_EXPORT CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                 CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen)
{
    hl_log(HL_ENTER, "C_EncryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession, (void *)pPart,
           ulPartLen, (void *)pEncryptedPart, (void *)pulEncryptedPartLen);
    return sessionCall("C_EncryptUpdate", hSession, [&](CP11Token *token) {
        token->EncryptUpdate(hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
    });
}

P11_EXPORT CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,
                                CK_ULONG_PTR pulLastEncryptedPartLen)
{
    hl_log(HL_ENTER, "C_EncryptFinal(0x%.8lx,%p,%p)\n", hSession, (void *)pLastEncryptedPart,
           (void *)pulLastEncryptedPartLen);
    return sessionCall("C_EncryptFinal", hSession, [&](CP11Token *token) {
        token->EncryptFinal(hSession, pLastEncryptedPart, pulLastEncryptedPartLen);
    });
}

P11_EXPORT CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                               CK_OBJECT_HANDLE hKey)
{
    hl_log(HL_ENTER, "C_DecryptInit(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pMechanism, hKey);
    return sessionCall("C_DecryptInit", hSession,
                       [&](CP11Token *token) { token->DecryptInit(hSession, pMechanism, hKey); });
}

P11_EXPORT CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData,
                           CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen)
{
    hl_log(HL_ENTER, "C_Decrypt(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession, (void *)pEncryptedData,
           ulEncryptedDataLen, (void *)pData, (void *)pulDataLen);
    return sessionCall("C_Decrypt", hSession, [&](CP11Token *token) {
        token->Decrypt(hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
    });
}

P11_EXPORT CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                 CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart,
                                 CK_ULONG_PTR pulPartLen)
{
    hl_log(HL_ENTER, "C_DecryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession,
           (void *)pEncryptedPart, ulEncryptedPartLen, (void *)pPart, (void *)pulPartLen);
    return sessionCall("C_DecryptUpdate", hSession, [&](CP11Token *token) {
        token->DecryptUpdate(hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
    });
}

P11_EXPORT CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart,
                                CK_ULONG_PTR pulLastPartLen)
{
    hl_log(HL_ENTER, "C_DecryptFinal(0x%.8lx,%p,%p)\n", hSession, (void *)pLastPart,
           (void *)pulLastPartLen);
    return sessionCall("C_DecryptFinal", hSession, [&](CP11Token *token) {
        token->DecryptFinal(hSession, pLastPart, pulLastPartLen);
    });
}

P11_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    hl_log(HL_ENTER, "C_DigestInit(0x%.8lx,%p)\n", hSession, (void *)pMechanism);
    return sessionCall("C_DigestInit", hSession,
                       [&](CP11Token *token) { token->DigestInit(hSession, pMechanism); });
}

P11_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                          CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    hl_log(HL_ENTER, "C_Digest(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession, (void *)pData, ulDataLen,
           (void *)pDigest, (void *)pulDigestLen);
    return sessionCall("C_Digest", hSession, [&](CP11Token *token) {
        token->Digest(hSession, pData, ulDataLen, pDigest, pulDigestLen);
    });
}

P11_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    hl_log(HL_ENTER, "C_DigestUpdate(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pPart, ulPartLen);
    return sessionCall("C_DigestUpdate", hSession,
                       [&](CP11Token *token) { token->DigestUpdate(hSession, pPart, ulPartLen); });
}

P11_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey)
{
    hl_log(HL_ENTER, "C_DigestKey(0x%.8lx,0x%.8lx)\n", hSession, hKey);
    return sessionCall("C_DigestKey", hSession,
                       [&](CP11Token *token) { token->DigestKey(hSession, hKey); });
}

P11_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest,
                               CK_ULONG_PTR pulDigestLen)
{
    hl_log(HL_ENTER, "C_DigestFinal(0x%.8lx,%p,%p)\n", hSession, (void *)pDigest,
           (void *)pulDigestLen);
    return sessionCall("C_DigestFinal", hSession, [&](CP11Token *token) {
        token->DigestFinal(hSession, pDigest, pulDigestLen);
    });
}

P11_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                            CK_OBJECT_HANDLE hKey)
{
    hl_log(HL_ENTER, "C_SignInit(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pMechanism, hKey);
    return sessionCall("C_SignInit", hSession,
                       [&](CP11Token *token) { token->SignInit(hSession, pMechanism, hKey); });
}

P11_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                        CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    hl_log(HL_ENTER, "C_Sign(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession, (void *)pData, ulDataLen,
           (void *)pSignature, (void *)pulSignatureLen);
    return sessionCall("C_Sign", hSession, [&](CP11Token *token) {
        token->Sign(hSession, pData, ulDataLen, pSignature, pulSignatureLen);
    });
}

P11_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    hl_log(HL_ENTER, "C_SignUpdate(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pPart, ulPartLen);
    return sessionCall("C_SignUpdate", hSession,
                       [&](CP11Token *token) { token->SignUpdate(hSession, pPart, ulPartLen); });
}

P11_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                             CK_ULONG_PTR pulSignatureLen)
{
    hl_log(HL_ENTER, "C_SignFinal(0x%.8lx,%p,%p)\n", hSession, (void *)pSignature,
           (void *)pulSignatureLen);
    return sessionCall("C_SignFinal", hSession, [&](CP11Token *token) {
        token->SignFinal(hSession, pSignature, pulSignatureLen);
    });
}

P11_EXPORT CK_RV C_SignRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                   CK_OBJECT_HANDLE hKey)
{
    hl_log(HL_ENTER, "C_SignRecoverInit(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pMechanism, hKey);
    return sessionCall("C_SignRecoverInit", hSession, [&](CP11Token *token) {
        token->SignRecoverInit(hSession, pMechanism, hKey);
    });
}

P11_EXPORT CK_RV C_SignRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                               CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    hl_log(HL_ENTER, "C_SignRecover(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession, (void *)pData,
           ulDataLen, (void *)pSignature, (void *)pulSignatureLen);
    return sessionCall("C_SignRecover", hSession, [&](CP11Token *token) {
        token->SignRecover(hSession, pData, ulDataLen, pSignature, pulSignatureLen);
    });
}

P11_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                              CK_OBJECT_HANDLE hKey)
{
    hl_log(HL_ENTER, "C_VerifyInit(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pMechanism, hKey);
    return sessionCall("C_VerifyInit", hSession,
                       [&](CP11Token *token) { token->VerifyInit(hSession, pMechanism, hKey); });
}

P11_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                          CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    hl_log(HL_ENTER, "C_Verify(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pData,
           ulDataLen, (void *)pSignature, ulSignatureLen);
    return sessionCall("C_Verify", hSession, [&](CP11Token *token) {
        token->Verify(hSession, pData, ulDataLen, pSignature, ulSignatureLen);
    });
}

P11_EXPORT CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    hl_log(HL_ENTER, "C_VerifyUpdate(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pPart, ulPartLen);
    return sessionCall("C_VerifyUpdate", hSession,
                       [&](CP11Token *token) { token->VerifyUpdate(hSession, pPart, ulPartLen); });
}

P11_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                               CK_ULONG ulSignatureLen)
{
    hl_log(HL_ENTER, "C_VerifyFinal(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pSignature,
           ulSignatureLen);
    return sessionCall("C_VerifyFinal", hSession, [&](CP11Token *token) {
        token->VerifyFinal(hSession, pSignature, ulSignatureLen);
    });
}

P11_EXPORT CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                     CK_OBJECT_HANDLE hKey)
{
    hl_log(HL_ENTER, "C_VerifyRecoverInit(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pMechanism,
           hKey);
    return sessionCall("C_VerifyRecoverInit", hSession, [&](CP11Token *token) {
        token->VerifyRecoverInit(hSession, pMechanism, hKey);
    });
}

P11_EXPORT CK_RV C_VerifyRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                                 CK_ULONG ulSignatureLen, CK_BYTE_PTR pData,
                                 CK_ULONG_PTR pulDataLen)
{
    hl_log(HL_ENTER, "C_VerifyRecover(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession, (void *)pSignature,
           ulSignatureLen, (void *)pData, (void *)pulDataLen);
    return sessionCall("C_VerifyRecover", hSession, [&](CP11Token *token) {
        token->VerifyRecover(hSession, pSignature, ulSignatureLen, pData, pulDataLen);
    });
}

P11_EXPORT CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                       CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                                       CK_ULONG_PTR pulEncryptedPartLen)
{
    hl_log(HL_ENTER, "C_DigestEncryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession, (void *)pPart,
           ulPartLen, (void *)pEncryptedPart, (void *)pulEncryptedPartLen);
    return sessionCall("C_DigestEncryptUpdate", hSession, [&](CP11Token *token) {
        token->DigestEncryptUpdate(hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
    });
}

P11_EXPORT CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                       CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart,
                                       CK_ULONG_PTR pulPartLen)
{
    hl_log(HL_ENTER, "C_DecryptDigestUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession,
           (void *)pEncryptedPart, ulEncryptedPartLen, (void *)pPart, (void *)pulPartLen);
    return sessionCall("C_DecryptDigestUpdate", hSession, [&](CP11Token *token) {
        token->DecryptDigestUpdate(hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
    });
}

P11_EXPORT CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                     CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                                     CK_ULONG_PTR pulEncryptedPartLen)
{
    hl_log(HL_ENTER, "C_SignEncryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession, (void *)pPart,
           ulPartLen, (void *)pEncryptedPart, (void *)pulEncryptedPartLen);
    return sessionCall("C_SignEncryptUpdate", hSession, [&](CP11Token *token) {
        token->SignEncryptUpdate(hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
    });
}

P11_EXPORT CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                       CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart,
                                       CK_ULONG_PTR pulPartLen)
{
    hl_log(HL_ENTER, "C_DecryptVerifyUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession,
           (void *)pEncryptedPart, ulEncryptedPartLen, (void *)pPart, (void *)pulPartLen);
    return sessionCall("C_DecryptVerifyUpdate", hSession, [&](CP11Token *token) {
        token->DecryptVerifyUpdate(hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
    });
}

P11_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                               CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                               CK_OBJECT_HANDLE_PTR phKey)
{
    hl_log(HL_ENTER, "C_GenerateKey(0x%.8lx,%p,%p,0x%.8lx,%p)\n", hSession, (void *)pMechanism,
           (void *)pTemplate, ulCount, (void *)phKey);
    return sessionCall("C_GenerateKey", hSession, [&](CP11Token *token) {
        token->GenerateKey(hSession, pMechanism, pTemplate, ulCount, phKey);
    });
}

P11_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                   CK_ATTRIBUTE_PTR pPublicKeyTemplate,
                                   CK_ULONG ulPublicKeyAttributeCount,
                                   CK_ATTRIBUTE_PTR pPrivateKeyTemplate,
                                   CK_ULONG ulPrivateKeyAttributeCount,
                                   CK_OBJECT_HANDLE_PTR phPublicKey,
                                   CK_OBJECT_HANDLE_PTR phPrivateKey)
{
    hl_log(HL_ENTER, "C_GenerateKeyPair(0x%.8lx,%p,%p,0x%.8lx,%p,0x%.8lx,%p,%p)\n", hSession,
           (void *)pMechanism, (void *)pPublicKeyTemplate, ulPublicKeyAttributeCount,
           (void *)pPrivateKeyTemplate, ulPrivateKeyAttributeCount, (void *)phPublicKey,
           (void *)phPrivateKey);
    return sessionCall("C_GenerateKeyPair", hSession, [&](CP11Token *token) {
        token->GenerateKeyPair(hSession, pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount,
                               pPrivateKeyTemplate, ulPrivateKeyAttributeCount, phPublicKey,
                               phPrivateKey);
    });
}

P11_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                           CK_OBJECT_HANDLE hWrappingKey, CK_OBJECT_HANDLE hKey,
                           CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen)
{
    hl_log(HL_ENTER, "C_WrapKey(0x%.8lx,%p,0x%.8lx,0x%.8lx,%p,%p)\n", hSession, (void *)pMechanism,
           hWrappingKey, hKey, (void *)pWrappedKey, (void *)pulWrappedKeyLen);
    return sessionCall("C_WrapKey", hSession, [&](CP11Token *token) {
        token->WrapKey(hSession, pMechanism, hWrappingKey, hKey, pWrappedKey, pulWrappedKeyLen);
    });
}

P11_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                             CK_OBJECT_HANDLE hUnwrappingKey, CK_BYTE_PTR pWrappedKey,
                             CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                             CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey)
{
    hl_log(HL_ENTER, "C_UnwrapKey(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx,%p,0x%.8lx,%p)\n", hSession,
           (void *)pMechanism, hUnwrappingKey, (void *)pWrappedKey, ulWrappedKeyLen,
           (void *)pTemplate, ulAttributeCount, (void *)phKey);
    return sessionCall("C_UnwrapKey", hSession, [&](CP11Token *token) {
        token->UnwrapKey(hSession, pMechanism, hUnwrappingKey, pWrappedKey, ulWrappedKeyLen,
                         pTemplate, ulAttributeCount, phKey);
    });
}

P11_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                             CK_OBJECT_HANDLE hBaseKey, CK_ATTRIBUTE_PTR pTemplate,
                             CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey)
{
    hl_log(HL_ENTER, "C_DeriveKey(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx,%p)\n", hSession,
           (void *)pMechanism, hBaseKey, (void *)pTemplate, ulAttributeCount, (void *)phKey);
    return sessionCall("C_DeriveKey", hSession, [&](CP11Token *token) {
        token->DeriveKey(hSession, pMechanism, hBaseKey, pTemplate, ulAttributeCount, phKey);
    });
}

P11_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen)
{
    hl_log(HL_ENTER, "C_SeedRandom(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)pSeed, ulSeedLen);
    return sessionCall("C_SeedRandom", hSession,
                       [&](CP11Token *token) { token->SeedRandom(hSession, pSeed, ulSeedLen); });
}

P11_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData,
                                  CK_ULONG ulRandomLen)
{
    hl_log(HL_ENTER, "C_GenerateRandom(0x%.8lx,%p,0x%.8lx)\n", hSession, (void *)RandomData,
           ulRandomLen);
    return sessionCall("C_GenerateRandom", hSession, [&](CP11Token *token) {
        token->GenerateRandom(hSession, RandomData, ulRandomLen);
    });
}

// ---------------------------------------------------------------------------

CK_FUNCTION_LIST const g_functionList = {
    {2, 20},
    C_Initialize,
    C_Finalize,
    C_GetInfo,
    C_GetFunctionList,
    C_GetSlotList,
    C_GetSlotInfo,
    C_GetTokenInfo,
    C_GetMechanismList,
    C_GetMechanismInfo,
    C_InitToken,
    C_InitPIN,
    C_SetPIN,
    C_OpenSession,
    C_CloseSession,
    C_CloseAllSessions,
    C_GetSessionInfo,
    C_GetOperationState,
    C_SetOperationState,
    C_Login,
    C_Logout,
    C_CreateObject,
    C_CopyObject,
    C_DestroyObject,
    C_GetObjectSize,
    C_GetAttributeValue,
    C_SetAttributeValue,
    C_FindObjectsInit,
    C_FindObjects,
    C_FindObjectsFinal,
    C_EncryptInit,
    C_Encrypt,
    C_EncryptUpdate,
    C_EncryptFinal,
    C_DecryptInit,
    C_Decrypt,
    C_DecryptUpdate,
    C_DecryptFinal,
    C_DigestInit,
    C_Digest,
    C_DigestUpdate,
    C_DigestKey,
    C_DigestFinal,
    C_SignInit,
    C_Sign,
    C_SignUpdate,
    C_SignFinal,
    C_SignRecoverInit,
    C_SignRecover,
    C_VerifyInit,
    C_Verify,
    C_VerifyUpdate,
    C_VerifyFinal,
    C_VerifyRecoverInit,
    C_VerifyRecover,
    C_DigestEncryptUpdate,
    C_DecryptDigestUpdate,
    C_SignEncryptUpdate,
    C_DecryptVerifyUpdate,
    C_GenerateKey,
    C_GenerateKeyPair,
    C_WrapKey,
    C_UnwrapKey,
    C_DeriveKey,
    C_SeedRandom,
    C_GenerateRandom,
    C_GetFunctionStatus,
    C_CancelFunction,
    C_WaitForSlotEvent,
};
