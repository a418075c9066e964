#include "LevelReload.h"

// Requests are not served yet: the current level stays.
void RequestLevelReload(Viewer&, const std::string&) {}

void ServiceLevelReload(Viewer&) {}
