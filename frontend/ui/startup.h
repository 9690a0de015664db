#pragma once
// The program's start: the splash window for at most five seconds (a key or a click closes it
// sooner), then the main window until it is closed or Exit is chosen.

class QApplication;

namespace vekmrk {

int runFrontEnd(QApplication& app);

} // namespace vekmrk
