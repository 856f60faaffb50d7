#include "base/blob_tokenizer.h"

#include <cstring>

CBlobTokenizer::CBlobTokenizer(CBlob const &blob) : CBlob(blob), m_pos(nullptr), m_cut(0)
{
    m_pos = const_cast<char *>(static_cast<char const *>(*this));
}

CBlobTokenizer::~CBlobTokenizer()
{
    Clear();
}

static bool isDelim(char c, char const *delims)
{
    return c != 0 && delims != nullptr && std::strchr(delims, c) != nullptr;
}

char const *CBlobTokenizer::Next(char const *delims)
{
    if (m_pos == nullptr)
        return nullptr;
    if (m_cut != 0) {
        *m_pos++ = m_cut; // the delimiter ending the previous token
        m_cut = 0;
    }
    while (isDelim(*m_pos, delims))
        ++m_pos;
    if (*m_pos == 0) {
        m_pos = nullptr;
        return nullptr;
    }
    char *token = m_pos;
    while (*m_pos != 0 && !isDelim(*m_pos, delims))
        ++m_pos;
    if (*m_pos != 0) {
        m_cut = *m_pos;
        *m_pos = 0;
    }
    return token;
}

char const *CBlobTokenizer::Rest() const
{
    if (m_pos == nullptr)
        return nullptr;
    return m_cut != 0 ? m_pos + 1 : m_pos;
}
