#include "base/p11_exception.h"

CP11Exception::CP11Exception(unsigned long code) : m_errorCode(code) {}

CP11Exception::CP11Exception(CP11Exception const &other) : m_errorCode(other.m_errorCode) {}

CP11Exception::~CP11Exception() {}

unsigned long CP11Exception::GetErrorCode() const
{
    return m_errorCode;
}

void CP11Exception::SetErrorCode(unsigned long code)
{
    m_errorCode = code;
}
