// Loading and initialising the module, the slot count, closing the sessions,
// the trace lines and the two-step attribute reads the other operations share.
#include "client/pkcs11_manipulator.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <new>
#include <stdexcept>

#include "client/client_codes.h"
#include "client/trace_log.h"

namespace
{

constexpr unsigned long ENTERED = 1000;
constexpr unsigned long FINISHED = 1001;
QString const SELF = QStringLiteral("Pkcs11Manipulator");
QString const CALL = QStringLiteral(">>");

// No attribute or signature the client reads comes near this; a longer one is
// refused as a buffer the client cannot have.
constexpr CK_ULONG MAX_VALUE_LENGTH = 1UL << 20;

} // namespace

Pkcs11Manipulator::Pkcs11Manipulator() : QLibrary()
{
    QString const path = TraceLogPath();
    logFile = OpenTraceLog(path);
    if (logFile != nullptr)
        logPath = path;
}

Pkcs11Manipulator::~Pkcs11Manipulator()
{
    QString const what = QStringLiteral("~Pkcs11Manipulator()");
    enter(what);
    pin.clear();
    if (initialised)
        traced(QStringLiteral("C_Finalize(NULL)"), pFunctionList->C_Finalize(nullptr));
    if (loaded)
        unload();
    logToFile(SELF, what, FINISHED, QString());
}

int Pkcs11Manipulator::LoadApi()
{
    QStringList arguments;
    if (QCoreApplication::instance() != nullptr)
        arguments = QCoreApplication::arguments();
    return LoadApi(arguments.size() == 2 ? arguments.at(1) : QString());
}

int Pkcs11Manipulator::LoadApi(QString const &modulePath)
{
    QString const what = QStringLiteral("LoadApi()");
    enter(what);
    if (!modulePath.isEmpty()) {
        if (!QFile::exists(modulePath))
            return leave(what, client_code::NO_MODULE);
        setFileName(modulePath);
        loaded = load();
        logToFile(SELF, QStringLiteral("LoadExternalLibrary()"), loaded ? 1 : 0,
                  QStringLiteral("argv[1]=") + modulePath);
    } else {
        for (QString const &path :
             {QStringLiteral(VOK_INSTALLED_MODULE), QStringLiteral("/usr/lib/libvokralp11.so")}) {
            setFileName(path);
            loaded = load();
            if (loaded)
                break;
        }
    }
    if (!loaded)
        return leave(what, client_code::NO_MODULE);

    // A library without a usable function list counts as not loaded.
    pGetFunctionList = reinterpret_cast<CK_C_GetFunctionList>(resolve("C_GetFunctionList"));
    if (pGetFunctionList == nullptr || pGetFunctionList(&pFunctionList) != CKR_OK ||
        pFunctionList == nullptr) {
        pGetFunctionList = nullptr;
        pFunctionList = nullptr;
        unload();
        loaded = false;
        return leave(what, client_code::NO_MODULE);
    }
    CK_RV rv = traced(QStringLiteral("C_Initialize(NULL)"), pFunctionList->C_Initialize(nullptr));
    initialised = rv == CKR_OK;
    return leave(what, rv);
}

QString Pkcs11Manipulator::GetInfo()
{
    QString const what = QStringLiteral("GetInfo()");
    enter(what);
    if (pFunctionList == nullptr) {
        leave(what, client_code::NO_MODULE);
        return QString();
    }
    CK_INFO info{};
    CK_RV rv = traced(QStringLiteral("C_GetInfo(&info)"), pFunctionList->C_GetInfo(&info));
    leave(what, rv);
    if (rv != CKR_OK)
        return QString();
    return QStringLiteral("%1.%2").arg(info.libraryVersion.major).arg(info.libraryVersion.minor);
}

int Pkcs11Manipulator::GetReadersCount()
{
    QString const what = QStringLiteral("GetReadersCount()");
    enter(what);
    CK_ULONG count = 0;
    if (pFunctionList != nullptr) {
        CK_RV rv = pFunctionList->C_GetSlotList(CK_FALSE, nullptr, &count);
        traced(QStringLiteral("C_GetSlotList(FALSE,NULL,&n)"), rv,
               QStringLiteral("n=%1").arg(count));
    }
    resizeSlots(count);
    return leave(what, n);
}

int Pkcs11Manipulator::Reinitialize()
{
    QString const what = QStringLiteral("Reinitialize()");
    enter(what);
    if (pFunctionList == nullptr)
        return leave(what, client_code::NO_MODULE);
    if (n == 0)
        return leave(what, CKR_OK);
    // Slot IDs are the module's: they stay equal to the positions only until a
    // reader comes or goes, or the module is initialised again.
    std::vector<CK_SLOT_ID> ids;
    CK_RV rv = slotIds(ids);
    for (size_t k = 0; k < n && k < ids.size(); ++k)
        rv = traced(QStringLiteral("C_CloseAllSessions(%1)").arg(k),
                    pFunctionList->C_CloseAllSessions(ids[k]));
    return leave(what, rv);
}

