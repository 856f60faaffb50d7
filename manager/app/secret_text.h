// A PIN, PUK or password typed into an input dialog: taken out of the dialog, whose
// text is cleared at once, and wiped when it is replaced or goes out of scope.
#pragma once

#include <QString>

class QInputDialog;

class SecretText
{
  public:
    SecretText() = default;
    ~SecretText() { wipe(); }
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;

    // Moves the dialog's text here (wiping what was here before) and clears the dialog.
    void take(QInputDialog &dialog);
    const QString &text() const { return value; }
    bool isEmpty() const { return value.isEmpty(); }
    bool operator==(const SecretText &other) const { return value == other.value; }
    // Overwrites the characters and empties the text.
    void wipe();

  private:
    QString value;
};
