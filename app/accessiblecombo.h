#pragma once
// Combo boxes named by their own accessible name. On Linux Qt names a combo box by
// the item it shows, so a screen reader announced the turn box as 「なし」 and the
// metadata box as 「位置情報を除く」, never what they set; with this the name is
// the combo's accessibleName and the item is its value.

namespace kestrovia {

// Installs the accessibility factory once for the process; every QComboBox is then
// named by its accessibleName (by its item while it has none). Safe to call again.
void installNamedComboBoxes();

} // namespace kestrovia
