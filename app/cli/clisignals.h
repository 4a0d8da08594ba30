// Ctrl+C, SIGTERM and SIGHUP cancel a running batch the way the progress
// dialog's Cancel does: through the batch's cancel flag.
#ifndef KORVANE_CLISIGNALS_H
#define KORVANE_CLISIGNALS_H

class ConvertCancelFlag;

// From now on SIGINT, SIGTERM and SIGHUP set flag (the workers see it at
// their next check); the signal's default action comes back at once, so a
// second one ends the process. SIGPIPE is ignored: a closed output is seen
// as a failed write instead.
void CancelOnSignals(ConvertCancelFlag* flag);

// The signal that canceled the batch, or 0.
int CancelSignal();

#endif
