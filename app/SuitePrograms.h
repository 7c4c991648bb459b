// The suite's own programs, which must not run while their files are replaced.
#pragma once

// Asks every running suite program to close (three passes, half a second after each request); true when the ones
// whose files an update replaces are gone.
bool AskSuiteProgramsToClose();
