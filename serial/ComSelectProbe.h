#pragma once
// The port probe of the "Select Port" dialog (ComSelectForm.h). Kept free of the GUI
// toolkit so that it builds and is tested with the rest of the serial stack.
//
// Threads: called on the GUI thread, like the dialog.

namespace orvi {

// Whether port n exists: a dispatcher without owner opens it with queues of 64 bytes
// and closes it again at once. A port that another program holds (the open is denied)
// exists too. n of 0 or below: false.
bool IsPortAvailable(int n);

} // namespace orvi
