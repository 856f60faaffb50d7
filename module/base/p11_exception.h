// The module's one exception: carries the PKCS#11 return code handed back at the
// C_* boundary.
#pragma once

class CP11Exception
{
  public:
    explicit CP11Exception(unsigned long code);
    CP11Exception(CP11Exception const &other);
    CP11Exception &operator=(CP11Exception const &other) = default;
    virtual ~CP11Exception();

    unsigned long GetErrorCode() const;
    void SetErrorCode(unsigned long code);

    unsigned long m_errorCode;
};
