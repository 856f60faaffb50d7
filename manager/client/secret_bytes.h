// Bytes of a PIN, PUK or password: wiped whenever they are replaced, cleared
// or released, never copied.
#pragma once

#include <QString>

#include <cstddef>
#include <vector>

class SecretBytes
{
  public:
    SecretBytes() = default;
    ~SecretBytes() { clear(); }
    SecretBytes(SecretBytes const &) = delete;
    SecretBytes &operator=(SecretBytes const &) = delete;

    // The UTF-8 form of a PIN text; false, and no bytes, when the text has no
    // such form (it holds an unpaired surrogate).
    bool assignPin(QString const &text);
    void clear();

    // Null when there are no bytes.
    unsigned char *data() { return m_length == 0 ? nullptr : m_bytes.data(); }
    size_t size() const { return m_length; }
    // The bytes as a zero-terminated text: "" when there are none, never null.
    char const *text() const
    {
        return m_length == 0 ? "" : reinterpret_cast<char const *>(m_bytes.data());
    }

  private:
    std::vector<unsigned char> m_bytes; // the bytes and a zero byte behind them
    size_t m_length = 0;
};
