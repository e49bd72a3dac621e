#pragma once

class QCoreApplication;

namespace kestrel {

// Makes Qt's own dialogs and the engine's error pages, menus and dialogs
// speak Chinese (zh-CN), whatever the desktop's language: pupils' machines
// are often left in English. Must run before the engine starts. Translations
// that are not installed leave those texts in English, with a line.
void UseChineseLocale(QCoreApplication& app);

} // namespace kestrel
