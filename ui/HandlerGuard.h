#pragma once
// The one guard every window's handlers run through. Qt's widget code is
// built without exception tables: an exception thrown through a signal or a
// dialog's event loop leaves Qt in an undefined state (a modal dialog keeps
// a dead event loop). So no handler lets one escape: the error is shown in
// the application's error box and the program goes on.

#include <QObject>
#include <exception>
#include <functional>
#include <string>

#include "MessageService.h"

namespace ui {

// The text of the application's error box for an escaped exception.
std::string ErrorBoxText(const std::exception& e);

// Shows the application's error box: error icon, the application's title.
void ShowApplicationError(MessageService& messages, const std::string& text);

// Runs a handler; an exception that escapes it is shown in the
// application's error box and goes no further.
void RunGuarded(MessageService& messages, const std::function<void()>& handler);

// Connects a signal to a handler (taking no arguments) that runs guarded.
template <typename Sender, typename Signal>
QMetaObject::Connection ConnectGuarded(Sender* sender, Signal signal, QObject* context,
                                       MessageService& messages, std::function<void()> handler) {
  return QObject::connect(sender, signal, context,
                          [&messages, handler = std::move(handler)] { RunGuarded(messages, handler); });
}

}  // namespace ui
