#pragma once
// The password field shows "*" for every character typed, as users of the sign-in know it,
// not the mask glyph of whatever style is in use.

class QLineEdit;

namespace signin {

void showPasswordAsStars(QLineEdit *field);

} // namespace signin
