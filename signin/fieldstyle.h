#pragma once
// Look of the connection fields: grey while locked, white while they can be edited.

class QLineEdit;

namespace signin {

void setFieldEditable(QLineEdit *field, bool editable);

} // namespace signin
