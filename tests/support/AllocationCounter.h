#pragma once

// Counts the operator new calls of the whole test program between StartCounting and
// StopCounting, to show that a steady audio path allocates nothing. Linking this in
// replaces the program's global operator new.
void StartCountingAllocations();
// Stops counting and returns the count since StartCountingAllocations.
long StopCountingAllocations();
