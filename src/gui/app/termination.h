// The end of the desktop session: SIGTERM and SIGHUP run the main window's close handling
// (queues saved, sessions closed, settings written), as a logoff does on Windows.
//
// Threads: install on the user-interface thread, once; the signal handler only writes to a
// pipe, which the user-interface thread reads.
#pragma once

class QWidget;

namespace tarnwick::gui {

// Closes `window` when the process receives SIGTERM or SIGHUP. False when the handler could
// not be installed (the signals then end the process as usual).
bool CloseOnTermination(QWidget& window);

}  // namespace tarnwick::gui
