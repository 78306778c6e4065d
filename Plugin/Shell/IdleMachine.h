// The idle state machine (action 19): in server mode it runs the conversion server inside the
// first idle call and asks the host to quit once the server was halted; in batch mode it runs
// the batch steps and, when the batch is over, waits for the next job (a run started by a
// batch at launch) or asks the host to quit.
#pragma once

// Forgets the run decision and every state flag, as at library load.
void ResetIdleMachine();
