#pragma once
// Entry points of the sign-in layer for the program and the tests.

class QWidget;

namespace signin {

// Registers the sign-in windows with the session layer (cacheapi::setSignInUi).
// main() and the session test fixture call it once.
void install();

// The sign-in dialog shown without blocking, owned by the given window ("Login" menu item).
void showSignInDialog(QWidget *owner);
// The server list, modal, owned by the given window; returns when it is hidden.
void showServerWindowModal(QWidget *owner);

} // namespace signin
