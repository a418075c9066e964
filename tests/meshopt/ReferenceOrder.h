// A deliberately plain second implementation of the triangle order rules (linear searches everywhere, no
// incremental bookkeeping), against which the optimiser's output is compared.
#pragma once

#include <cstdint>
#include <vector>

std::vector<uint16_t> ReferenceOrder(const std::vector<uint16_t>& indices, int cacheSize, unsigned minStripLength);
