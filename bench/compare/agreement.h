// Each peer's bytes against ours, once per operation, on the first frame of
// its set. Where a peer is documented to compute exactly our bytes, a
// difference is reported as a mismatch.
#pragma once

#include "compare.h"

#include <string>
#include <vector>

namespace compare {

// Compares op's peers with ours on `source`, unless already done.
void CheckAgreementOnce(const Operation& op, const BenchDib& source);

// The lines of every check made, in the order of `ops`.
std::vector<std::string> AgreementLines(const Operations& ops);

}  // namespace compare
