// Bytes of a PIN or PUK: wiped whenever they are replaced, cleared or
// released, never copied.
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
    unsigned char *data() { return m_bytes.empty() ? nullptr : m_bytes.data(); }
    size_t size() const { return m_bytes.size(); }

  private:
    std::vector<unsigned char> m_bytes;
};
