#include "forms/PortSearch.h"
#include "platform/registry/PortMapRegistry.h"

// In a file of its own so that a search over another registry does not pull in the machine's.
PortSearch::PortSearch() : PortSearch(platform::RealRegistry()) {}
