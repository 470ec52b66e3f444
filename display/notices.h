// Messages to the user from the control panel, the dispatcher and the image
// windows: message boxes without a parent, modal or closing themselves.
#pragma once

#include <QString>

// A modal message box without parent holding only `text`; returns when the
// user has closed it.
void showModalMessage(const QString &text);

// A parentless note titled "message" that closes itself after `ms`
// milliseconds; returns at once.
void showTimedNote(const QString &text, int ms = 1000);
