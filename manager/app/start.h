// The card manager's start: language, window, event loop.
#pragma once

#include <QString>

// Installs the translator the language file (or the locale) chooses, builds the window
// and, when the module is loaded, shows it and runs the event loop. When the module
// cannot be loaded or initialised, tells the user why in an error box instead.
// Needs the QApplication; modulePath as for CardManager. Returns the program's exit
// code: 0 after a normal run, 1 when the module was not loaded.
int runCardManager(const QString &modulePath = QString());
