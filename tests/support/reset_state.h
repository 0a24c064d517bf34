// Test-only: puts the process-wide model state back to its start-up values
// so several runs can share one test process.
#ifndef TARVEL_RESET_STATE_H
#define TARVEL_RESET_STATE_H
void resetModelState();
#endif
