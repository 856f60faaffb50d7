#ifndef VOK_BASE_BLOB_TOKENIZER_H
#define VOK_BASE_BLOB_TOKENIZER_H

#include "base/blob.h"

// Splits its own copy of a blob's text at delimiter characters.
class CBlobTokenizer : public CBlob
{
  public:
    explicit CBlobTokenizer(CBlob const &blob);
    ~CBlobTokenizer() override;

    CBlobTokenizer(CBlobTokenizer const &) = delete;
    CBlobTokenizer &operator=(CBlobTokenizer const &) = delete;

    char const *Next(char const *delims);
    char const *Rest() const;

  private:
    char *m_pos;
    char m_cut;
};

#endif
