#pragma once

// Stops the service "Spooler" and starts it again, pausing 500 ms after each.
void RestartSpooler();
