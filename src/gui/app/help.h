// The help pages (index.htm, settings.htm...) shipped with the program, opened in the
// desktop's browser: from "help" beside the executable, else from the source tree's res/help.
//
// Threads: the user-interface thread.
#pragma once

#include <QString>

namespace tarnwick::gui {

// Opens `topic` (e.g. "index.htm"); false when the page is missing or cannot be opened.
bool OpenHelpTopic(const QString& topic);

}  // namespace tarnwick::gui
