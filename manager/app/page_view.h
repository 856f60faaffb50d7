// The window's page area: a text browser whose copies and drags hold the selected text
// without the break marks that let serial numbers and fingerprints wrap between bytes,
// so a copied value reads exactly as the page shows it.
#pragma once

#include <QTextBrowser>

class PageView : public QTextBrowser
{
  public:
    using QTextBrowser::QTextBrowser;

  protected:
    QMimeData *createMimeDataFromSelection() const override;
};
