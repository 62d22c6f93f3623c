// CRZDIB2 members whose work is not built yet: the image cache. Each answers
// false (or does nothing) and changes nothing.

#include <kolvex/windows/dib.h>

bool CRZDIB2::CacheThis() const { return false; }
void CRZDIB2::UnCacheThis() const {}
bool CRZDIB2::LookupCache(const CDIBCacheInfo&) { return false; }