int Pkcs11Manipulator::Reinitialize(int slot)
{
    QString const what = QStringLiteral("Reinitialize(%1)").arg(slot);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    CK_SLOT_ID id = 0;
    CK_RV rv = slotIdAt(slot, id);
    if (rv == CKR_OK)
        rv = traced(QStringLiteral("C_CloseAllSessions(%1)").arg(slot),
                    pFunctionList->C_CloseAllSessions(id));
    return leave(what, rv);
}

void Pkcs11Manipulator::logToFile(QString who, QString what, unsigned long status, QString info)
{
    if (logFile == nullptr)
        return;
    QTextStream out(logFile.get());
    out << TraceLine(QDateTime::currentDateTime(), who, what, status, info) << '\n';
    out.flush();
}

QString Pkcs11Manipulator::traceLogPath() const
{
    return logPath;
}

void Pkcs11Manipulator::enter(QString const &what)
{
    logToFile(SELF, what, ENTERED, QString());
}

int Pkcs11Manipulator::leave(QString const &what, long result)
{
    // A negative result is written as its 64-bit two's complement.
    logToFile(SELF, what, static_cast<unsigned long>(result), QString());
    return static_cast<int>(result);
}

CK_RV Pkcs11Manipulator::traced(QString const &what, CK_RV rv, QString const &info)
{
    logToFile(CALL, what, rv, info);
    return rv;
}

bool Pkcs11Manipulator::sized(std::vector<unsigned char> &buffer, CK_ULONG length)
{
    if (length > MAX_VALUE_LENGTH)
        return false;
    try {
        buffer.resize(length);
    } catch (std::bad_alloc const &) {
        return false;
    }
    return true;
}

bool Pkcs11Manipulator::knownSlot(int slot) const
{
    return slot >= 0 && static_cast<size_t>(slot) < hSes.size();
}

long Pkcs11Manipulator::unusable(int slot) const
{
    if (pFunctionList == nullptr)
        return client_code::NO_MODULE;
    return knownSlot(slot) ? 0 : static_cast<long>(CKR_SLOT_ID_INVALID);
}

void Pkcs11Manipulator::resizeSlots(CK_ULONG count)
{
    for (CK_ULONG size : {count, 0UL}) {
        try {
            hSes.assign(size, CK_INVALID_HANDLE);
            readers.assign(size, reader_info{});
            cards.assign(size, card_info{});
            tokenPresent.assign(size, 0);
            privKeys.assign(size, {});
            pubKeys.assign(size, {});
            certs.assign(size, {});
            n = size;
            return;
        } catch (std::exception const &) {
            // a slot count no memory can hold: no slots
        }
    }
}

CK_RV Pkcs11Manipulator::slotIds(std::vector<CK_SLOT_ID> &ids)
{
    CK_ULONG count = 0;
    CK_RV rv = pFunctionList->C_GetSlotList(CK_FALSE, nullptr, &count);
    traced(QStringLiteral("C_GetSlotList(FALSE,NULL,&n)"), rv, QStringLiteral("n=%1").arg(count));
    if (rv != CKR_OK)
        return rv;
    try {
        ids.assign(count, 0);
    } catch (std::exception const &) {
        return CKR_HOST_MEMORY;
    }
    rv = pFunctionList->C_GetSlotList(CK_FALSE, ids.data(), &count);
    traced(QStringLiteral("C_GetSlotList(FALSE,psid,&n)"), rv,
           QStringLiteral("psid!=NULL, n=%1").arg(count));
    ids.resize(rv == CKR_OK ? count : 0);
    return rv;
}

CK_RV Pkcs11Manipulator::slotIdAt(int slot, CK_SLOT_ID &id)
{
    std::vector<CK_SLOT_ID> ids;
    CK_RV rv = slotIds(ids);
    if (rv == CKR_OK && static_cast<size_t>(slot) >= ids.size())
        rv = CKR_SLOT_ID_INVALID;
    if (rv == CKR_OK)
        id = ids[slot];
    return rv;
}

CK_RV Pkcs11Manipulator::readAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                        std::vector<CK_ATTRIBUTE_TYPE> const &types,
                                        AttributeValues &values, QString const &what,
                                        QString const &info)
{
    std::vector<CK_ATTRIBUTE> templ;
    for (CK_ATTRIBUTE_TYPE type : types)
        templ.push_back(CK_ATTRIBUTE{type, nullptr, 0});
    CK_RV rv = traced(
        what, pFunctionList->C_GetAttributeValue(session, object, templ.data(), templ.size()),
        info);
    if (rv != CKR_OK)
        return rv;
    values.assign(templ.size(), {});
    for (size_t i = 0; i < templ.size(); ++i) {
        if (!sized(values[i], templ[i].ulValueLen))
            return CKR_HOST_MEMORY;
        templ[i].pValue = values[i].empty() ? nullptr : values[i].data();
    }
    rv = traced(what,
                pFunctionList->C_GetAttributeValue(session, object, templ.data(), templ.size()),
                info);
    for (size_t i = 0; i < templ.size() && rv == CKR_OK; ++i)
        if (templ[i].ulValueLen < values[i].size())
            values[i].resize(templ[i].ulValueLen);
    return rv;
}
