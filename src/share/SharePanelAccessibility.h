#pragma once

class QWidget;

// What keyboard and screen-reader users need from the share panel, kept
// apart from its behaviour: the panel is a dialog with a name, the
// information line is a status bar whose changes are announced, the password
// field has a name, and Tab follows the on-screen order (check box, password,
// キャンセル, アップロード).
namespace SharePanelAccessibility {

// Call once the panel's widgets exist.
void apply(QWidget *panel);

} // namespace SharePanelAccessibility
