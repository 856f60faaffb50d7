#include "client/secret_bytes.h"

#include <QByteArray>

#include <openssl/crypto.h>

bool SecretBytes::assignPin(QString const &text)
{
    clear();
    if (!text.isValidUtf16())
        return false;
    QByteArray utf8 = text.toUtf8();
    m_bytes.reserve(static_cast<size_t>(utf8.size()) + 1);
    m_bytes.assign(utf8.constData(), utf8.constData() + utf8.size());
    m_bytes.push_back(0);
    m_length = static_cast<size_t>(utf8.size());
    OPENSSL_cleanse(utf8.data(), static_cast<size_t>(utf8.size()));
    return true;
}

void SecretBytes::clear()
{
    if (!m_bytes.empty())
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    m_bytes.clear();
    m_length = 0;
}
