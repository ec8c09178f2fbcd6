#pragma once

// Prints the terminal front end's help on standard output, laid out for the
// terminal it goes to.
void printHelp();
