#pragma once

// Windows only: COM for the threads that use Core Audio.

// Joins the multithreaded apartment the first time a thread calls it; never leaves.
void EnsureComApartment();
