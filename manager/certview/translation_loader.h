#ifndef VOK_CERTVIEW_TRANSLATION_LOADER_H
#define VOK_CERTVIEW_TRANSLATION_LOADER_H

#include <QString>

class QTranslator;

namespace Orvane::Helper
{

// Installs a Qt translation catalogue only when its detached signature (RSA
// with SHA-256, see CryptoTool) verifies with the given public key (DER or
// PEM). Paths may name files or Qt resources. For a base name B the catalogue
// is B + ".qm" and its signature B + ".sn". The class keeps the name its
// callers know it by.
class TraslationLoader
{
  public:
    // True when the three files open and the signature is valid.
    static bool VerifyLibrary(QString const &file, QString const &signature, QString const &key);
    static bool VerifyLibrary(QString const &base, QString const &key);

    // Verifies, then loads the very bytes it verified into the translator (no
    // second read of the file, no search for other file names) and installs
    // the translator in the application. On any failure, a null translator
    // included, nothing is installed.
    static bool LoadLibrary(QTranslator *translator, QString const &file, QString const &signature,
                            QString const &key);
    static bool LoadLibrary(QTranslator *translator, QString const &base, QString const &key);
};

} // namespace Orvane::Helper

#endif
