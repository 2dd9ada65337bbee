#pragma once

// Stops the service "Spooler" and starts it again, pausing 500 ms after each
// request and waiting, up to 30 s each time, for it to have stopped before
// the start and to run again after it.
void RestartSpooler();
