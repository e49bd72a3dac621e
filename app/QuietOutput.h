#pragma once

namespace kestrel {

// Turns off the info and warning chatter of Qt and of the web engine, so
// that standard output and standard error hold the program's own lines.
// Left alone where the environment asks for it: QT_LOGGING_RULES set, or
// QTWEBENGINE_CHROMIUM_FLAGS naming a log level or --enable-logging. Must
// run before the application object and the engine start, since the
// engine's helper processes inherit it.
void QuietEngineOutput();

} // namespace kestrel
