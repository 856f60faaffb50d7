// The "entered" and "finished" lines that every slot of the window writes to the
// client's trace log, as one scope object.
#pragma once

#include <QString>

#include "client/pkcs11_manipulator.h"

class SlotLog
{
  public:
    // Writes ("CardManager", what, entered) now and ("CardManager", what, finished)
    // when the scope ends, with the information text set by then.
    SlotLog(Pkcs11Manipulator &client, QString what) : client(client), what(std::move(what))
    {
        client.logToFile(QStringLiteral("CardManager"), this->what, 1000, QString());
    }
    ~SlotLog() { client.logToFile(QStringLiteral("CardManager"), what, 1001, info); }
    SlotLog(const SlotLog &) = delete;
    SlotLog &operator=(const SlotLog &) = delete;

    void setInfo(const QString &text) { info = text; }

  private:
    Pkcs11Manipulator &client;
    QString what;
    QString info;
};
