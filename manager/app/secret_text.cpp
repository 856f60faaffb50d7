#include "secret_text.h"

#include <QInputDialog>

#include <algorithm>

void SecretText::take(QInputDialog &dialog)
{
    wipe();
    value = dialog.textValue();
    // the dialog drops its reference, so the wipe below overwrites the one copy
    dialog.setTextValue(QString());
}

void SecretText::wipe()
{
    if (!value.isEmpty()) {
        QChar *chars = value.data();
        std::fill(chars, chars + value.size(), QChar());
    }
    value.clear();
}
