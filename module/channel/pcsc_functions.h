// The PC/SC calls the channel makes, as a table of function pointers. The channel
// uses the reader service's own functions unless it is given another table, so that
// reader arrival and departure, failing listings and the like can be scripted.
#pragma once

#include <reader.h>
#include <winscard.h>

// The service header's INFINITE macro would clash with the module's own constant of
// that name (CEvent::INFINITE); the channel passes its time-outs explicitly.
#undef INFINITE

struct CPCSCFunctions {
    LONG (*EstablishContext)
    (DWORD scope, LPCVOID reserved1, LPCVOID reserved2, LPSCARDCONTEXT context);
    LONG (*ReleaseContext)(SCARDCONTEXT context);
    LONG (*ListReaders)(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length);
    LONG (*GetStatusChange)
    (SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE *states, DWORD count);
    LONG (*Cancel)(SCARDCONTEXT context);
    LONG (*Connect)
    (SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD protocols, LPSCARDHANDLE card,
     LPDWORD activeProtocol);
    LONG (*Disconnect)(SCARDHANDLE card, DWORD disposition);
    LONG (*Transmit)
    (SCARDHANDLE card, SCARD_IO_REQUEST const *sendPci, LPCBYTE send, DWORD sendLength,
     SCARD_IO_REQUEST *recvPci, LPBYTE recv, LPDWORD recvLength);
    LONG (*Control)
    (SCARDHANDLE card, DWORD code, LPCVOID send, DWORD sendLength, LPVOID recv, DWORD recvLength,
     LPDWORD returned);
    LONG (*BeginTransaction)(SCARDHANDLE card);
    LONG (*EndTransaction)(SCARDHANDLE card, DWORD disposition);
    LONG (*Status)
    (SCARDHANDLE card, LPSTR readerName, LPDWORD readerLength, LPDWORD state, LPDWORD protocol,
     LPBYTE atr, LPDWORD atrLength);
    LONG (*GetAttrib)(SCARDHANDLE card, DWORD attribute, LPBYTE value, LPDWORD length);

    // The reader service's own functions.
    static CPCSCFunctions const &System();
};
