#include "channel/pcsc_functions.h"

CPCSCFunctions const &CPCSCFunctions::System()
{
    static CPCSCFunctions const functions = {
        &SCardEstablishContext, &SCardReleaseContext,   &SCardListReaders,    &SCardGetStatusChange,
        &SCardCancel,           &SCardConnect,          &SCardDisconnect,     &SCardTransmit,
        &SCardControl,          &SCardBeginTransaction, &SCardEndTransaction, &SCardStatus,
        &SCardGetAttrib,
    };
    return functions;
}
