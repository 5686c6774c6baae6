#include "uninstall/Leftovers.h"

// Placeholder until the leftover removal is built: it removes nothing yet.
void RemoveLeftovers(const char *, const char *, const char *) {}
